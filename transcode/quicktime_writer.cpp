#include "transcode/quicktime_writer.h"

#include <cstring>

#include "transcode/big_endian_appender.h"

namespace fluxmere::transcode {
namespace {

constexpr uint32_t kMovieTimeScale = 1000;  // the movie header counts milliseconds

// Builds nested atoms in a byte vector; each atom's size is filled in when it is closed.
class AtomWriter : public BigEndianAppender {
public:
    using BigEndianAppender::BigEndianAppender;

    void Open(const char type[4]) {
        PushStart(out_->size());
        U32(0);
        Bytes(type, 4);
    }
    void Close() {
        const size_t start = PopStart();
        const uint32_t size = static_cast<uint32_t>(out_->size() - start);
        for (int i = 0; i < 4; ++i) {
            (*out_)[start + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
        }
    }
    // Version and flags of a "full" atom.
    void FullHeader(uint8_t version, uint32_t flags) { U32(uint32_t{version} << 24 | flags); }

    // A Pascal string (length byte, then the text) in a field of `field` bytes, or unpadded.
    void PascalString(const char* text, size_t field = 0) {
        const size_t n = std::strlen(text);
        U8(static_cast<uint8_t>(n));
        Bytes(text, n);
        if (field > n + 1) {
            Zeros(field - n - 1);
        }
    }
    void UnityMatrix() {
        const uint32_t m[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
        for (uint32_t v : m) {
            U32(v);
        }
    }
};

uint32_t Clamp32(uint64_t v) {
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

uint64_t ScaleTime(uint64_t units, uint32_t from, uint32_t to) {
    return from == 0 ? 0 : units / from * to + units % from * to / from;
}

void TrackHeader(AtomWriter& w, uint32_t id, uint64_t durationMs, bool sound, uint32_t width,
                 uint32_t height) {
    w.Open("tkhd");
    w.FullHeader(0, 0x0F);  // enabled, in movie, in preview, in poster
    w.U32(0);               // creation time
    w.U32(0);               // modification time
    w.U32(id);
    w.U32(0);
    w.U32(Clamp32(durationMs));
    w.Zeros(8);
    w.U16(0);  // layer
    w.U16(0);  // alternate group
    w.U16(sound ? 0x0100 : 0);
    w.U16(0);
    w.UnityMatrix();
    w.U32(width << 16);
    w.U32(height << 16);
    w.Close();
}

void MediaHeader(AtomWriter& w, uint32_t timeScale, uint64_t duration) {
    w.Open("mdhd");
    w.FullHeader(0, 0);
    w.U32(0);
    w.U32(0);
    w.U32(timeScale);
    w.U32(Clamp32(duration));
    w.U16(0);  // language
    w.U16(0);  // quality
    w.Close();
}

void Handler(AtomWriter& w, const char componentType[4], const char subtype[4], const char* name) {
    w.Open("hdlr");
    w.FullHeader(0, 0);
    w.Bytes(componentType, 4);
    w.Bytes(subtype, 4);
    w.U32(0);  // manufacturer
    w.U32(0);  // flags
    w.U32(0);  // flags mask
    w.PascalString(name);
    w.Close();
}

// The data lives in this file: one self-referencing alias.
void DataInformation(AtomWriter& w) {
    Handler(w, "dhlr", "alis", "DataHandler");
    w.Open("dinf");
    w.Open("dref");
    w.FullHeader(0, 0);
    w.U32(1);
    w.Open("alis");
    w.FullHeader(0, 1);
    w.Close();
    w.Close();
    w.Close();
}

void TimeToSample(AtomWriter& w, uint64_t count, uint32_t delta) {
    w.Open("stts");
    w.FullHeader(0, 0);
    w.U32(count == 0 ? 0 : 1);
    if (count != 0) {
        w.U32(Clamp32(count));
        w.U32(delta);
    }
    w.Close();
}

// A track's atoms down to its media information: track header, media header, handler.
void OpenTrack(AtomWriter& w, uint32_t id, uint32_t timeScale, uint64_t duration,
               const char subtype[4], uint32_t width, uint32_t height) {
    const bool sound = std::memcmp(subtype, "soun", 4) == 0;
    w.Open("trak");
    TrackHeader(w, id, ScaleTime(duration, timeScale, kMovieTimeScale), sound, width, height);
    w.Open("mdia");
    MediaHeader(w, timeScale, duration);
    Handler(w, "mhlr", subtype, sound ? "SoundHandler" : "VideoHandler");
    w.Open("minf");
}

// Closes the sample table, media information, media and track.
void CloseTrack(AtomWriter& w) {
    for (int i = 0; i < 4; ++i) {
        w.Close();
    }
}

void ChunkOffsets(AtomWriter& w, const std::vector<uint64_t>& offsets) {
    w.Open("co64");
    w.FullHeader(0, 0);
    w.U32(Clamp32(offsets.size()));
    for (uint64_t offset : offsets) {
        w.U64(offset);
    }
    w.Close();
}

}  // namespace

bool QuickTimeWriter::Put(const void* data, size_t size) {
    if (failed_ || !sink_->Append(data, size)) {
        failed_ = true;
        return false;
    }
    position_ += size;
    return true;
}

bool QuickTimeWriter::Begin(IMovieSink* sink, const MovieFormat& format) {
    sink_ = sink;
    format_ = format;
    position_ = 0;
    pictureSizes_.clear();
    pictureOffsets_.clear();
    soundOffsets_.clear();
    soundChunkFrames_.clear();
    soundFrames_ = 0;
    failed_ = sink == nullptr || format.width == 0 || format.height == 0 || format.width > 0xFFFF ||
              format.height > 0xFFFF || format.videoTimeScale == 0 || format.frameDuration == 0 ||
              format.sampleRate == 0 || format.sampleRate > 0xFFFF || format.channels == 0 ||
              format.compressorName == nullptr || std::strlen(format.compressorName) > 31;
    if (failed_) {
        return false;
    }
    std::vector<uint8_t> head;
    AtomWriter w(&head);
    w.Open("ftyp");
    w.Bytes("qt  ", 4);
    w.U32(0x20050300);
    w.Bytes("qt  ", 4);
    w.Close();
    mediaDataStart_ = head.size();
    w.U32(1);  // the real size follows as 64 bits
    w.Bytes("mdat", 4);
    w.U64(0);
    return Put(head.data(), head.size());
}

bool QuickTimeWriter::AddPicture(const BytePiece* pieces, int count) {
    if (failed_) {
        return false;
    }
    const uint64_t offset = position_;
    for (int i = 0; i < count; ++i) {
        if (!Put(pieces[i].data, pieces[i].size)) {
            return false;
        }
    }
    const uint64_t size = position_ - offset;
    if (size > 0xFFFFFFFFu) {
        failed_ = true;
        return false;
    }
    pictureOffsets_.push_back(offset);
    pictureSizes_.push_back(static_cast<uint32_t>(size));
    return true;
}

bool QuickTimeWriter::AddSound(const uint8_t* samples, uint32_t sampleFrames) {
    if (failed_) {
        return false;
    }
    if (sampleFrames == 0) {
        return true;
    }
    const uint64_t offset = position_;
    if (!Put(samples, size_t{sampleFrames} * 2 * format_.channels)) {
        return false;
    }
    soundOffsets_.push_back(offset);
    soundChunkFrames_.push_back(sampleFrames);
    soundFrames_ += sampleFrames;
    return true;
}

uint64_t QuickTimeWriter::DurationMs() const {
    const uint64_t video = ScaleTime(uint64_t{pictures()} * format_.frameDuration,
                                     format_.videoTimeScale, kMovieTimeScale);
    const uint64_t sound = ScaleTime(soundFrames_, format_.sampleRate, kMovieTimeScale);
    return video > sound ? video : sound;
}

void QuickTimeWriter::BuildMovieHeader(std::vector<uint8_t>* out) const {
    const bool hasSound = !soundOffsets_.empty();
    const uint64_t pictureCount = pictureSizes_.size();
    AtomWriter w(out);
    w.Open("moov");

    w.Open("mvhd");
    w.FullHeader(0, 0);
    w.U32(0);
    w.U32(0);
    w.U32(kMovieTimeScale);
    w.U32(Clamp32(DurationMs()));
    w.U32(0x00010000);  // preferred rate 1.0
    w.U16(0x0100);      // preferred volume 1.0
    w.Zeros(10);
    w.UnityMatrix();
    w.Zeros(6 * 4);           // preview, poster, selection and current times
    w.U32(hasSound ? 3 : 2);  // next track id
    w.Close();

    // Video track.
    const uint64_t videoUnits = pictureCount * format_.frameDuration;
    OpenTrack(w, 1, format_.videoTimeScale, videoUnits, "vide", format_.width, format_.height);
    w.Open("vmhd");
    w.FullHeader(0, 1);
    w.U16(0x40);  // graphics mode: dither copy
    w.U16(0x8000);
    w.U16(0x8000);
    w.U16(0x8000);
    w.Close();
    DataInformation(w);
    w.Open("stbl");
    w.Open("stsd");
    w.FullHeader(0, 0);
    w.U32(1);
    w.Open(format_.videoCodec);
    w.Zeros(6);
    w.U16(1);    // data reference index
    w.U16(0);    // version
    w.U16(0);    // revision
    w.U32(0);    // vendor
    w.U32(0);    // temporal quality
    w.U32(512);  // spatial quality: normal
    w.U16(static_cast<uint16_t>(format_.width));
    w.U16(static_cast<uint16_t>(format_.height));
    w.U32(0x00480000);  // 72 dpi
    w.U32(0x00480000);
    w.U32(0);  // data size
    w.U16(1);  // frames per sample
    w.PascalString(format_.compressorName, 32);
    w.U16(24);      // depth
    w.U16(0xFFFF);  // no colour table
    w.Close();
    w.Close();
    TimeToSample(w, pictureCount, format_.frameDuration);
    w.Open("stsc");
    w.FullHeader(0, 0);
    w.U32(pictureCount == 0 ? 0 : 1);
    if (pictureCount != 0) {
        w.U32(1);  // from the first chunk on
        w.U32(1);  // one picture per chunk
        w.U32(1);  // sample description
    }
    w.Close();
    w.Open("stsz");
    w.FullHeader(0, 0);
    w.U32(0);
    w.U32(Clamp32(pictureCount));
    for (uint32_t size : pictureSizes_) {
        w.U32(size);
    }
    w.Close();
    ChunkOffsets(w, pictureOffsets_);
    CloseTrack(w);

    if (hasSound) {
        OpenTrack(w, 2, format_.sampleRate, soundFrames_, "soun", 0, 0);
        w.Open("smhd");
        w.FullHeader(0, 0);
        w.U16(0);  // balance
        w.U16(0);
        w.Close();
        DataInformation(w);
        w.Open("stbl");
        w.Open("stsd");
        w.FullHeader(0, 0);
        w.U32(1);
        w.Open("twos");  // signed 16-bit big-endian
        w.Zeros(6);
        w.U16(1);
        w.U16(0);  // version 0 sound description
        w.U16(0);
        w.U32(0);
        w.U16(format_.channels);
        w.U16(16);
        w.U16(0);  // compression id
        w.U16(0);  // packet size
        w.U32(format_.sampleRate << 16);
        w.Close();
        w.Close();
        TimeToSample(w, soundFrames_, 1);
        // Chunks of sound vary in length: one entry per run of equal lengths.
        w.Open("stsc");
        w.FullHeader(0, 0);
        const size_t countAt = out->size();
        w.U32(0);
        uint32_t entries = 0;
        uint32_t previous = 0;
        for (size_t i = 0; i < soundChunkFrames_.size(); ++i) {
            if (soundChunkFrames_[i] != previous) {
                previous = soundChunkFrames_[i];
                w.U32(static_cast<uint32_t>(i + 1));
                w.U32(previous);
                w.U32(1);
                ++entries;
            }
        }
        for (int i = 0; i < 4; ++i) {
            (*out)[countAt + i] = static_cast<uint8_t>(entries >> (24 - 8 * i));
        }
        w.Close();
        w.Open("stsz");
        w.FullHeader(0, 0);
        w.U32(1);  // uncompressed sound: one "sample" per sample frame
        w.U32(Clamp32(soundFrames_));
        w.Close();
        ChunkOffsets(w, soundOffsets_);
        CloseTrack(w);
    }
    w.Close();  // moov
}

bool QuickTimeWriter::Finish() {
    if (failed_) {
        return false;
    }
    const uint64_t mediaDataSize = position_ - mediaDataStart_;
    std::vector<uint8_t> header;
    header.reserve(1024 + pictureSizes_.size() * 12 + soundOffsets_.size() * 20);
    BuildMovieHeader(&header);
    if (!Put(header.data(), header.size())) {
        return false;
    }
    uint8_t size[8];
    for (int i = 0; i < 8; ++i) {
        size[i] = static_cast<uint8_t>(mediaDataSize >> (56 - 8 * i));
    }
    if (!sink_->Overwrite(mediaDataStart_ + 8, size, sizeof size)) {
        failed_ = true;
        return false;
    }
    failed_ = true;  // a finished movie takes nothing more
    return true;
}

}  // namespace fluxmere::transcode
