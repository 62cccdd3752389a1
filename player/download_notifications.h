#pragma once
// How a download job reaches the viewer that shows the same device: the process-wide player
// registry maps a device address to the viewer that last started a session with it.

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

// What a viewer keeps of a download job: a counted reference, so that the job outlives the
// viewer's Cancel button, and the Cancel itself. The download job implements it.
class IDownloadJob {
public:
    virtual void AddRef() = 0;
    virtual void Release() = 0;
    virtual void Cancel() = 0;

protected:
    ~IDownloadJob() = default;
};

// Called by download jobs from their own threads. address is the job's device address as
// inet_addr gives it (INADDR_NONE for a host name). Addresses without a viewer are ignored.
// The viewer found takes its own reference to job (and drops the one it held before).
void NotifyDownloadState(uint32_t address, DownloadState state, CodecKind codec, IDownloadJob* job);
void NotifyDownloadProgress(uint32_t address, int64_t bytes);

}  // namespace fluxmere
