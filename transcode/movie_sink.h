#pragma once
// Where a movie's bytes go: appended one after the other, with one late correction (the size of
// the media data, known only at the end).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "platform/file.h"

namespace fluxmere::transcode {

class IMovieSink {
public:
    virtual bool Append(const void* data, size_t size) = 0;
    // Replaces bytes already appended at offset.
    virtual bool Overwrite(uint64_t offset, const void* data, size_t size) = 0;

protected:
    ~IMovieSink() = default;
};

// A movie written to a file that the caller has created, through a buffer of its own, so that the
// many small pieces of a movie (picture headers, end markers) cost no system call each. Overwrite
// writes the buffer out first; so does Flush, which the owner calls before closing the file when
// the movie's last call was an Append.
class FileMovieSink final : public IMovieSink {
public:
    static constexpr size_t kBufferSize = 1 << 20;

    explicit FileMovieSink(platform::File* file)
        : file_(file), buffer_(new (std::nothrow) uint8_t[kBufferSize]) {}
    FileMovieSink(const FileMovieSink&) = delete;
    FileMovieSink& operator=(const FileMovieSink&) = delete;

    bool Append(const void* data, size_t size) override {
        if (buffer_ == nullptr) {
            return WriteOut(data, size);
        }
        if (size > kBufferSize - held_ && !Flush()) {
            return false;
        }
        if (size >= kBufferSize) {
            return WriteOut(data, size);
        }
        std::memcpy(buffer_.get() + held_, data, size);
        held_ += size;
        return true;
    }
    bool Overwrite(uint64_t offset, const void* data, size_t size) override {
        return Flush() &&
               file_->WriteAt(static_cast<int64_t>(offset), data, static_cast<int64_t>(size));
    }
    bool Flush() {
        const size_t held = held_;
        held_ = 0;
        return held == 0 || WriteOut(buffer_.get(), held);
    }

private:
    bool WriteOut(const void* data, size_t size) {
        return file_->Write(data, static_cast<int64_t>(size)) == static_cast<int64_t>(size);
    }

    platform::File* file_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t held_ = 0;
};

}  // namespace fluxmere::transcode
