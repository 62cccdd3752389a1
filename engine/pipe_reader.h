#pragma once
// The engine's side of the hand-off: the shared memory that holds one block of the clip, the
// event the download job sets when a block (or the end mark) is there, and the event the engine
// sets when it has taken the block.

#include <cstdint>

#include "engine/job_request.h"
#include "platform/win32/named_objects.h"

namespace fluxmere::engine {

class PipeReader {
public:
    enum class Next { Block, End, Timeout, Broken };

    // Opens the two events and the memory the request names (the memory's name is the pipe path
    // without its leading brace). False when any of them does not exist.
    bool Open(const JobRequest& request);

    // Waits up to timeoutMs for the next block. Block: data and count give it until Taken is
    // called. End: the clip is complete. Broken: the count is larger than a block.
    Next Wait(uint32_t timeoutMs, const uint8_t** data, uint32_t* count);
    // The block may be replaced now.
    void Taken();

private:
    platform::NamedEvent ready_;
    platform::NamedEvent taken_;
    platform::SharedMemory memory_;
};

}  // namespace fluxmere::engine
