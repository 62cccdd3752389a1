#pragma once
// The queue of 512 KiB blocks between a job's fetch thread (the only producer) and its writer
// thread (the only consumer), over one store of 24 blocks made by the job.
//
// A block is in use from AcquireBlock until the writer hands it back with ReturnBlock, so a block
// that is still being written is never filled again. When all 24 are in use (the disk is slower
// than the network) AcquireBlock waits; no byte is dropped and the order never changes.
//
#include <cstdint>

#include "platform/sync.h"

namespace fluxmere {

// One block of a body on its way to the file.
struct DownloadBlock {
    uint8_t* data = nullptr;  // its BlockQueue::kBlockSize bytes inside the queue's store
    int32_t size = 0;         // bytes filled
    bool last = false;        // the final block of the body
};

class BlockQueue {
public:
    static constexpr int kCapacity = 24;
    static constexpr int32_t kBlockSize = 524288;
    static constexpr int64_t kStoreSize = int64_t{kCapacity} * kBlockSize;

    // store holds kStoreSize bytes and outlives the queue.
    explicit BlockQueue(uint8_t* store);
    BlockQueue(const BlockQueue&) = delete;
    BlockQueue& operator=(const BlockQueue&) = delete;

    // Producer: the next block to fill (size 0, not last), waiting up to timeoutMs for one
    // to be free. None on time-out, or when none is free once Abort was called.
    DownloadBlock* AcquireBlock(uint32_t timeoutMs);
    // Producer: hands the acquired block to the consumer.
    void CommitBlock();
    // Producer: no block will be committed any more.
    void Finish();
    // Any thread: a producer waiting in AcquireBlock, now or later, gets none.
    void Abort();

    // Consumer: the oldest committed block, waiting up to timeoutMs. None on time-out, or when
    // Finish was called and every committed block has been taken.
    DownloadBlock* TakeBlock(uint32_t timeoutMs);
    // Consumer: the block taken last is written and may be filled again.
    void ReturnBlock();

private:
    DownloadBlock blocks_[kCapacity];
    uint32_t writeCount_ = 0;  // blocks committed; touched by the producer only
    uint32_t readCount_ = 0;   // blocks taken; touched by the consumer only
    platform::Semaphore freeCount_;
    platform::Semaphore filledCount_;
    platform::Event finished_;
    platform::Event aborted_;
};

}  // namespace fluxmere
