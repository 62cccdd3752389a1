#include "container/kelo.h"

#include <cstring>
#include <utility>

#include "container/kelo_writer.h"

namespace fluxmere {
namespace {

// Reads big-endian fields from a range of known length. Once a read would pass the end, the
// reader fails and every further read yields zeros; callers check ok() at the end of a record.
class BoundedReader {
public:
    BoundedReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }
    size_t position() const { return position_; }
    size_t remaining() const { return ok_ ? size_ - position_ : 0; }

    const uint8_t* Take(size_t n) {
        if (!ok_ || n > size_ - position_) {
            ok_ = false;
            return nullptr;
        }
        const uint8_t* p = data_ + position_;
        position_ += n;
        return p;
    }
    uint8_t U8() {
        const uint8_t* p = Take(1);
        return p ? p[0] : 0;
    }
    uint32_t BE32() {
        const uint8_t* p = Take(4);
        return p ? LoadBE32(p) : 0;
    }
    uint64_t BE64() {
        const uint8_t* p = Take(8);
        return p ? (uint64_t{LoadBE32(p)} << 32) | LoadBE32(p + 4) : 0;
    }
    float F32() {
        uint32_t bits = BE32();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    double F64() {
        uint64_t bits = BE64();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    FourCC Code() {
        FourCC code{};
        if (const uint8_t* p = Take(4)) {
            std::memcpy(code.bytes, p, 4);
        }
        return code;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    bool ok_ = true;
};

// A parameter record is at least 8 bytes, so a count larger than the bytes left / 8 cannot be
// honest; refusing it up front keeps a hostile count from growing the list at all.
bool ReadParameterList(BoundedReader& reader, CKeloParameterList& list) {
    list.Clear();
    uint32_t count = reader.BE32();
    if (!reader.ok() || count > reader.remaining() / 8) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t keyLength = reader.BE32();
        const uint8_t* key = reader.Take(keyLength);
        uint32_t valueLength = reader.BE32();
        const uint8_t* value = reader.Take(valueLength);
        if (!reader.ok()) {
            list.Clear();
            return false;
        }
        list.AppendSlot().Assign(key, keyLength, value, valueLength);
    }
    return true;
}

}  // namespace

CKeloParameter::CKeloParameter(const void* keyBytes, uint32_t keySize, const void* valueBytes,
                               uint32_t valueSize) {
    Assign(static_cast<const uint8_t*>(keyBytes), keySize, static_cast<const uint8_t*>(valueBytes),
           valueSize);
}

void CKeloParameter::Assign(const uint8_t* keyBytes, uint32_t keySize, const uint8_t* valueBytes,
                            uint32_t valueSize) {
    key.assign(keyBytes, keyBytes + keySize);
    value.assign(valueBytes, valueBytes + valueSize);
    keyLength = keySize;
    valueLength = valueSize;
}

CKeloParameter& CKeloParameterList::AppendSlot() {
    if (count_ == items_.size()) {
        items_.emplace_back();
    }
    return items_[count_++];
}

bool operator==(const CKeloParameterList& a, const CKeloParameterList& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].key != b[i].key || a[i].value != b[i].value) {
            return false;
        }
    }
    return true;
}

void CKeloMediaFrame::ClearFields() {
    leadByte = 0;
    mediaKind = FourCC{};
    codecCode = FourCC{};
    frameWord = 0;
    frameDoubleA = frameDoubleB = frameDoubleC = 0;
    payloadSize = 0;
    std::memset(frameVideoTag, 0, sizeof frameVideoTag);
    frameVideoWord = frameAudioWordA = frameAudioWordB = 0;
    parameters.Clear();
    bytesRead_ = 0;
}

bool CKeloMediaFrame::ParseHeader(const uint8_t* header, size_t available,
                                  uint32_t* payloadSizeOut) {
    ClearFields();
    if (header == nullptr) {
        return false;
    }
    BoundedReader reader(header, available);
    leadByte = reader.U8();
    mediaKind = reader.Code();
    codecCode = reader.Code();
    frameWord = reader.BE32();
    frameDoubleA = reader.F64();
    frameDoubleB = reader.F64();
    frameDoubleC = reader.F64();
    bool listOk = version <= 1 || ReadParameterList(reader, parameters);
    payloadSize = reader.BE32();
    if (mediaKind == kKindVideo) {
        if (const uint8_t* tag = reader.Take(4)) {
            std::memcpy(frameVideoTag, tag, 4);
        }
        frameVideoWord = reader.BE32();
    } else if (mediaKind == kKindAudio) {
        frameAudioWordA = reader.BE32();
        frameAudioWordB = reader.BE32();
    }
    if (!listOk || !reader.ok()) {
        ClearFields();
        return false;
    }
    bytesRead_ = reader.position();
    if (payloadSizeOut != nullptr) {
        *payloadSizeOut = payloadSize;
    }
    return true;
}

bool CKelo::ParseHeader(const uint8_t* header, size_t available) {
    tracks.clear();
    parameters.Clear();
    bytesRead_ = 0;
    if (header == nullptr) {
        version = 2;
        return false;
    }
    BoundedReader reader(header, available);
    version = reader.BE32();
    unsigned trackCount = reader.U8();
    bool ok = reader.ok();
    for (unsigned i = 0; ok && i < trackCount; ++i) {
        CKeloTrack track;
        track.mediaKind = reader.Code();
        track.codecCode = reader.Code();
        if (track.mediaKind == kKindVideo) {
            track.width = reader.BE32();
            track.height = reader.BE32();
            track.videoSingleA = reader.F32();
            track.videoSingleB = reader.F32();
            track.videoDouble = reader.F64();
            track.videoWord = reader.BE32();
        } else if (track.mediaKind == kKindAudio) {
            track.audioWordA = reader.BE32();
            track.audioWordB = reader.BE32();
            track.audioWordC = reader.BE32();
            track.audioDouble = reader.F64();
        }
        if (version > 1) {
            ok = ReadParameterList(reader, track.parameters);
        }
        ok = ok && reader.ok();
        if (ok) {
            tracks.push_back(std::move(track));
        }
    }
    if (ok && version > 2) {
        ok = ReadParameterList(reader, parameters);
    }
    if (!ok || !reader.ok()) {
        tracks.clear();
        parameters.Clear();
        version = 2;
        return false;
    }
    bytesRead_ = reader.position();
    return true;
}

}  // namespace fluxmere
