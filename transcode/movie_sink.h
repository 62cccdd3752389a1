#pragma once
// Where a movie's bytes go: appended one after the other, with one late correction (the size of
// the media data, known only at the end).

#include <cstddef>
#include <cstdint>

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

// A movie written to a file that the caller has created.
class FileMovieSink final : public IMovieSink {
public:
    explicit FileMovieSink(platform::File* file) : file_(file) {}

    bool Append(const void* data, size_t size) override {
        return file_->Write(data, static_cast<int64_t>(size)) == static_cast<int64_t>(size);
    }
    bool Overwrite(uint64_t offset, const void* data, size_t size) override {
        return file_->WriteAt(static_cast<int64_t>(offset), data, static_cast<int64_t>(size));
    }

private:
    platform::File* file_;
};

}  // namespace fluxmere::transcode
