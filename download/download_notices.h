#pragma once
// What a download job tells the outside about itself: its state, codec and progress, reported to
// an IDownloadNotices. In the product that is the player registry, which passes them on to the
// viewer showing the same device; the download part itself knows no viewer.

#include <cstdint>

namespace fluxmere {

enum class DownloadState : int32_t {
    Initializing = 0,
    AwaitingStart = 1,
    InProgress = 2,
    Transcoding = 3,
    TranscodingFailed = 4,
    Failed = 5,
    Complete = 6,
};

enum class CodecKind : int32_t {
    Unknown = 0,
    DV = 1,
    DVCPRO = 2,
    IMX30 = 3,
    IMX40 = 4,
    IMX50 = 5,
    MPEG2I = 6,
};

// The codec's name, as the download manager window and the viewer's download panel show it;
// nullptr for a value outside the enumeration.
inline const char* CodecName(CodecKind codec) {
    static const char* const kNames[] = {"Unknown", "DV",    "DVCPRO", "IMX30",
                                         "IMX40",   "IMX50", "MPEG2-I"};
    const auto index = static_cast<uint32_t>(codec);
    return index < sizeof(kNames) / sizeof(kNames[0]) ? kNames[index] : nullptr;
}

// What a receiver of the notices keeps of a download job: a counted reference, so that the job
// outlives a viewer's Cancel button, and the Cancel itself. The download job implements it.
class IDownloadJob {
public:
    virtual void AddRef() = 0;
    virtual void Release() = 0;
    virtual void Cancel() = 0;

protected:
    ~IDownloadJob() = default;
};

// Called by download jobs from their own threads. address is the job's device address as
// inet_addr gives it (INADDR_NONE for a host name). A receiver that keeps job takes its own
// reference to it.
class IDownloadNotices {
public:
    virtual void OnDownloadState(uint32_t address, DownloadState state, CodecKind codec,
                                 IDownloadJob* job) = 0;
    virtual void OnDownloadProgress(uint32_t address, int64_t bytes) = 0;

protected:
    ~IDownloadNotices() = default;
};

}  // namespace fluxmere
