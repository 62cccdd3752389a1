#pragma once
// What a viewer shows, and the texts of its status screens and download panel.

#include <cstddef>
#include <cstdint>

namespace fluxmere {

enum class PlayerStatus : int32_t {
    Playing = 0,
    NotConnected = 1,
    Connecting = 2,
    CannotConnect = 3,
    InUseByOtherUser = 4,
    Downloading = 5,
};

// The status screen's text; nullptr for Playing, Downloading (they show a picture or the panel)
// and unknown values (background only).
const char* StatusText(int32_t status);

// The download panel's lines; nullptr for values without a text (the line stays empty).
const char* DownloadStateText(int32_t state);
const char* CodecKindText(int32_t codec);

// The panel's size line: whole MiB of bytes ("%d MB" of the low 32 bits of the quotient).
void FormatDownloadSize(int64_t bytes, char* text, size_t size);

}  // namespace fluxmere
