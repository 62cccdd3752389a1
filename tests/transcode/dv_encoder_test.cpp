// The DV encoder's frames as a reader walks through them: 144 000 bytes, every DIF block where the
// structure puts it with its ID, the packs that tell decoders what a frame holds (per flavour),
// silent audio, the time code; every macroblock of the picture in exactly one segment; every
// processor variant giving the same bytes; a picture the caller got wrong coded as black.
// (What decoders make of the frames: dv_decode_test.cpp.)

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "decode/dispatch.h"
#include "device/picture_loop.h"
#include "tests/transcode/dv_pictures.h"
#include "transcode/dv_encoder.h"
#include "transcode/dv_frame_layout.h"

namespace fluxmere::testing {
namespace {

using transcode::DvEncoder;
using transcode::DvFlavour;
using transcode::kDvFrameBytes;
namespace dv = transcode::dv;

std::vector<uint8_t> EncodeOne(DvFlavour flavour, const Planes422& planes) {
    DvEncoder encoder(flavour);
    std::vector<uint8_t> frame(encoder.FrameBytes());
    encoder.Encode(planes.Picture(), frame.data());
    return frame;
}

const Planes422& DevicePicture() {
    static const Planes422 picture = ScaledPicture(
        device::LoopPicture(7), device::kClipPictureWidth, device::kClipPictureHeight);
    return picture;
}

const uint8_t* Block(const std::vector<uint8_t>& frame, int sequence, int block) {
    return frame.data() + (sequence * dv::kDifBlocksPerSequence + block) * 80;
}

TEST(DvLayout, EveryMacroblockOfThePictureIsInOneSegment) {
    struct Case {
        dv::ChromaSampling sampling;
        int width, height;  // of the ordinary macroblocks
    };
    for (const Case& c :
         {Case{dv::ChromaSampling::k420, 16, 16}, Case{dv::ChromaSampling::k411, 32, 8}}) {
        SCOPED_TRACE(c.width);
        std::vector<int> covered(720 * 576, 0);
        for (int s = 0; s < dv::kSequenceCount; ++s) {
            for (int k = 0; k < dv::kSegmentsPerSequence; ++k) {
                for (int m = 0; m < 5; ++m) {
                    const dv::MacroblockPlace place = dv::PlaceOf(c.sampling, s, k, m);
                    const int w = place.square ? 16 : c.width, h = place.square ? 16 : c.height;
                    ASSERT_TRUE(place.x >= 0 && place.x + w <= 720 && place.y >= 0 &&
                                place.y + h <= 576);
                    EXPECT_EQ(place.square,
                              c.sampling == dv::ChromaSampling::k411 && place.x == 704);
                    for (int y = place.y; y < place.y + h; ++y) {
                        for (int x = place.x; x < place.x + w; ++x) {
                            ++covered[y * 720 + x];
                        }
                    }
                }
            }
        }
        for (int count : covered) {
            ASSERT_EQ(count, 1);
        }
    }
}

TEST(DvFrame, EveryBlockCarriesItsId) {
    for (DvFlavour flavour : {DvFlavour::Dv25, DvFlavour::Dvcpro25}) {
        const std::vector<uint8_t> frame = EncodeOne(flavour, DevicePicture());
        ASSERT_EQ(frame.size(), 144000u);
        for (int s = 0; s < dv::kSequenceCount; ++s) {
            int subcode = 0, vaux = 0, audio = 0, video = 0;
            for (int n = 0; n < dv::kDifBlocksPerSequence; ++n) {
                // Header, 2 subcode, 3 VAUX, then an audio block before every 15 video blocks.
                int section, number;
                if (n == 0) {
                    section = 0, number = 0;
                } else if (n < 3) {
                    section = 1, number = subcode++;
                } else if (n < 6) {
                    section = 2, number = vaux++;
                } else if ((n - 6) % 16 == 0) {
                    section = 3, number = audio++;
                } else {
                    section = 4, number = video++;
                }
                const uint8_t* id = Block(frame, s, n);
                ASSERT_EQ(id[0] >> 5, section) << "sequence " << s << " block " << n;
                ASSERT_EQ(id[0] & 0x10, 0x10);  // reserved bit
                ASSERT_EQ(id[1], s << 4 | 0x07) << "sequence " << s << " block " << n;
                ASSERT_EQ(id[2], number) << "sequence " << s << " block " << n;
                if (section == 4) {
                    ASSERT_LE(id[3], 15);  // status 0, quantisation number
                }
            }
            EXPECT_EQ(video, 135);
        }
    }
}

TEST(DvFrame, PacksTellWhatTheFrameHolds) {
    struct Case {
        DvFlavour flavour;
        uint8_t applicationId;  // 0: IEC 61834 (4:2:0); 1: DVCPRO (4:1:1)
        uint8_t audioSpeed;
    };
    for (const Case& c : {Case{DvFlavour::Dv25, 0, 0xA0}, Case{DvFlavour::Dvcpro25, 1, 0xE4}}) {
        SCOPED_TRACE(static_cast<int>(c.applicationId));
        const std::vector<uint8_t> frame = EncodeOne(c.flavour, DevicePicture());
        for (int s = 0; s < dv::kSequenceCount; ++s) {
            // Header: 625/50, every application ID the flavour's, audio, video, subcode valid.
            const uint8_t* header = Block(frame, s, 0);
            EXPECT_EQ(std::vector<uint8_t>(header + 3, header + 8),
                      (std::vector<uint8_t>{0xBF, static_cast<uint8_t>(0xF8 | c.applicationId),
                                            static_cast<uint8_t>(0x78 | c.applicationId),
                                            static_cast<uint8_t>(0x78 | c.applicationId),
                                            static_cast<uint8_t>(0x78 | c.applicationId)}));
            // VAUX: source (colour, 50 fields, 25 Mbit/s) and control (4:3, bottom field
            // first, interlaced) where readers look, packs 0-1 and 9-10.
            for (int j = 0; j < 3; ++j) {
                const uint8_t* vaux = Block(frame, s, 3 + j);
                for (int pack : {0, 9}) {
                    const uint8_t* source = vaux + 3 + 5 * pack;
                    const uint8_t* control = source + 5;
                    EXPECT_EQ(std::vector<uint8_t>(source, source + 5),
                              (std::vector<uint8_t>{0x60, 0xFF, 0xFF, 0xE0, 0xFF}));
                    EXPECT_EQ(control[0], 0x61);
                    EXPECT_EQ(control[2] & 0x07, 0);     // 4:3 full frame
                    EXPECT_EQ(control[3] & 0x40, 0x40);  // first field is the bottom one
                    EXPECT_EQ(control[3] & 0x10, 0x10);  // interlaced
                }
            }
            // Audio: 48 kHz 16-bit, 1920 samples, one channel per half of the sequences, in the
            // blocks readers look in; every sample 0.
            const int packAt = s % 2 == 0 ? 3 : 0;
            for (int a = 0; a < 9; ++a) {
                const uint8_t* block = Block(frame, s, 6 + 16 * a);
                if (a == packAt) {
                    EXPECT_EQ(std::vector<uint8_t>(block + 3, block + 8),
                              (std::vector<uint8_t>{0x50, 0xD8, static_cast<uint8_t>(s < 6 ? 0 : 1),
                                                    0xE0, 0x80}));
                } else if (a == packAt + 1) {
                    EXPECT_EQ(block[3], 0x51);
                    EXPECT_EQ(block[6], c.audioSpeed);
                } else {
                    EXPECT_EQ(block[3], 0xFF);
                }
                EXPECT_EQ(std::vector<uint8_t>(block + 8, block + 80), std::vector<uint8_t>(72, 0));
            }
        }
    }
}

TEST(DvFrame, TimeCodeCountsTheFrames) {
    struct Case {
        uint32_t frame;
        uint8_t ff, ss, mm, hh;  // as BCD
    };
    const Case cases[] = {
        {0, 0x00, 0x00, 0x00, 0x00},
        {24, 0x24, 0x00, 0x00, 0x00},
        {25, 0x00, 0x01, 0x00, 0x00},
        {25 * 61 + 3, 0x03, 0x01, 0x01, 0x00},
        {90000 * 23 + 1, 0x01, 0x00, 0x00, 0x23},
        {90000 * 24, 0x00, 0x00, 0x00, 0x00},
    };
    std::vector<uint8_t> frame(kDvFrameBytes, 0xFF);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        dv::WriteTimeCode(c.frame, frame.data());
        for (int s = 0; s < dv::kSequenceCount; ++s) {
            for (int j = 0; j < 2; ++j) {
                for (int k = 0; k < 6; ++k) {
                    const uint8_t* pack = Block(frame, s, 1 + j) + 3 + 8 * k + 3;
                    ASSERT_EQ(std::vector<uint8_t>(pack, pack + 5),
                              (std::vector<uint8_t>{0x13, c.ff, c.ss, c.mm, c.hh}));
                }
            }
        }
    }
    // The encoder counts its own frames.
    DvEncoder encoder(DvFlavour::Dvcpro25);
    for (uint8_t expected : {0x00, 0x01, 0x02}) {
        encoder.Encode(DevicePicture().Picture(), frame.data());
        EXPECT_EQ(Block(frame, 0, 1)[7], expected);
    }
}

TEST(DvFrame, EveryByteIsWrittenAndNoMore) {
    constexpr size_t kGuard = 64;
    for (DvFlavour flavour : {DvFlavour::Dv25, DvFlavour::Dvcpro25}) {
        std::vector<std::vector<uint8_t>> frames;
        for (uint8_t fill : {0x00, 0xFF}) {
            std::vector<uint8_t> buffer(kDvFrameBytes + 2 * kGuard, fill);
            DvEncoder encoder(flavour);
            encoder.Encode(DevicePicture().Picture(), buffer.data() + kGuard);
            for (size_t i = 0; i < kGuard; ++i) {
                ASSERT_EQ(buffer[i], fill);
                ASSERT_EQ(buffer[buffer.size() - 1 - i], fill);
            }
            frames.emplace_back(buffer.begin() + kGuard, buffer.end() - kGuard);
        }
        EXPECT_TRUE(frames[0] == frames[1]);
    }
}

TEST(DvEncoder, EveryProcessorVariantGivesTheSameFrames) {
    const Planes422 pictures[] = {DevicePicture(), NoisePicture(3), EdgePicture()};
    const int32_t savedIndex = variantIndex;
    const bool savedWide = wideVectorsUsable;
    for (DvFlavour flavour : {DvFlavour::Dv25, DvFlavour::Dvcpro25}) {
        for (const Planes422& picture : pictures) {
            variantIndex = 0;
            wideVectorsUsable = false;
            const std::vector<uint8_t> generic = EncodeOne(flavour, picture);
            for (int slot = 1; slot < kImplementationCount; ++slot) {
                if (!SlotRunsHere(slot)) {
                    continue;
                }
                SCOPED_TRACE(::testing::Message() << "slot " << slot);
                variantIndex = slot == kWideVectorSlot ? kVariantCount - 1 : slot;
                wideVectorsUsable = slot == kWideVectorSlot;
                EXPECT_TRUE(EncodeOne(flavour, picture) == generic);
            }
        }
    }
    variantIndex = savedIndex;
    wideVectorsUsable = savedWide;
}

TEST(DvEncoder, PictureWithoutPlanesOrWithShortLinesIsCodedAsBlack) {
    Planes422 black;
    std::fill(black.y.begin(), black.y.end(), 16);
    std::fill(black.cb.begin(), black.cb.end(), 128);
    std::fill(black.cr.begin(), black.cr.end(), 128);
    const std::vector<uint8_t> expected = EncodeOne(DvFlavour::Dvcpro25, black);
    transcode::Picture422 broken[4];
    for (transcode::Picture422& p : broken) {
        p = DevicePicture().Picture();
    }
    broken[0].y = nullptr;
    broken[1].cr = nullptr;
    broken[2].yStride = transcode::kEncodeWidth - 1;
    broken[3].cStride = 0;
    for (const transcode::Picture422& p : broken) {
        DvEncoder encoder(DvFlavour::Dvcpro25);
        std::vector<uint8_t> frame(kDvFrameBytes);
        encoder.Encode(p, frame.data());
        EXPECT_TRUE(frame == expected);
    }
}

}  // namespace
}  // namespace fluxmere::testing
