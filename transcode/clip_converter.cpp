#include "transcode/clip_converter.h"

#include <cmath>

namespace fluxmere::transcode {
namespace {

constexpr uint32_t kDefaultFramesPerSecond = 25;
constexpr uint32_t kSoundRate = 48000;  // the device's sound: 48000 Hz, two channels
constexpr uint16_t kSoundChannels = 2;

// The picture rate the clip's video track gives (its videoDouble), else 25: a whole rate as
// (rate, 1), anything else in thousandths.
void PictureTiming(const CKeloTrack& video, MovieFormat* format) {
    const double rate = video.videoDouble;
    if (!(rate >= 1.0 && rate <= 240.0)) {
        format->videoTimeScale = kDefaultFramesPerSecond;
        format->frameDuration = 1;
    } else if (rate == std::floor(rate)) {
        format->videoTimeScale = static_cast<uint32_t>(rate);
        format->frameDuration = 1;
    } else {
        format->videoTimeScale = static_cast<uint32_t>(std::lround(rate * 1000.0));
        format->frameDuration = 1000;
    }
}

}  // namespace

const char* ConvertResultText(ConvertResult result) {
    switch (result) {
        case ConvertResult::Complete:
            return "complete";
        case ConvertResult::Cut:
            return "the clip was cut: the output holds its whole pictures up to the cut";
        case ConvertResult::Damaged:
            return "the clip is damaged: the output holds its pictures up to the damage";
        case ConvertResult::NotAClip:
            return "not a kelo clip";
        case ConvertResult::WriteFailed:
            return "the output could not be written";
    }
    return "unknown";
}

bool ClipConverter::OnStreamHeader(const CKelo& stream) {
    MovieFormat format;
    for (const CKeloTrack& track : stream.tracks) {
        if (track.mediaKind == kKindVideo && track.codecCode == kCodecMjpa) {
            format.width = track.width;
            format.height = track.height;
            PictureTiming(track, &format);
            break;
        }
    }
    format.sampleRate = kSoundRate;
    format.channels = kSoundChannels;
    bytesPerSoundFrame_ = 2u * kSoundChannels;
    started_ = pictureHeader_.Build(static_cast<int>(format.width), static_cast<int>(format.height),
                                    true) &&
               writer_.Begin(sink_, format);
    writeFailed_ = !started_;
    return started_;
}

bool ClipConverter::OnBlock(const CKeloMediaFrame& header, const uint8_t* payload, uint32_t size) {
    bool ok = true;
    if (header.mediaKind == kKindVideo && header.codecCode == kCodecMjpa) {
        const size_t total = pictureHeader_.size() + size + sizeof JpegFrameHeader::kEndOfImage;
        pictureHeader_.SetFieldSize(static_cast<uint32_t>(total));
        const BytePiece pieces[3] = {
            {pictureHeader_.data(), pictureHeader_.size()},
            {payload, size},
            {JpegFrameHeader::kEndOfImage, sizeof JpegFrameHeader::kEndOfImage}};
        ok = writer_.AddPicture(pieces, 3);
    } else if (header.mediaKind == kKindAudio && header.codecCode == kCodecP16S) {
        ok = writer_.AddSound(payload, size / bytesPerSoundFrame_);
    }
    writeFailed_ = !ok;
    return ok;
}

bool ClipConverter::Feed(const uint8_t* data, size_t size) {
    return reader_.Feed(data, size) == ClipStatus::Ok;
}

ConvertResult ClipConverter::Finish() {
    const ClipStatus status = reader_.Feed(nullptr, 0);
    // Without a whole stream header nothing tells a clip cut inside it from any other file.
    if (status == ClipStatus::NotAClip || !reader_.headerRead()) {
        return ConvertResult::NotAClip;
    }
    if (writeFailed_ || !writer_.Finish()) {
        return ConvertResult::WriteFailed;
    }
    if (status == ClipStatus::Damaged) {
        return ConvertResult::Damaged;
    }
    return reader_.AtBlockEnd() ? ConvertResult::Complete : ConvertResult::Cut;
}

}  // namespace fluxmere::transcode
