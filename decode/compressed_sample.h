#pragma once
// The unit of compressed data: what a decoder is handed, and the record of each block in a
// download job's queue (which also marks the last block of a body).

#include <cstdint>

namespace fluxmere {

class CCompressedSample {
public:
    virtual ~CCompressedSample() = default;

    uint8_t* data = nullptr;  // not owned
    int32_t size = 0;         // bytes of data in use (a decoder reads no further)
    int32_t lastBlock = 0;    // -1 on the final block of a download body, else 0
};

}  // namespace fluxmere
