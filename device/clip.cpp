#include "device/clip.h"

// Portable on purpose: Windows tests compile this file to regenerate the clips that the native
// device sends, so everything here is integer arithmetic or exactly representable.

#include <algorithm>
#include <cstring>

#include "container/kelo.h"
#include "container/kelo_writer.h"
#include "device/picture_loop.h"
#include "device/test_pattern.h"

namespace fluxmere::device {
namespace {

constexpr uint32_t kClipVersion = 3;

uint64_t SplitMix64(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t SeedFor(const std::string& name, uint32_t seed) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a of the name, then the seed mixed in
    for (unsigned char c : name) {
        h = (h ^ c) * 1099511628211ull;
    }
    return h ^ (uint64_t{seed} << 32 | seed);
}

std::vector<uint8_t> ClipStreamHeader(const std::string& name) {
    CKelo stream;
    stream.version = kClipVersion;
    CKeloTrack video;
    video.mediaKind = kKindVideo;
    video.codecCode = kCodecMjpa;
    video.width = kClipPictureWidth;
    video.height = kClipPictureHeight;
    video.videoDouble = 25.0;
    CKeloTrack audio;
    audio.mediaKind = kKindAudio;
    audio.codecCode = kCodecP16S;
    audio.audioWordA = 48000;
    audio.audioWordB = 2;
    audio.audioWordC = 16;
    stream.tracks = {video, audio};
    stream.parameters.Append(
        CKeloParameter("name", 4, name.data(), static_cast<uint32_t>(name.size())));
    std::vector<uint8_t> header(StreamHeaderSize(stream));
    WriteStreamHeader(stream, header.data(), header.size());
    return header;
}

CKeloMediaFrame ClipFrameHeader(bool video, uint32_t index) {
    CKeloMediaFrame frame(kClipVersion);
    frame.mediaKind = video ? kKindVideo : kKindAudio;
    frame.codecCode = video ? kCodecMjpa : kCodecP16S;
    frame.frameWord = index;
    frame.frameDoubleA = index;  // exact in any floating-point unit
    if (!video) {
        frame.frameAudioWordA = 48000;
        frame.frameAudioWordB = 2;
    }
    return frame;
}

}  // namespace

ClipSource::ClipSource(const std::string& name, uint64_t size, uint32_t seed)
    : remaining_(size), name_(name) {
    uint64_t random = SeedFor(name, seed);
    firstPicture_ = static_cast<uint32_t>(SplitMix64(random) % kLoopPictures);
    firstToneFrame_ = SplitMix64(random) % kSampleRate;
}

void ClipSource::NextPiece() {
    pieceOffset_ = 0;
    if (!headerDone_) {
        headerDone_ = true;
        piece_ = ClipStreamHeader(name_);
        return;
    }
    const bool video = blockIndex_ % 2 == 0;
    const uint32_t frame = blockIndex_ / 2;
    CKeloMediaFrame header = ClipFrameHeader(video, frame);
    ++blockIndex_;
    const uint64_t overhead = BlockSize(header, 0);
    const std::vector<uint8_t>& picture = LoopPicture(firstPicture_ + frame);
    const uint64_t sound = kToneSampleFrames * 4;
    uint64_t payload = video ? picture.size() : sound;
    // The clip ends with a picture that takes all that is left: when after this picture and its
    // sound there would be no room for the whole next picture, this picture's block grows to the
    // end (its payload padded with zeros). Every picture of a clip is thus whole, except in clips
    // too small for the first one; any remainder smaller than a block header (only possible in
    // clips smaller than a stream header and one block) is filled with zeros.
    if (remaining_ < overhead) {
        piece_.assign(remaining_, 0);
        return;
    }
    if (video) {
        const uint64_t next = LoopPicture(firstPicture_ + frame + 1).size();
        if (remaining_ < 3 * overhead + payload + sound + next) {
            payload = remaining_ - overhead;
        }
    } else if (remaining_ < overhead + payload) {
        payload = remaining_ - overhead;
    }
    // The block is written in place: length, header, then the payload behind it.
    header.payloadSize = static_cast<uint32_t>(payload);
    piece_.resize(overhead + payload);
    const size_t headerSize = overhead - 4;
    StoreBE32(piece_.data(), static_cast<uint32_t>(headerSize));
    WriteMediaFrameHeader(header, piece_.data() + 4, headerSize);
    uint8_t* data = piece_.data() + overhead;
    if (video) {
        const size_t copied = std::min<size_t>(payload, picture.size());
        std::memcpy(data, picture.data(), copied);
        std::memset(data + copied, 0, payload - copied);
    } else {
        RenderTone(firstToneFrame_ + uint64_t{frame} * kToneSampleFrames, data, payload / 4);
        std::memset(data + payload / 4 * 4, 0, payload % 4);
    }
}

size_t ClipSource::Read(uint8_t* out, size_t n) {
    size_t done = 0;
    while (done < n && remaining_ > 0) {
        if (pieceOffset_ == piece_.size()) {
            NextPiece();
        }
        size_t take = std::min<uint64_t>({n - done, piece_.size() - pieceOffset_, remaining_});
        std::memcpy(out + done, piece_.data() + pieceOffset_, take);
        pieceOffset_ += take;
        remaining_ -= take;
        done += take;
    }
    return done;
}

std::vector<uint8_t> GenerateClip(const std::string& name, uint64_t size, uint32_t seed) {
    std::vector<uint8_t> clip(size);
    ClipSource source(name, size, seed);
    size_t got = source.Read(clip.data(), clip.size());
    clip.resize(got);
    return clip;
}

uint32_t ChunkSizer::Next() {
    if (state_ == 0) {
        state_ = 1;
    }
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return 32 * 1024 + state_ % (168 * 1024 + 1);
}

}  // namespace fluxmere::device
