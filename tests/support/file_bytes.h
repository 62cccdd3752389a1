#pragma once
// Reading a whole file or a folder's names back in a test, the same way on every platform.

#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace fluxmere::testing {

// The file's bytes; empty when it cannot be opened.
inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    std::fclose(file);
    return bytes;
}

// The names in a folder, without "." and ".."; empty when it cannot be read.
inline std::set<std::string> FolderNames(const std::string& folder) {
    std::set<std::string> names;
    DIR* dir = opendir(folder.c_str());
    while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.insert(name);
    }
    if (dir != nullptr)
        closedir(dir);
    return names;
}

}  // namespace fluxmere::testing
