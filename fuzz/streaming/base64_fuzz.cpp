// Base64 of the stream description and the server port of a SETUP reply, on any text. The text
// and the output are heap blocks of exactly their sizes. Input: one byte that sets the output's
// room, then the text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "streaming/rtsp_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using fluxmere::CRTSPClient;
    if (size < 1 || size > 65536)
        return 0;
    const int32_t room = data[0] * 4;
    const int32_t length = static_cast<int32_t>(size - 1);
    std::unique_ptr<char[]> text(new char[size - 1 + 1]);
    std::memcpy(text.get(), data + 1, size - 1);

    const int32_t needed = CRTSPClient::DecodedBase64Size(text.get(), length);
    std::unique_ptr<uint8_t[]> output(new uint8_t[room > 0 ? room : 1]);
    const int32_t written = CRTSPClient::DecodeBase64(text.get(), output.get(), length, room);
    if (written < 0 || written > room || written > needed)
        std::abort();
    if (needed <= room && written != needed)
        std::abort();  // with room enough, everything announced is written

    // The same text decoded with room for all of it starts with the same bytes.
    std::unique_ptr<uint8_t[]> all(new uint8_t[needed > 0 ? needed : 1]);
    if (CRTSPClient::DecodeBase64(text.get(), all.get(), length, needed) != needed ||
        std::memcmp(all.get(), output.get(), static_cast<size_t>(written)) != 0)
        std::abort();

    int32_t port = -1;
    CRTSPClient::FindServerPort(text.get(), length, &port);
    return 0;
}
