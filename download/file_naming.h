#pragma once
// The name of a new .kelo file: the first of NAME.kelo, NAME_1.kelo, NAME_2.kelo, ... that does
// not exist in the download folder yet.

#include <cstddef>

#include "platform/file.h"

namespace fluxmere {

// folderWithSeparator ends with the path separator. On success fileName receives the chosen
// name ("clip01_2.kelo") and fullPath the folder followed by it; both fit capacity bytes with
// their NUL. False when a candidate does not fit (the search never skips to a shorter name), and
// then the outputs are empty.
bool ChooseFreeFileName(const char* folderWithSeparator, const char* baseName, char* fileName,
                        char* fullPath, size_t capacity);

// Chooses a free name and creates the file as one step for every job of this process, so that two
// jobs of the same clip never pick the same name.
bool CreateFreeFile(const char* folderWithSeparator, const char* baseName, char* fileName,
                    char* fullPath, size_t capacity, platform::File* file);

}  // namespace fluxmere
