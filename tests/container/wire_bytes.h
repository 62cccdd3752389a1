#pragma once
// Builds wire bytes by hand, independently of the container writers, so that the parser tests
// do not merely check the writers against themselves.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace fluxmere::testing {

class WireBytes {
public:
    WireBytes& U8(uint8_t v) {
        bytes.push_back(v);
        return *this;
    }
    WireBytes& BE32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<uint8_t>(v >> shift));
        }
        return *this;
    }
    WireBytes& BE64(uint64_t v) {
        return BE32(static_cast<uint32_t>(v >> 32)).BE32(static_cast<uint32_t>(v));
    }
    WireBytes& F32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        return BE32(bits);
    }
    WireBytes& F64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        return BE64(bits);
    }
    WireBytes& Text(const std::string& s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    WireBytes& Zeros(size_t n) {
        bytes.insert(bytes.end(), n, 0);
        return *this;
    }
    WireBytes& Append(const WireBytes& other) {
        bytes.insert(bytes.end(), other.bytes.begin(), other.bytes.end());
        return *this;
    }
    // A parameter list of (key, value) pairs.
    WireBytes& Params(const std::vector<std::pair<std::string, std::string>>& pairs) {
        BE32(static_cast<uint32_t>(pairs.size()));
        for (const auto& [k, v] : pairs) {
            BE32(static_cast<uint32_t>(k.size()))
                .Text(k)
                .BE32(static_cast<uint32_t>(v.size()))
                .Text(v);
        }
        return *this;
    }
    size_t size() const { return bytes.size(); }
    const uint8_t* data() const { return bytes.data(); }

    std::vector<uint8_t> bytes;
};

}  // namespace fluxmere::testing
