#pragma once
// The recorded clips the device exports. A clip is a kelo file: a stream header (version 3, a
// "vide"/"mjpa" track of 352 x 288 pictures at 25 per second and an "audi"/"p16S" track of
// 48000 Hz stereo, the clip's name as a stream parameter) followed by alternating video and audio
// blocks: real pictures of the moving test pattern (picture_loop.h) and the tone, each from a
// point that name and seed choose. The last picture's block is sized so that the clip is exactly
// the requested length. The bytes depend only on (name, size, seed), so a test can regenerate the
// clip and compare a stored file with it byte for byte.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fluxmere::device {

// Produces a clip front to back in pieces, without holding it whole.
class ClipSource {
public:
    ClipSource(const std::string& name, uint64_t size, uint32_t seed);

    // Copies the next bytes (at most n) to out; returns how many, 0 at the end of the clip.
    size_t Read(uint8_t* out, size_t n);
    uint64_t remaining() const { return remaining_; }

private:
    void NextPiece();

    uint64_t remaining_;           // clip bytes not yet handed out
    uint32_t firstPicture_ = 0;    // where in the picture loop the clip starts
    uint64_t firstToneFrame_ = 0;  // and where in the tone
    uint32_t blockIndex_ = 0;
    std::vector<uint8_t> piece_;  // the stream header, then one block at a time
    size_t pieceOffset_ = 0;
    bool headerDone_ = false;
    std::string name_;
};

// The whole clip at once.
std::vector<uint8_t> GenerateClip(const std::string& name, uint64_t size, uint32_t seed);

// Sizes of the chunks of an export body: between 32 KiB and 200 KiB, varying, from the seed.
class ChunkSizer {
public:
    explicit ChunkSizer(uint32_t seed) : state_(seed * 2654435761u + 12345u) {}
    uint32_t Next();

private:
    uint32_t state_;
};

}  // namespace fluxmere::device
