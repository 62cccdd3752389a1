#include "download/block_queue.h"

namespace fluxmere {

BlockQueue::BlockQueue(uint8_t* store)
    : freeCount_(kCapacity, kCapacity),
      filledCount_(0, kCapacity),
      finished_(true, false),
      aborted_(true, false) {
    for (int i = 0; i < kCapacity; ++i)
        blocks_[i].data = store + int64_t{i} * kBlockSize;
}

DownloadBlock* BlockQueue::AcquireBlock(uint32_t timeoutMs) {
    // A free block wins over the abort: data already received is kept while there is room;
    // only the wait for room ends.
    if (platform::WaitForEither(freeCount_, aborted_, timeoutMs) != 0)
        return nullptr;
    // Blocks are used and given back in ring order, so a free count means this slot is free.
    DownloadBlock* block = &blocks_[writeCount_ % kCapacity];
    block->size = 0;
    block->last = false;
    return block;
}

void BlockQueue::CommitBlock() {
    ++writeCount_;
    filledCount_.Release(1);
}

void BlockQueue::Finish() {
    finished_.Set();
}

void BlockQueue::Abort() {
    aborted_.Set();
}

DownloadBlock* BlockQueue::TakeBlock(uint32_t timeoutMs) {
    // A committed block wins over the end, so every block is taken before the end is seen.
    if (platform::WaitForEither(filledCount_, finished_, timeoutMs) != 0)
        return nullptr;
    return &blocks_[readCount_++ % kCapacity];
}

void BlockQueue::ReturnBlock() {
    freeCount_.Release(1);
}

}  // namespace fluxmere
