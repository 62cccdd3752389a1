#pragma once
// Turns a recorded clip into a QuickTime movie as the clip's bytes arrive: every "mjpa" picture
// becomes a standard Motion-JPEG (format A) picture, every "p16S" block of sound goes in as
// 16-bit big-endian PCM. Used by the command-line tool on a whole file and by the transcoding
// engine on a file that is still being downloaded.

#include <cstddef>
#include <cstdint>

#include "transcode/clip_conversion.h"
#include "transcode/clip_reader.h"
#include "transcode/jpeg_frame_header.h"
#include "transcode/quicktime_writer.h"

namespace fluxmere::transcode {

class ClipConverter final : public IClipConversion, private IClipConsumer {
public:
    // The movie goes to sink, which sees its first byte only once the clip's stream header was
    // read and accepted.
    explicit ClipConverter(IMovieSink* sink) : sink_(sink), reader_(this) {}

    // The next bytes of the clip. False once the conversion cannot go on (see Finish).
    bool Feed(const uint8_t* data, size_t size) override;
    // Ends the clip: finishes the movie when one was started and says how the clip ended.
    ConvertResult Finish() override;

    uint32_t pictures() const override { return writer_.pictures(); }
    uint64_t soundFrames() const { return writer_.soundFrames(); }
    uint64_t durationMs() const override { return writer_.DurationMs(); }
    uint64_t clipBytes() const override { return reader_.bytesFed(); }
    uint64_t clipBytesUsed() const override { return reader_.bytesDone(); }

private:
    bool OnStreamHeader(const CKelo& stream) override;
    bool OnBlock(const CKeloMediaFrame& header, const uint8_t* payload, uint32_t size) override;

    IMovieSink* sink_;
    ClipReader reader_;
    QuickTimeWriter writer_;
    JpegFrameHeader pictureHeader_;
    uint32_t bytesPerSoundFrame_ = 4;
    bool started_ = false;
    bool writeFailed_ = false;
};

}  // namespace fluxmere::transcode
