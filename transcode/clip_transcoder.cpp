#include "transcode/clip_transcoder.h"

#include <new>

#include "transcode/clip_converter.h"

namespace fluxmere::transcode {
namespace {

MxfEssence EssenceOf(PictureCodec codec) {
    switch (codec) {
        case PictureCodec::Imx30:
            return MxfEssence::D10At30;
        case PictureCodec::Imx40:
            return MxfEssence::D10At40;
        case PictureCodec::Imx50:
            return MxfEssence::D10At50;
        default:
            return MxfEssence::Dvcpro25;
    }
}

// The movie's sample description: "dvpp" is DVCPRO (625 lines), "mxNp" D-10 at N0 Mbit/s, whose
// pictures carry the 32 lines above the picture (720 x 608 coded).
void DescribeMoviePictures(PictureCodec codec, MovieFormat* format) {
    const char* type = "dvpp";
    format->compressorName = "DVCPRO - PAL";
    format->height = 576;
    if (codec == PictureCodec::Imx30 || codec == PictureCodec::Imx40 ||
        codec == PictureCodec::Imx50) {
        type = codec == PictureCodec::Imx30   ? "mx3p"
               : codec == PictureCodec::Imx40 ? "mx4p"
                                              : "mx5p";
        format->compressorName = codec == PictureCodec::Imx30   ? "MPEG IMX PAL (30 Mb/s)"
                                 : codec == PictureCodec::Imx40 ? "MPEG IMX PAL (40 Mb/s)"
                                                                : "MPEG IMX PAL (50 Mb/s)";
        format->height = 608;
    }
    for (int i = 0; i < 4; ++i) {
        format->videoCodec[i] = type[i];
    }
    format->width = 720;
}

}  // namespace

std::unique_ptr<IClipConversion> MakeClipConversion(const OutputChoice& choice, IMovieSink* sink,
                                                    EncoderFactory encoders, uint64_t identity,
                                                    uint64_t timestamp) {
    if (!IsWritable(choice)) {
        return nullptr;
    }
    if (choice.codec == PictureCodec::MotionJpeg) {
        return std::unique_ptr<IClipConversion>(new (std::nothrow) ClipConverter(sink));
    }
    return std::unique_ptr<IClipConversion>(
        new (std::nothrow) ClipTranscoder(sink, choice, encoders, identity, timestamp));
}

ClipTranscoder::ClipTranscoder(IMovieSink* sink, const OutputChoice& choice,
                               EncoderFactory encoders, uint64_t identity, uint64_t timestamp)
    : sink_(sink),
      choice_(choice),
      encoders_(encoders),
      identity_(identity),
      timestamp_(timestamp),
      reader_(this) {}

uint32_t ClipTranscoder::pictures() const {
    return choice_.container == OutputContainer::Mxf ? mxf_.pictures() : movie_.pictures();
}

uint64_t ClipTranscoder::durationMs() const {
    return choice_.container == OutputContainer::Mxf ? mxf_.DurationMs() : movie_.DurationMs();
}

bool ClipTranscoder::OnStreamHeader(const CKelo& stream) {
    const CKeloTrack* video = nullptr;
    bool hasSound = false;
    for (const CKeloTrack& track : stream.tracks) {
        if (video == nullptr && track.mediaKind == kKindVideo && track.codecCode == kCodecMjpa) {
            video = &track;
        }
        hasSound = hasSound || (track.mediaKind == kKindAudio && track.codecCode == kCodecP16S);
    }
    const MxfEssence essence = EssenceOf(choice_.codec);
    const uint32_t frameBytes = MxfWriter::PictureBytes(essence);
    encoder_ = encoders_ != nullptr ? encoders_(choice_.codec) : nullptr;
    started_ =
        video != nullptr && encoder_ != nullptr && encoder_->FrameBytes() == frameBytes &&
        pipeline_.Configure(static_cast<int>(video->width), static_cast<int>(video->height)) &&
        queue_.Configure(frameBytes, MxfWriter::kSoundFramesPerUnit, hasSound);
    if (started_ && choice_.container == OutputContainer::Mxf) {
        MxfFormat format;
        format.essence = essence;
        format.identity = identity_;
        format.timestamp = timestamp_;
        started_ = mxf_.Begin(sink_, format);
    } else if (started_) {
        movieSound_.reset(new (
            std::nothrow) uint8_t[MxfWriter::kSoundFramesPerUnit * MxfWriter::kSoundChannels * 2]);
        MovieFormat format;
        DescribeMoviePictures(choice_.codec, &format);
        format.videoTimeScale = MxfWriter::kEditRate;
        format.frameDuration = 1;
        format.sampleRate = 48000;
        format.channels = MxfWriter::kSoundChannels;
        started_ = movieSound_ != nullptr && movie_.Begin(sink_, format);
    }
    writeFailed_ = !started_;
    return started_;
}

bool ClipTranscoder::WriteUnit(const uint8_t* picture, const int16_t* stereo) {
    if (choice_.container == OutputContainer::Mxf) {
        return mxf_.AddEditUnit(picture, stereo);
    }
    // The movie's sound: eight big-endian channels, the clip's two first.
    const uint32_t channels = MxfWriter::kSoundChannels;
    uint8_t* out = movieSound_.get();
    for (uint32_t i = 0; i < MxfWriter::kSoundFramesPerUnit; ++i) {
        for (uint32_t c = 0; c < channels; ++c) {
            const uint16_t sample = c < 2 ? static_cast<uint16_t>(stereo[2 * i + c]) : 0;
            *out++ = static_cast<uint8_t>(sample >> 8);
            *out++ = static_cast<uint8_t>(sample);
        }
    }
    const BytePiece piece = {picture, encoder_->FrameBytes()};
    return movie_.AddPicture(&piece, 1) &&
           movie_.AddSound(movieSound_.get(), MxfWriter::kSoundFramesPerUnit);
}

bool ClipTranscoder::Drain(bool force) {
    const uint8_t* picture = nullptr;
    const int16_t* stereo = nullptr;
    while (queue_.Front(force, &picture, &stereo)) {
        if (!WriteUnit(picture, stereo)) {
            return false;
        }
        queue_.Pop();
    }
    return true;
}

bool ClipTranscoder::OnBlock(const CKeloMediaFrame& header, const uint8_t* payload, uint32_t size) {
    bool ok = true;
    if (header.mediaKind == kKindVideo && header.codecCode == kCodecMjpa) {
        if (queue_.Full()) {
            // The oldest picture has waited long enough for its sound.
            const uint8_t* picture = nullptr;
            const int16_t* stereo = nullptr;
            ok = queue_.Front(true, &picture, &stereo) && WriteUnit(picture, stereo);
            queue_.Pop();
        }
        if (ok) {
            encoder_->Encode(pipeline_.Convert(payload, size), queue_.PictureSlot());
            queue_.CommitPicture();
            ok = Drain(false);
        }
    } else if (header.mediaKind == kKindAudio && header.codecCode == kCodecP16S) {
        queue_.AddSound(payload, size / 4);
        ok = Drain(false);
    }
    writeFailed_ = !ok;
    return ok;
}

bool ClipTranscoder::Feed(const uint8_t* data, size_t size) {
    return reader_.Feed(data, size) == ClipStatus::Ok;
}

ConvertResult ClipTranscoder::Finish() {
    const ClipStatus status = reader_.Feed(nullptr, 0);
    if (status == ClipStatus::NotAClip || !reader_.headerRead()) {
        return ConvertResult::NotAClip;
    }
    // Pictures still waiting for sound go out with what they have.
    if (writeFailed_ || !Drain(true)) {
        return ConvertResult::WriteFailed;
    }
    const bool finished =
        choice_.container == OutputContainer::Mxf ? mxf_.Finish() : movie_.Finish();
    if (!finished) {
        return ConvertResult::WriteFailed;
    }
    if (status == ClipStatus::Damaged) {
        return ConvertResult::Damaged;
    }
    return reader_.AtBlockEnd() ? ConvertResult::Complete : ConvertResult::Cut;
}

}  // namespace fluxmere::transcode
