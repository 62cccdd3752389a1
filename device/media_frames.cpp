#include "device/media_frames.h"

#include <algorithm>
#include <cstring>

#include "container/kelo.h"
#include "container/kelo_writer.h"
#include "device/mjpa_encoder.h"
#include "device/test_pattern.h"

namespace fluxmere::device {
namespace {

constexpr size_t kOversizedChunk = 1u << 20;
constexpr uint32_t kHugeVideoPayload = 300000;

CKeloParameter TextParameter(const char* key, const std::string& value) {
    return CKeloParameter(key, static_cast<uint32_t>(std::strlen(key)), value.data(),
                          static_cast<uint32_t>(value.size()));
}

CKeloMediaFrame FrameHeader(const DeviceOptions& options, bool video, uint32_t index) {
    CKeloMediaFrame frame(options.streamVersion);
    frame.leadByte = 1;
    frame.mediaKind = video ? kKindVideo : kKindAudio;
    frame.codecCode = video ? kCodecMjpa : kCodecP16S;
    frame.frameWord = index;
    frame.frameDoubleA = static_cast<double>(index) / std::max(1, options.fps);
    if (video) {
        std::memcpy(frame.frameVideoTag, "KEY ", 4);
        frame.frameVideoWord = (static_cast<uint32_t>(options.width) << 16) |
                               static_cast<uint32_t>(options.height & 0xFFFF);
    } else {
        frame.frameAudioWordA = kSampleRate;
        frame.frameAudioWordB = 2;
    }
    return frame;
}

}  // namespace

std::vector<uint8_t> BuildStreamDescription(const DeviceOptions& options) {
    CKelo stream;
    stream.version = options.streamVersion;
    CKeloTrack video;
    video.mediaKind = kKindVideo;
    video.codecCode = kCodecMjpa;
    video.width = options.zeroSize ? 0 : static_cast<uint32_t>(options.width);
    video.height = options.zeroSize ? 0 : static_cast<uint32_t>(options.height);
    video.videoDouble = options.fps;
    video.parameters.Append(TextParameter("fps", std::to_string(options.fps)));
    stream.tracks.push_back(video);
    if (options.hasAudio) {
        CKeloTrack audio;
        audio.mediaKind = kKindAudio;
        audio.codecCode = kCodecP16S;
        audio.audioWordA = kSampleRate;
        audio.audioWordB = 2;
        audio.audioWordC = 16;
        audio.audioDouble = kSampleRate;
        stream.tracks.push_back(audio);
    }
    stream.parameters.Append(TextParameter("model", "stand-in"));
    if (options.longHeader) {
        // More than the viewer's 512-byte header buffer holds, in whichever form the version has.
        std::string filler(600, 'x');
        if (options.streamVersion > 2) {
            stream.parameters.Append(TextParameter("filler", filler));
        } else if (options.streamVersion == 2) {
            stream.tracks[0].parameters.Append(TextParameter("filler", filler));
        } else {
            CKeloTrack other;
            other.mediaKind = FourCC{{'f', 'i', 'l', 'l'}};
            stream.tracks.resize(stream.tracks.size() + 80, other);
        }
    }
    size_t headerSize = StreamHeaderSize(stream);
    std::vector<uint8_t> description(kStreamDescriptionLead + headerSize);
    std::memcpy(description.data(), "KELO", 4);
    StoreBE32(description.data() + 4, static_cast<uint32_t>(headerSize));
    WriteStreamHeader(stream, description.data() + kStreamDescriptionLead, headerSize);
    return description;
}

std::string Base64Encode(const uint8_t* data, size_t size) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        uint32_t n = uint32_t{data[i]} << 16;
        if (i + 1 < size)
            n |= uint32_t{data[i + 1]} << 8;
        if (i + 2 < size)
            n |= data[i + 2];
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += i + 1 < size ? kAlphabet[(n >> 6) & 63] : '=';
        out += i + 2 < size ? kAlphabet[n & 63] : '=';
    }
    return out;
}

std::string BuildSdp(const DeviceOptions& options, const std::string& address) {
    std::vector<uint8_t> description = BuildStreamDescription(options);
    std::string sdp =
        "v=0\r\no=- 1 1 IN IP4 " + address + "\r\ns=Live\r\nc=IN IP4 " + address + "\r\nt=0 0\r\n";
    sdp += "a=pgmpu:data:application/kelo;base64," +
           Base64Encode(description.data(), description.size()) + "\r\n";
    sdp += "m=video 0 RTP/AVP 96\r\na=control:video\r\n";
    if (options.hasAudio) {
        sdp += "m=audio 0 RTP/AVP 97\r\na=control:audio\r\n";
    }
    return sdp;
}

int SampleFramesPerPicture(const DeviceOptions& options) {
    return kSampleRate / std::max(1, options.fps);
}

bool IsHostileFrame(const DeviceOptions& options, uint32_t index) {
    if (options.hostileFrame == HostileFrame::None) {
        return false;
    }
    uint32_t every = static_cast<uint32_t>(std::max(1, options.hostileEvery));
    return index % every == every - 1;
}

