#pragma once
// The memory of one download job, made once with the job: the two buffers of its chunk receiver,
// used alternately, and the block queue with its store of 24 blocks. Nothing is allocated while
// the body comes in.

#include <cstdint>
#include <memory>

#include "download/block_queue.h"

namespace fluxmere {

class JobBuffers {
public:
    // A chunk, its size line and the receiver's next read must fit one buffer.
    static constexpr int32_t kChunkBufferSize = 524288;

    JobBuffers();
    JobBuffers(const JobBuffers&) = delete;
    JobBuffers& operator=(const JobBuffers&) = delete;

    // False when memory ran out: the job cannot run.
    bool Ready() const { return chunkA_ != nullptr && chunkB_ != nullptr && queue_ != nullptr; }

    uint8_t* FirstChunkBuffer() { return chunkA_.get(); }
    // The receive buffer other than the one data lies in.
    uint8_t* OtherChunkBuffer(const uint8_t* data);
    BlockQueue& Queue() { return *queue_; }

private:
    std::unique_ptr<uint8_t[]> chunkA_;
    std::unique_ptr<uint8_t[]> chunkB_;
    std::unique_ptr<uint8_t[]> store_;
    std::unique_ptr<BlockQueue> queue_;
};

}  // namespace fluxmere
