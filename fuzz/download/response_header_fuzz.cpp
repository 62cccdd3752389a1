// The download's HTTP response header reader, its "not ready" test and the clip-name rule, on
// any reply a device could send. The reader gets the bytes one read at a time and must stop at
// the header's end without taking a byte of the body; the clip name must be a plain file name.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "download/download_url.h"
#include "download/response_header.h"

namespace {

class Bytes : public fluxmere::IByteSource {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    int Read(uint8_t* buffer, int length) override {
        if (offset_ >= size_ || length <= 0)
            return 0;
        buffer[0] = data_[offset_++];
        return 1;
    }
    size_t offset() const { return offset_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

bool IsWindowsDeviceName(const char* name) {
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL"};
    const size_t length = std::strlen(name);
    char upper[5] = {};
    if (length > 4)
        return false;
    for (size_t i = 0; i < length; ++i)
        upper[i] = (name[i] >= 'a' && name[i] <= 'z') ? static_cast<char>(name[i] - 32) : name[i];
    for (const char* device : kNames) {
        if (std::strcmp(upper, device) == 0)
            return true;
    }
    return length == 4 &&
           (std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fluxmere;
    Bytes source(data, size);
    ResponseHeader header;
    ReadResponseHeader(source, &header);
    if (header.length >= kHeaderBufferSize || header.text[header.length] != '\0' ||
        header.length != source.offset())
        std::abort();
    IsUsableHeader(header);
    const int status = ResponseStatus(header);
    if (status < 0 || status > 999)
        std::abort();
    IsChunkedResponse(header);

    char baseName[kTextBufferSize] = "Fluxmere";
    if (TakeBaseNameFromHeader(header.text, baseName, sizeof baseName)) {
        const size_t length = std::strlen(baseName);
        if (length == 0 || length >= sizeof baseName || baseName[length - 1] == ' ' ||
            IsWindowsDeviceName(baseName))
            std::abort();
        for (size_t i = 0; i < length; ++i) {
            const unsigned char c = static_cast<unsigned char>(baseName[i]);
            if (c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|.", c) != nullptr)
                std::abort();
        }
    } else if (std::strcmp(baseName, "Fluxmere") != 0) {
        std::abort();  // a refused name leaves the default alone
    }
    return 0;
}
