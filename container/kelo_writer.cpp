#include "container/kelo_writer.h"

#include <cstring>

namespace fluxmere {
namespace {

// Writes into a range whose size the caller has already checked.
class Writer {
public:
    explicit Writer(uint8_t* out) : out_(out) {}
    size_t position() const { return position_; }

    void Bytes(const void* data, size_t n) {
        if (n != 0) {
            std::memcpy(out_ + position_, data, n);
        }
        position_ += n;
    }
    void Zeros(size_t n) {
        std::memset(out_ + position_, 0, n);
        position_ += n;
    }
    void U8(uint32_t v) { out_[position_++] = static_cast<uint8_t>(v); }
    void BE32(uint32_t v) {
        StoreBE32(out_ + position_, v);
        position_ += 4;
    }
    void BE64(uint64_t v) {
        BE32(static_cast<uint32_t>(v >> 32));
        BE32(static_cast<uint32_t>(v));
    }
    void F32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        BE32(bits);
    }
    void F64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        BE64(bits);
    }
    void Code(const FourCC& code) { Bytes(code.bytes, 4); }
    void List(const CKeloParameterList& list) {
        BE32(static_cast<uint32_t>(list.size()));
        for (const CKeloParameter& p : list) {
            BE32(static_cast<uint32_t>(p.key.size()));
            Bytes(p.key.data(), p.key.size());
            BE32(static_cast<uint32_t>(p.value.size()));
            Bytes(p.value.data(), p.value.size());
        }
    }

private:
    uint8_t* out_;
    size_t position_ = 0;
};

size_t TrackSize(const CKeloTrack& track, uint32_t version) {
    size_t size = kTrackCodesSize;
    if (track.mediaKind == kKindVideo) {
        size += kTrackVideoPartSize;
    } else if (track.mediaKind == kKindAudio) {
        size += kTrackAudioPartSize;
    }
    if (version > 1) {
        size += ParameterListSize(track.parameters);
    }
    return size;
}

}  // namespace

size_t ParameterListSize(const CKeloParameterList& list) {
    size_t size = 4;
    for (const CKeloParameter& p : list) {
        size += 8 + p.key.size() + p.value.size();
    }
    return size;
}

size_t StreamHeaderSize(const CKelo& stream) {
    size_t size = 5;
    for (const CKeloTrack& track : stream.tracks) {
        size += TrackSize(track, stream.version);
    }
    if (stream.version > 2) {
        size += ParameterListSize(stream.parameters);
    }
    return size;
}

size_t MediaFrameHeaderSize(const CKeloMediaFrame& frame) {
    size_t size = kFrameHeaderBaseSize;
    if (frame.version > 1) {
        size += ParameterListSize(frame.parameters);
    }
    if (frame.mediaKind == kKindVideo || frame.mediaKind == kKindAudio) {
        size += 8;
    }
    return size;
}

size_t WriteStreamHeader(const CKelo& stream, uint8_t* out, size_t capacity) {
    size_t size = StreamHeaderSize(stream);
    if (out == nullptr || stream.tracks.size() > 255 || size > capacity) {
        return 0;
    }
    Writer w(out);
    w.BE32(stream.version);
    w.U8(static_cast<uint32_t>(stream.tracks.size()));
    for (const CKeloTrack& t : stream.tracks) {
        w.Code(t.mediaKind);
        w.Code(t.codecCode);
        if (t.mediaKind == kKindVideo) {
            w.BE32(t.width);
            w.BE32(t.height);
            w.F32(t.videoSingleA);
            w.F32(t.videoSingleB);
            w.F64(t.videoDouble);
            w.BE32(t.videoWord);
        } else if (t.mediaKind == kKindAudio) {
            w.BE32(t.audioWordA);
            w.BE32(t.audioWordB);
            w.BE32(t.audioWordC);
            w.F64(t.audioDouble);
        }
        if (stream.version > 1) {
            w.List(t.parameters);
        }
    }
    if (stream.version > 2) {
        w.List(stream.parameters);
    }
    return w.position();
}

namespace {

void WriteFrameHeader(Writer& w, const CKeloMediaFrame& f, uint32_t payloadSize) {
    w.U8(f.leadByte);
    w.Code(f.mediaKind);
    w.Code(f.codecCode);
    w.BE32(f.frameWord);
    w.F64(f.frameDoubleA);
    w.F64(f.frameDoubleB);
    w.F64(f.frameDoubleC);
    if (f.version > 1) {
        w.List(f.parameters);
    }
    w.BE32(payloadSize);
    if (f.mediaKind == kKindVideo) {
        w.Bytes(f.frameVideoTag, 4);
        w.BE32(f.frameVideoWord);
    } else if (f.mediaKind == kKindAudio) {
        w.BE32(f.frameAudioWordA);
        w.BE32(f.frameAudioWordB);
    }
}

}  // namespace

size_t WriteMediaFrameHeader(const CKeloMediaFrame& frame, uint8_t* out, size_t capacity) {
    size_t size = MediaFrameHeaderSize(frame);
    if (out == nullptr || size > capacity) {
        return 0;
    }
    Writer w(out);
    WriteFrameHeader(w, frame, frame.payloadSize);
    return w.position();
}

size_t BlockSize(const CKeloMediaFrame& header, uint32_t payloadLength, uint32_t headerPadding) {
    return 4 + MediaFrameHeaderSize(header) + headerPadding + payloadLength;
}

size_t WriteBlock(const CKeloMediaFrame& header, const uint8_t* payload, uint32_t payloadLength,
                  uint8_t* out, size_t capacity, uint32_t headerPadding) {
    size_t headerSize = MediaFrameHeaderSize(header) + headerPadding;
    if (out == nullptr || (payload == nullptr && payloadLength != 0) || headerSize > 0xFFFFFFFFu ||
        BlockSize(header, payloadLength, headerPadding) > capacity) {
        return 0;
    }
    Writer w(out);
    w.BE32(static_cast<uint32_t>(headerSize));
    WriteFrameHeader(w, header, payloadLength);
    w.Zeros(headerPadding);
    w.Bytes(payload, payloadLength);
    return w.position();
}

}  // namespace fluxmere
