#include "tests/player/frame_fixture.h"

#include <cstring>
#include <cstdlib>

#include "container/kelo.h"
#include "container/kelo_writer.h"
#include "decode/jpeg_tables.h"

namespace fluxmere::testing {

namespace {

struct Code {
    uint16_t bits = 0;
    int length = 0;
};

// Canonical Huffman codes from BITS and HUFFVAL.
void BuildCodes(const uint8_t* bits, const uint8_t* values, Code (&codes)[256]) {
    uint16_t code = 0;
    int k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < bits[length - 1]; ++i) {
            codes[values[k++]] = {code, length};
            ++code;
        }
        code = static_cast<uint16_t>(code << 1);
    }
}

class BitWriter {
public:
    void Put(uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i) {
            byte_ = static_cast<uint8_t>((byte_ << 1) | ((value >> i) & 1));
            if (++count_ == 8)
                Flush();
        }
    }
    std::vector<uint8_t> Finish() {
        while (count_ != 0)
            Put(1, 1);  // pad with one bits
        return out_;
    }

private:
    void Flush() {
        out_.push_back(byte_);
        if (byte_ == 0xFF)
            out_.push_back(0x00);  // stuffing
        byte_ = 0;
        count_ = 0;
    }
    std::vector<uint8_t> out_;
    uint8_t byte_ = 0;
    int count_ = 0;
};

void PutDc(BitWriter& writer, const Code (&dc)[256], int difference) {
    int magnitude = std::abs(difference);
    int category = 0;
    while (magnitude > 0) {
        ++category;
        magnitude >>= 1;
    }
    writer.Put(dc[category].bits, dc[category].length);
    if (category > 0) {
        const int bits = difference > 0 ? difference : difference + (1 << category) - 1;
        writer.Put(static_cast<uint32_t>(bits), category);
    }
}

}  // namespace

std::vector<uint8_t> FlatMjpaPayload(int width, int height, FlatColour colour) {
    Code lumaDc[256], chromaDc[256], lumaAc[256], chromaAc[256];
    BuildCodes(jpeg::kLumaDcBits, jpeg::kLumaDcValues, lumaDc);
    BuildCodes(jpeg::kChromaDcBits, jpeg::kChromaDcValues, chromaDc);
    BuildCodes(jpeg::kLumaAcBits, jpeg::kLumaAcValues, lumaAc);
    BuildCodes(jpeg::kChromaAcBits, jpeg::kChromaAcValues, chromaAc);
    const int mcus = ((width + 15) / 16) * (height / 8);
    BitWriter writer;
    int lumaPredictor = 0, cbPredictor = 0, crPredictor = 0;
    for (int i = 0; i < mcus; ++i) {
        for (int block = 0; block < 2; ++block) {
            PutDc(writer, lumaDc, colour.luma - lumaPredictor);
            lumaPredictor = colour.luma;
            writer.Put(lumaAc[0].bits, lumaAc[0].length);  // end of block
        }
        PutDc(writer, chromaDc, colour.cb - cbPredictor);
        cbPredictor = colour.cb;
        writer.Put(chromaAc[0].bits, chromaAc[0].length);
        PutDc(writer, chromaDc, colour.cr - crPredictor);
        crPredictor = colour.cr;
        writer.Put(chromaAc[0].bits, chromaAc[0].length);
    }
    return writer.Finish();
}

std::vector<uint8_t> CombinedFrame(uint32_t version, const std::vector<uint8_t>& videoPayload,
                                   const std::vector<uint8_t>& audioPayload,
                                   const char* videoCodec) {
    CKeloMediaFrame video(version);
    video.mediaKind = kKindVideo;
    std::memcpy(video.codecCode.bytes, videoCodec, 4);
    CKeloMediaFrame audio(version);
    audio.mediaKind = kKindAudio;
    audio.codecCode = kCodecP16S;
    const size_t videoSize = BlockSize(video, static_cast<uint32_t>(videoPayload.size()));
    const size_t audioSize = BlockSize(audio, static_cast<uint32_t>(audioPayload.size()));
    std::vector<uint8_t> frame(videoSize + audioSize);
    WriteBlock(video, videoPayload.data(), static_cast<uint32_t>(videoPayload.size()), frame.data(),
               videoSize);
    WriteBlock(audio, audioPayload.data(), static_cast<uint32_t>(audioPayload.size()),
               frame.data() + videoSize, audioSize);
    return frame;
}

std::string FirstPixelOtherThan(const uint8_t* pixels, int width, int height, int stride,
                                const uint8_t* bgr) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            if (std::memcmp(row + 3 * x, bgr, 3) != 0) {
                return std::to_string(x) + "," + std::to_string(y);
            }
        }
    }
    return "";
}

}  // namespace fluxmere::testing
