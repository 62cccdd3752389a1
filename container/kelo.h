#pragma once
// The kelo container model: the stream header that arrives once per session inside the stream
// description, and the media frame header that leads every video and audio block.
//
// All numbers on the wire are big-endian. The parsers are bounded: each takes the number of bytes
// that are really available and refuses (returns false) a record that would run past them, before
// it allocates anything for it. A count read from the wire is checked against the bytes left, so a
// hostile count never allocates more than the record itself could hold.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fluxmere {

// Four bytes compared as stored, never byte-swapped.
struct FourCC {
    uint8_t bytes[4];

    friend bool operator==(const FourCC& a, const FourCC& b) {
        return a.bytes[0] == b.bytes[0] && a.bytes[1] == b.bytes[1] && a.bytes[2] == b.bytes[2] &&
               a.bytes[3] == b.bytes[3];
    }
    friend bool operator!=(const FourCC& a, const FourCC& b) { return !(a == b); }
};

constexpr FourCC kKindVideo{{'v', 'i', 'd', 'e'}};
constexpr FourCC kKindAudio{{'a', 'u', 'd', 'i'}};
constexpr FourCC kCodecMjpa{{'m', 'j', 'p', 'a'}};
constexpr FourCC kCodecP16S{{'p', '1', '6', 'S'}};

// Byte sizes of the fixed parts of the records.
constexpr size_t kTrackCodesSize = 8;         // mediaKind + codecCode
constexpr size_t kTrackVideoPartSize = 28;    // width .. videoWord
constexpr size_t kTrackAudioPartSize = 20;    // audioWordA .. audioDouble
constexpr size_t kFrameFixedPartSize = 37;    // leadByte .. frameDoubleC
constexpr size_t kFrameHeaderBaseSize = 41;   // fixed part + payloadSize, any other kind, no list
constexpr size_t kFrameHeaderAvSize = 49;     // video or audio, no parameter list
constexpr size_t kStreamDescriptionLead = 8;  // uninterpreted bytes before the stream header

// One key/value pair. Keys and values are uninterpreted bytes without terminator; either may be
// empty. keyLength and valueLength always equal key.size() and value.size().
class CKeloParameter {
public:
    CKeloParameter() = default;
    CKeloParameter(const void* keyBytes, uint32_t keySize, const void* valueBytes,
                   uint32_t valueSize);
    virtual ~CKeloParameter() = default;
    CKeloParameter(const CKeloParameter&) = default;
    CKeloParameter& operator=(const CKeloParameter&) = default;

    // Replaces key and value, reusing the buffers' capacity.
    void Assign(const uint8_t* keyBytes, uint32_t keySize, const uint8_t* valueBytes,
                uint32_t valueSize);

    uint32_t keyLength = 0;
    uint32_t valueLength = 0;
    std::vector<uint8_t> key;
    std::vector<uint8_t> value;
};

// An ordered list of parameters that keeps the storage of removed elements, so that parsing one
// media frame header after another does not allocate once the list has grown to its usual size.
class CKeloParameterList {
public:
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const CKeloParameter& operator[](size_t i) const { return items_[i]; }
    CKeloParameter& operator[](size_t i) { return items_[i]; }
    const CKeloParameter* begin() const { return items_.data(); }
    const CKeloParameter* end() const { return items_.data() + count_; }

    void Clear() { count_ = 0; }
    // Appends after the last element and returns it (its previous bytes are to be replaced).
    CKeloParameter& AppendSlot();
    void Append(const CKeloParameter& parameter) { AppendSlot() = parameter; }

    // Compares the elements in use only.
    friend bool operator==(const CKeloParameterList& a, const CKeloParameterList& b);

private:
    std::vector<CKeloParameter> items_;
    size_t count_ = 0;
};

class CKeloTrack {
public:
    CKeloTrack() = default;
    virtual ~CKeloTrack() = default;
    CKeloTrack(const CKeloTrack&) = default;  // duplicates the parameter list
    CKeloTrack& operator=(const CKeloTrack&) = default;

    FourCC mediaKind{};
    FourCC codecCode{};
    uint32_t width = 0;
    uint32_t height = 0;
    float videoSingleA = 0;
    float videoSingleB = 0;
    double videoDouble = 0;
    uint32_t videoWord = 0;
    uint32_t audioWordA = 0;
    uint32_t audioWordB = 0;
    uint32_t audioWordC = 0;
    double audioDouble = 0;
    CKeloParameterList parameters;
};

class CKeloMediaFrame {
public:
    explicit CKeloMediaFrame(uint32_t version = 2) : version(version) {}
    virtual ~CKeloMediaFrame() = default;
    CKeloMediaFrame(const CKeloMediaFrame&) = default;
    CKeloMediaFrame& operator=(const CKeloMediaFrame&) = default;

    // Reads a media frame header (the byte after a block's length field) of which `available`
    // bytes may be read; for a block that is its header length L. The frame parameter list is read
    // when `version` is 2 or more. On success stores payloadSize through the optional out-pointer
    // and returns true. A header that runs past `available`, or a null header, is refused: the
    // fields are zero, the list is empty, `version` is kept and the out-value is left as it was.
    bool ParseHeader(const uint8_t* header, size_t available, uint32_t* payloadSizeOut);

    // Bytes the last successful ParseHeader read. Callers locate the payload with the block's
    // header length L, never with this.
    size_t bytesRead() const { return bytesRead_; }

    uint32_t leadByte = 0;
    FourCC mediaKind{};
    FourCC codecCode{};
    uint32_t frameWord = 0;
    double frameDoubleA = 0;
    double frameDoubleB = 0;
    double frameDoubleC = 0;
    uint32_t payloadSize = 0;
    uint8_t frameVideoTag[4] = {};
    uint32_t frameVideoWord = 0;
    uint32_t frameAudioWordA = 0;
    uint32_t frameAudioWordB = 0;
    CKeloParameterList parameters;
    uint32_t version;  // set by the caller to the stream's version; parsing never changes it

private:
    void ClearFields();
    size_t bytesRead_ = 0;
};

class CKelo {
public:
    CKelo() = default;
    virtual ~CKelo() = default;

    // Reads a stream header (byte 8 of the stream description) of which `available` bytes may be
    // read, replacing the previous tracks and stream parameters. Returns false for a null header
    // or one that runs past `available`; the object then holds no tracks and no parameters and
    // `version` is 2 again.
    bool ParseHeader(const uint8_t* header, size_t available);

    // Bytes the last successful ParseHeader read.
    size_t bytesRead() const { return bytesRead_; }

    uint32_t version = 2;
    std::vector<CKeloTrack> tracks;
    std::vector<CKeloMediaFrame> mediaFrames;  // kept for the model; nothing fills it
    CKeloParameterList parameters;

private:
    size_t bytesRead_ = 0;
};

}  // namespace fluxmere
