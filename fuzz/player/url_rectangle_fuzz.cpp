// The page's texts: the stream URL of SetURL and the "x1,y1,x2,y2" of SetRectangle. The text is
// a heap block of exactly its length plus the NUL. A URL that is taken must give a host and
// path without control characters (they would forge RTSP request lines).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "player/rectangle_text.h"
#include "player/stream_url.h"

namespace {

void CheckPart(const char* part) {
    const size_t length = strnlen(part, fluxmere::kUrlPartCapacity);
    if (length >= static_cast<size_t>(fluxmere::kUrlPartCapacity))
        std::abort();
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(part[i]);
        if (c < 0x20)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fluxmere;
    if (size > 4096)
        return 0;
    std::unique_ptr<char[]> text(new char[size + 1]);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';

    StreamUrl url;
    if (ParseStreamUrl(text.get(), &url)) {
        CheckPart(url.host);
        CheckPart(url.path);
        HostAddress(url);
    }
    TextRectangle rectangle;
    ParseRectangleText(text.get(), &rectangle);
    return 0;
}