FrameBuilder::FrameBuilder(const DeviceOptions& options)
    : options_(options),
      rgb_(static_cast<size_t>(std::max(0, options.width)) * std::max(0, options.height) * 3),
      audio_(static_cast<size_t>(SampleFramesPerPicture(options)) * 4 +
             (options.oddAudioBlocks ? 1 : 0)) {
    if (options.oddAudioBlocks) {
        audio_.back() = 0x55;  // a byte that is no part of any sample frame
    }
    payload_.reserve(rgb_.size() / 2 + 4096);
    frame_.reserve(std::max<size_t>(kOversizedChunk, rgb_.size()));
}

void FrameBuilder::Assemble(uint32_t index, uint32_t minimumVideoSize) {
    RenderTestPattern(options_.width, options_.height, index, rgb_.data(), options_.barsShift);
    RgbPicture rgb;
    rgb.pixels = rgb_.data();
    rgb.width = options_.width;
    rgb.height = options_.height;
    rgb.stride = options_.width * 3;
    // The device records studio-range YCbCr, not the full range JPEG files use for RGB input.
    if (!EncodeMjpaPayload(converter_.Convert(rgb), &payload_)) {
        payload_.clear();
    }
    // Zero bytes behind the entropy-coded data make up a larger payload where one is asked for.
    const uint32_t videoSize = std::max(static_cast<uint32_t>(payload_.size()), minimumVideoSize);
    const uint32_t audioSize = options_.hasAudio ? static_cast<uint32_t>(audio_.size()) : 0;
    if (audioSize != 0) {
        RenderTone(uint64_t{index} * SampleFramesPerPicture(options_), audio_.data(),
                   audio_.size() / 4, options_.toneHz);
    }
    CKeloMediaFrame video = FrameHeader(options_, true, index);
    CKeloMediaFrame audio = FrameHeader(options_, false, index);
    video.payloadSize = videoSize;
    const size_t videoHeader = MediaFrameHeaderSize(video);
    const size_t videoBlock = 4 + videoHeader + videoSize;
    frame_.assign(videoBlock + BlockSize(audio, audioSize), 0);
    StoreBE32(frame_.data(), static_cast<uint32_t>(videoHeader));
    WriteMediaFrameHeader(video, frame_.data() + 4, videoHeader);
    if (!payload_.empty()) {
        std::memcpy(frame_.data() + 4 + videoHeader, payload_.data(), payload_.size());
    }
    WriteBlock(audio, audio_.data(), audioSize, frame_.data() + videoBlock,
               frame_.size() - videoBlock);
}

const std::vector<uint8_t>& FrameBuilder::BuildHealthy(uint32_t index) {
    Assemble(index, 0);
    return frame_;
}

const std::vector<uint8_t>& FrameBuilder::Build(uint32_t index) {
    if (!IsHostileFrame(options_, index)) {
        return BuildHealthy(index);
    }
    const uint32_t every = static_cast<uint32_t>(std::max(1, options_.hostileEvery));
    const uint32_t variant = index / every;
    switch (options_.hostileFrame) {
        case HostileFrame::OversizedChunk:
            Assemble(index, 0);
            frame_.resize(kOversizedChunk, 0);
            break;
        case HostileFrame::HugeVideoPayload:
            Assemble(index, kHugeVideoPayload);
            break;
        case HostileFrame::BadBlockLengths: {
            Assemble(index, 0);
            const uint32_t l1 = LoadBE32(frame_.data());
            const size_t p1At = 4 + l1 - 12;  // payloadSize, then tag and word
            const uint32_t p1 = LoadBE32(frame_.data() + p1At);
            const size_t audioAt = 4 + l1 + p1;
            const uint32_t l2 = LoadBE32(frame_.data() + audioAt);
            const size_t p2At = audioAt + 4 + l2 - 12;
            const uint32_t past = static_cast<uint32_t>(frame_.size()) + 1;
            switch (variant % 4) {
                case 0:
                    StoreBE32(frame_.data(), 0xFFFFFFF0u);
                    break;
                case 1:
                    StoreBE32(frame_.data() + p1At, past);
                    break;
                case 2:
                    StoreBE32(frame_.data() + audioAt, past);
                    break;
                default:
                    StoreBE32(frame_.data() + p2At, past);
                    break;
            }
            break;
        }
        case HostileFrame::CorruptJpeg: {
            Assemble(index, 0);
            const uint32_t l1 = LoadBE32(frame_.data());
            uint8_t* data = frame_.data() + 4 + l1;
            const size_t size = payload_.size();
            // A run of all-ones bits is no valid Huffman code; a marker then cuts the scan.
            for (size_t i = size / 4; i < size / 2; ++i) {
                data[i] = static_cast<uint8_t>(0xFE ^ (i & 1));
            }
            if (size >= 4) {
                data[size * 3 / 4] = 0xFF;
                data[size * 3 / 4 + 1] = 0xD3;
            }
            break;
        }
        case HostileFrame::None:
            BuildHealthy(index);
            break;
    }
    return frame_;
}

std::vector<std::vector<uint8_t>> BuildScriptedFrames(const DeviceOptions& options) {
    const int count =
        options.mediaFault != MediaFault::None ? options.mediaFramesBeforeFault : options.maxFrames;
    const int fps = std::max(1, options.fps);
    std::vector<std::vector<uint8_t>> frames;
    if (count <= 0 || count > fps) {
        return frames;
    }
    FrameBuilder builder(options);
    for (int i = 0; i < count; ++i) {
        frames.push_back(builder.Build(static_cast<uint32_t>(i)));
    }
    return frames;
}

}  // namespace fluxmere::device
