#pragma once
// Reading a whole file back in a test, the same way on every platform.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fluxmere::testing {

// The file's bytes; empty when it cannot be opened.
inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    std::fclose(file);
    return bytes;
}

}  // namespace fluxmere::testing
