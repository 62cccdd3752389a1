#include "player/player_status.h"

#include <cstdio>

#include "download/download_notices.h"

namespace fluxmere {

const char* StatusText(int32_t status) {
    switch (static_cast<PlayerStatus>(status)) {
        case PlayerStatus::NotConnected:
            return "Not connected";
        case PlayerStatus::Connecting:
            return "Connecting";
        case PlayerStatus::CannotConnect:
            return "Cannot connect";
        case PlayerStatus::InUseByOtherUser:
            return "In use by other user";
        default:
            return nullptr;
    }
}

const char* DownloadStateText(int32_t state) {
    static const char* const kTexts[] = {"Initializing", "Awaiting start",     "In progress",
                                         "Transcoding",  "Transcoding Failed", "Failed",
                                         "Complete"};
    if (state < 0 || state >= static_cast<int32_t>(sizeof kTexts / sizeof kTexts[0])) {
        return nullptr;
    }
    return kTexts[state];
}

const char* CodecKindText(int32_t codec) {
    return CodecName(static_cast<CodecKind>(codec));
}

void FormatDownloadSize(int64_t bytes, char* text, size_t size) {
    if (text == nullptr || size == 0)
        return;
    const int64_t mib = bytes / 1048576;  // truncating, like the panel always did
    std::snprintf(text, size, "%d MB", static_cast<int32_t>(static_cast<uint32_t>(mib)));
}

}  // namespace fluxmere
