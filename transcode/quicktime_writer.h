#pragma once
// Writes a QuickTime movie (.mov) with one video track of compressed pictures (Motion-JPEG A,
// DVCPRO, D-10: whatever the sample description type names) and one track of uncompressed 16-bit
// big-endian PCM of any number of channels, as the pictures and sound arrive: the media data goes
// out at once, and only the index (sizes and file offsets) is kept, in tables that grow by
// doubling. Finish appends the movie header ("moov") behind the data and fixes the data's size.
//
// Layout: "ftyp" (qt), "mdat" with a 64-bit size, the samples in arrival order (each picture a
// chunk of its own, each block of sound a chunk), then "moov". Offsets are 64-bit ("co64"), so
// movies beyond 4 GiB need nothing special.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "transcode/movie_sink.h"

namespace fluxmere::transcode {

struct MovieFormat {
    uint32_t width = 0;
    uint32_t height = 0;
    char videoCodec[4] = {'m', 'j', 'p', 'a'};     // sample description type of the pictures
    const char* compressorName = "Motion JPEG A";  // at most 31 characters
    uint32_t videoTimeScale = 25;                  // time units per second of the video track
    uint32_t frameDuration = 1;                    // time units per picture
    uint32_t sampleRate = 48000;
    uint16_t channels = 2;
};

// One piece of a picture; a picture may be handed over as several (headers, data, end marker).
struct BytePiece {
    const void* data;
    size_t size;
};

class QuickTimeWriter {
public:
    // Writes the file type and the start of the media data. False when the sink fails or the
    // format is unusable (no size, no time scale, no sample rate or channels).
    bool Begin(IMovieSink* sink, const MovieFormat& format);

    // One picture, the concatenation of the pieces.
    bool AddPicture(const BytePiece* pieces, int count);
    // Interleaved 16-bit big-endian samples, `sampleFrames` frames of `channels` samples.
    bool AddSound(const uint8_t* samples, uint32_t sampleFrames);

    // Appends the movie header and fixes the media data size. The movie is playable only after
    // it returned true.
    bool Finish();

    uint32_t pictures() const { return static_cast<uint32_t>(pictureSizes_.size()); }
    uint64_t soundFrames() const { return soundFrames_; }
    uint64_t bytesWritten() const { return position_; }
    // Milliseconds of the longer track.
    uint64_t DurationMs() const;

private:
    bool Put(const void* data, size_t size);
    void BuildMovieHeader(std::vector<uint8_t>* out) const;

    IMovieSink* sink_ = nullptr;
    MovieFormat format_;
    bool failed_ = true;
    uint64_t position_ = 0;
    uint64_t mediaDataStart_ = 0;  // offset of the "mdat" atom
    std::vector<uint32_t> pictureSizes_;
    std::vector<uint64_t> pictureOffsets_;
    std::vector<uint64_t> soundOffsets_;  // each block of sound is one chunk
    std::vector<uint32_t> soundChunkFrames_;
    uint64_t soundFrames_ = 0;
};

}  // namespace fluxmere::transcode
