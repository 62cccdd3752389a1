#include "download/job_buffers.h"

#include <new>

namespace fluxmere {

JobBuffers::JobBuffers()
    : chunkA_(new (std::nothrow) uint8_t[kChunkBufferSize]),
      chunkB_(new (std::nothrow) uint8_t[kChunkBufferSize]),
      store_(new (std::nothrow) uint8_t[BlockQueue::kStoreSize]) {
    if (store_ != nullptr)
        queue_.reset(new (std::nothrow) BlockQueue(store_.get()));
}

uint8_t* JobBuffers::OtherChunkBuffer(const uint8_t* data) {
    const bool inA = data >= chunkA_.get() && data < chunkA_.get() + kChunkBufferSize;
    return inA ? chunkB_.get() : chunkA_.get();
}

}  // namespace fluxmere
