// The download URL reader on any URL a page could hand the browser: the cut into command, host
// and codec, the host's address and the request built from it. The URL is a heap block of
// exactly its length plus the NUL; the request buffer has the job's 260 bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "download/download_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fluxmere;
    if (size > 4096)
        return 0;
    std::unique_ptr<char[]> url(new char[size + 1]);
    std::memcpy(url.get(), data, size);
    url[size] = '\0';
    const size_t length = std::strlen(url.get());

    DownloadUrlParts parts;
    if (!SplitDownloadUrl(url.get(), &parts))
        return 0;
    if (parts.commandOffset + kExportCommandLength > length ||
        std::memcmp(url.get() + parts.commandOffset, kExportCommand, kExportCommandLength) != 0 ||
        parts.hostOffset + parts.hostLength > parts.commandOffset)
        std::abort();
    if (static_cast<int>(parts.codec) < 0 || static_cast<int>(parts.codec) > 6)
        std::abort();

    uint32_t address = 0;
    DeviceAddressOfHost(url.get() + parts.hostOffset, parts.hostLength, &address);

    char request[kTextBufferSize];
    const size_t written =
        BuildExportRequest(url.get() + parts.commandOffset, request, sizeof request);
    if (written >= sizeof request || (written != 0 && std::strlen(request) != written))
        std::abort();

    char copy[kTextBufferSize];
    if (CopyText(url.get(), copy, sizeof copy) != (length < sizeof copy))
        std::abort();
    return 0;
}
