// The DIF structure of a 625/50 DV frame and the shuffling of its macroblocks.

#include "transcode/dv_frame_layout.h"

#include <cstring>
#include <initializer_list>

namespace fluxmere::transcode::dv {
namespace {

// Section types in the top three bits of an ID's first byte, with the reserved bit and the
// arbitrary bits set.
constexpr uint8_t kHeaderSection = 0x1F;
constexpr uint8_t kSubcodeSection = 0x3F;
constexpr uint8_t kVauxSection = 0x5F;
constexpr uint8_t kAudioSection = 0x7F;
constexpr uint8_t kVideoSection = 0x9F;

// Pack headers.
constexpr uint8_t kTimeCodePack = 0x13;
constexpr uint8_t kAudioSourcePack = 0x50;
constexpr uint8_t kAudioControlPack = 0x51;
constexpr uint8_t kVideoSourcePack = 0x60;
constexpr uint8_t kVideoControlPack = 0x61;

void WriteId(uint8_t* block, uint8_t section, int sequence, int number) {
    block[0] = section;
    block[1] = static_cast<uint8_t>(sequence << 4 | 0x07);  // channel 0, reserved bits 1
    block[2] = static_cast<uint8_t>(number);
}

void WritePack(uint8_t* at, uint8_t p0, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4) {
    at[0] = p0;
    at[1] = p1;
    at[2] = p2;
    at[3] = p3;
    at[4] = p4;
}

}  // namespace

MacroblockPlace PlaceOf(ChromaSampling sampling, int sequence, int segment, int m) {
    // The five superblocks of a segment: their columns, and their rows counted from the
    // sequence's own.
    static constexpr int kColumn[5] = {2, 1, 3, 0, 4};
    static constexpr int kRowOffset[5] = {2, 6, 8, 0, 4};
    const int row = (sequence + kRowOffset[m]) % kSequenceCount;  // 48 lines each
    const int column = kColumn[m];                                // 144 samples wide each
    MacroblockPlace place;
    if (sampling == ChromaSampling::k420) {
        // 9 x 3 macroblocks, taken down the first column, up the second, and so on.
        const int c = segment / 3, r = segment % 3;
        place.x = (column * 9 + c) * 16;
        place.y = row * 48 + (c % 2 == 0 ? r : 2 - r) * 16;
        return place;
    }
    // 4.5 columns of 6 macroblocks, in the same meander; superblocks 1 and 3 begin with the
    // lower half of the column they share with their left neighbour.
    const int k = segment + (column % 2 == 1 ? 3 : 0);
    const int c = k / 6, r = k % 6;
    const int macroblockColumn = column * 9 / 2 + c;
    const int macroblockRow = c % 2 == 0 ? r : 5 - r;
    if (macroblockColumn == 22) {
        // The last 16 samples of each line: three 16 x 16 macroblocks per superblock.
        place.x = 704;
        place.y = row * 48 + macroblockRow * 16;
        place.square = true;
        return place;
    }
    place.x = macroblockColumn * 32;
    place.y = row * 48 + macroblockRow * 8;
    return place;
}

size_t SegmentOffset(int sequence, int segment) {
    const int video = segment * 5;
    const int block = 6 + video / 15 * 16 + 1 + video % 15;
    return (size_t{static_cast<size_t>(sequence)} * kDifBlocksPerSequence + block) * 80;
}

void WriteFrameTemplate(ChromaSampling sampling, uint8_t* frame) {
    // Application IDs: 000 for IEC 61834 DV, 001 for DVCPRO.
    const uint8_t apt = sampling == ChromaSampling::k411 ? 1 : 0;
    std::memset(frame, 0xFF, kFrameBytes);
    for (int s = 0; s < kSequenceCount; ++s) {
        uint8_t* sequence = frame + size_t{static_cast<size_t>(s)} * kDifBlocksPerSequence * 80;

        // Header: 625/50 system, the application IDs, audio, video and subcode all valid.
        uint8_t* header = sequence;
        WriteId(header, kHeaderSection, s, 0);
        WritePack(header + 3, 0xBF, static_cast<uint8_t>(0xF8 | apt),
                  static_cast<uint8_t>(0x78 | apt), static_cast<uint8_t>(0x78 | apt),
                  static_cast<uint8_t>(0x78 | apt));

        // Subcode: six sync blocks each (numbered 0..11 over the two), their packs left for the
        // time code; the first half of the sequences carries the first-half flag.
        for (int j = 0; j < 2; ++j) {
            uint8_t* subcode = sequence + (1 + j) * 80;
            WriteId(subcode, kSubcodeSection, s, j);
            for (int k = 0; k < 6; ++k) {
                const int number = j * 6 + k;
                uint8_t* sync = subcode + 3 + k * 8;
                const uint8_t firstHalf = s < kSequenceCount / 2 ? 0x80 : 0x00;
                sync[0] = static_cast<uint8_t>(number == 11 ? firstHalf | 0x7F
                                                            : firstHalf | apt << 4 | 0x0F);
                sync[1] = static_cast<uint8_t>(0xF0 | number);
            }
        }

        // VAUX: the video source and source control packs, twice in each block (packs 0-1 and
        // 9-10, where readers look for them). Source: colour, 625/50, 25 Mbit/s. Control: copy
        // free, 4:3 full frame, both fields of one frame in order, bottom field first,
        // interlaced.
        for (int j = 0; j < 3; ++j) {
            uint8_t* vaux = sequence + (3 + j) * 80;
            WriteId(vaux, kVauxSection, s, j);
            for (int pack : {0, 9}) {
                WritePack(vaux + 3 + pack * 5, kVideoSourcePack, 0xFF, 0xFF, 0xE0, 0xFF);
                WritePack(vaux + 3 + (pack + 1) * 5, kVideoControlPack, 0x3F, 0xC8, 0xFC, 0xFF);
            }
        }

        // Audio: 48 kHz, 16 bits, locked, 1920 samples a frame, one channel in each half of the
        // sequences; every sample 0. The source and source control packs sit in blocks 3 and 4
        // of even sequences, 0 and 1 of odd ones.
        for (int a = 0; a < 9; ++a) {
            uint8_t* audio = sequence + (6 + a * 16) * 80;
            WriteId(audio, kAudioSection, s, a);
            const int packAt = s % 2 == 0 ? 3 : 0;
            if (a == packAt) {
                WritePack(audio + 3, kAudioSourcePack, 0xC0 | (1920 - 1896), s < 6 ? 0x00 : 0x01,
                          0xE0, 0x80);
            } else if (a == packAt + 1) {
                const uint8_t speed = sampling == ChromaSampling::k411 ? 0x64 : 0x20;
                WritePack(audio + 3, kAudioControlPack, 0x3F, 0xCF,
                          static_cast<uint8_t>(0x80 | speed), 0xFF);
            }
            std::memset(audio + 8, 0, 72);
        }

        for (int v = 0; v < 135; ++v) {
            WriteId(sequence + (6 + v / 15 * 16 + 1 + v % 15) * 80, kVideoSection, s, v);
        }
    }
}

void WriteTimeCode(uint32_t frameNumber, uint8_t* frame) {
    auto bcd = [](uint32_t value) { return static_cast<uint8_t>(value / 10 << 4 | value % 10); };
    const uint32_t frames = frameNumber % 25, seconds = frameNumber / 25 % 60,
                   minutes = frameNumber / (25 * 60) % 60,
                   hours = frameNumber / (25 * 60 * 60) % 24;
    const uint8_t pack[5] = {kTimeCodePack, bcd(frames), bcd(seconds), bcd(minutes), bcd(hours)};
    for (int s = 0; s < kSequenceCount; ++s) {
        uint8_t* sequence = frame + size_t{static_cast<size_t>(s)} * kDifBlocksPerSequence * 80;
        for (int j = 0; j < 2; ++j) {
            for (int k = 0; k < 6; ++k) {
                std::memcpy(sequence + (1 + j) * 80 + 3 + k * 8 + 3, pack, sizeof pack);
            }
        }
    }
}

}  // namespace fluxmere::transcode::dv
