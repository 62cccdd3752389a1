#pragma once
// Turns a recorded clip into DVCPRO25 or D-10 (IMX) pictures with eight channels of 48000 Hz
// sound (the clip's two, then six silent ones), in a QuickTime movie or an MXF file, as the
// clip's bytes arrive. Every picture goes through the picture pipeline (decode, scale to
// 720 x 576, video levels) and the codec's encoder; the sound is put beside the pictures in units
// of one picture's time. Nothing is allocated per picture.
//
// The pictures are stored as 25 per second, the rate of the 625-line formats written here.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "transcode/clip_conversion.h"
#include "transcode/clip_reader.h"
#include "transcode/edit_unit_queue.h"
#include "transcode/movie_sink.h"
#include "transcode/mxf_writer.h"
#include "transcode/output_choice.h"
#include "transcode/picture_pipeline.h"
#include "transcode/quicktime_writer.h"

namespace fluxmere::transcode {

class ClipTranscoder final : public IClipConversion, private IClipConsumer {
public:
    // choice.codec must not be MotionJpeg. identity and timestamp go into an MXF file's header.
    ClipTranscoder(IMovieSink* sink, const OutputChoice& choice, EncoderFactory encoders,
                   uint64_t identity = 0, uint64_t timestamp = 0);

    bool Feed(const uint8_t* data, size_t size) override;
    ConvertResult Finish() override;

    uint32_t pictures() const override;
    uint64_t durationMs() const override;
    uint64_t clipBytes() const override { return reader_.bytesFed(); }
    uint64_t clipBytesUsed() const override { return reader_.bytesDone(); }

private:
    bool OnStreamHeader(const CKelo& stream) override;
    bool OnBlock(const CKeloMediaFrame& header, const uint8_t* payload, uint32_t size) override;
    // Writes the units whose sound is complete; with force, every held unit.
    bool Drain(bool force);
    bool WriteUnit(const uint8_t* picture, const int16_t* stereo);

    IMovieSink* sink_;
    OutputChoice choice_;
    EncoderFactory encoders_;
    uint64_t identity_;
    uint64_t timestamp_;
    ClipReader reader_;
    PicturePipeline pipeline_;
    std::unique_ptr<IPictureEncoder> encoder_;
    EditUnitQueue queue_;
    MxfWriter mxf_;
    QuickTimeWriter movie_;
    std::unique_ptr<uint8_t[]> movieSound_;  // one unit of eight-channel big-endian sound
    bool started_ = false;
    bool writeFailed_ = false;
};

}  // namespace fluxmere::transcode
