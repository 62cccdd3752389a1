#pragma once
// Writes an MXF file (operational pattern 1a, frame-wrapped, one picture track and one sound
// track of eight channels at 48000 Hz, 25 edit units per second) as the content packages arrive,
// for DV-based 25 Mbit/s (DVCPRO25) pictures or D-10 (IMX) pictures of 30, 40 or 50 Mbit/s.
//
// Layout, every partition and element aligned to 512 bytes (the KAG):
//   header partition (closed and complete once finished): primer pack and header metadata
//     (preface, identification, content storage, material package and file source package with
//     a timecode, a picture and a sound track each, the essence container data and descriptors)
//   body partition: the index table segment (constant edit unit size), then the content
//     packages: [D-10: system item] picture element, sound element
//   footer partition, random index pack.
// Every content package has the same size, so the index is a single segment. The header and the
// index are written again in place by Finish with the final durations: a file is complete and
// readable once Finish returned true, whatever number of packages it holds.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "transcode/movie_sink.h"

namespace fluxmere::transcode {

enum class MxfEssence { Dvcpro25, D10At30, D10At40, D10At50 };

struct MxfFormat {
    MxfEssence essence = MxfEssence::Dvcpro25;
    uint64_t identity = 0;   // makes the file's unique identifiers (UMIDs and instance ids)
    uint64_t timestamp = 0;  // creation time, as MxfTimestamp packs it; 0 for none
};

// A time as MXF stores it (year, month, day, hour, minute, second, milliseconds / 4).
uint64_t MxfTimestamp(int year, int month, int day, int hour, int minute, int second);

class MxfWriter {
public:
    static constexpr uint32_t kEditRate = 25;
    static constexpr uint32_t kSoundFramesPerUnit = 48000 / kEditRate;
    static constexpr uint32_t kSoundChannels = 8;
    static constexpr uint32_t kKag = 512;

    // Bytes of every picture of that essence (a DIF frame, or a D-10 picture at its rate).
    static uint32_t PictureBytes(MxfEssence essence);

    MxfWriter();
    ~MxfWriter();
    MxfWriter(const MxfWriter&) = delete;
    MxfWriter& operator=(const MxfWriter&) = delete;

    // Writes the header and body partitions. False when the sink fails.
    bool Begin(IMovieSink* sink, const MxfFormat& format);

    // One content package: PictureBytes() bytes of picture and kSoundFramesPerUnit frames of
    // interleaved stereo sound (16-bit samples); the other six channels are silent.
    bool AddEditUnit(const uint8_t* picture, const int16_t* stereo);

    // Writes the footer and random index pack and rewrites header and index with the final
    // durations. The file is readable only after it returned true.
    bool Finish();

    uint32_t pictures() const { return units_; }
    uint64_t soundFrames() const { return uint64_t{units_} * kSoundFramesPerUnit; }
    uint64_t DurationMs() const { return uint64_t{units_} * 1000 / kEditRate; }
    uint64_t bytesWritten() const { return position_; }
    // Bytes of one content package, fill included.
    uint64_t editUnitBytes() const { return editUnitBytes_; }

private:
    bool Put(const void* data, size_t size);
    bool PutFill(uint64_t end);  // KLV fill from position_ up to the KAG boundary at `end`
    void BuildHeaderPartition(std::vector<uint8_t>* out, bool closed) const;
    void BuildBodyPartition(std::vector<uint8_t>* out) const;
    void BuildSystemItem(std::vector<uint8_t>* out) const;
    void BuildSoundElement(const int16_t* stereo);

    IMovieSink* sink_ = nullptr;
    MxfFormat format_;
    bool d10_ = false;
    bool failed_ = true;
    uint64_t position_ = 0;
    uint64_t bodyPartition_ = 0;
    uint64_t footerPartition_ = 0;
    uint64_t editUnitBytes_ = 0;
    uint32_t units_ = 0;
    std::vector<uint8_t> scratch_;  // system item and sound element, reused
};

}  // namespace fluxmere::transcode
