#include "engine/pipe_reader.h"

#include "transcode/transfer_layout.h"

namespace fluxmere::engine {

bool PipeReader::Open(const JobRequest& request) {
    if (request.pipePath.size() < 2) {
        return false;
    }
    return ready_.Open(request.readyEvent.c_str()) && taken_.Open(request.takenEvent.c_str()) &&
           memory_.Open(request.pipePath.c_str() + 1, transcode::kTransferMappingSize);
}

PipeReader::Next PipeReader::Wait(uint32_t timeoutMs, const uint8_t** data, uint32_t* count) {
    const platform::WaitResult waited = ready_.Wait(timeoutMs);
    if (waited == platform::WaitResult::Timeout) {
        return Next::Timeout;
    }
    if (waited != platform::WaitResult::Signaled) {
        return Next::Broken;
    }
    // The job never resets this event: the reader does, before it says it took the block, so
    // that the next block's signal is a new one.
    ready_.Reset();
    const uint8_t* memory = static_cast<const uint8_t*>(memory_.data());
    *count = transcode::LoadTransferCount(memory);
    *data = memory;
    if (*count == 0) {
        return Next::End;
    }
    return *count <= transcode::kTransferBlockSize ? Next::Block : Next::Broken;
}

void PipeReader::Taken() {
    taken_.Set();
}

}  // namespace fluxmere::engine
