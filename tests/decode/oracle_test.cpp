// The decoder against libjpeg: pictures encoded by the device's payload encoder decode to the
// same planes as libjpeg's own raw decode (integer IDCT) of the whole JPEG, within 1 per sample.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "decode/jpeg_decoder.h"
#include "device/mjpa_encoder.h"
#include "tests/decode/test_pictures.h"

namespace fluxmere {
namespace {

using testing::MakeScene;
using testing::Picture422;

struct RawPlanes {
    int width[3] = {};  // columns libjpeg outputs per component (whole blocks)
    int stride[3] = {};
    std::vector<uint8_t> plane[3];
};

// libjpeg's decode of a whole JPEG to raw planes, each stride columns wide.
bool LibjpegRaw(const std::vector<uint8_t>& jpeg, int lumaStride, RawPlanes* out) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || info.num_components != 3) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.raw_data_out = TRUE;
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    const int rows = static_cast<int>(info.comp_info[0].height_in_blocks) * 8;
    for (int c = 0; c < 3; ++c) {
        out->width[c] = static_cast<int>(info.comp_info[c].width_in_blocks) * 8;
        out->stride[c] = c == 0 ? lumaStride : lumaStride / 2;
        out->plane[c].assign(static_cast<size_t>(out->stride[c]) * (rows + 8), 0);
    }
    JSAMPROW rowPointers[3][8];
    JSAMPARRAY groups[3] = {rowPointers[0], rowPointers[1], rowPointers[2]};
    for (int band = 0; info.output_scanline < info.output_height; ++band) {
        for (int c = 0; c < 3; ++c) {
            for (int r = 0; r < 8; ++r) {
                rowPointers[c][r] =
                    out->plane[c].data() + static_cast<size_t>(band * 8 + r) * out->stride[c];
            }
        }
        jpeg_read_raw_data(&info, groups, 8);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

struct Comparison {
    int largest = 0;
    long differing = 0;
    long compared = 0;
};

void Compare(const uint8_t* ours, int ourStride, const uint8_t* theirs, int theirStride,
             int columns, int lines, Comparison* result) {
    for (int r = 0; r < lines; ++r) {
        for (int c = 0; c < columns; ++c) {
            const int difference = std::abs(ours[r * ourStride + c] - theirs[r * theirStride + c]);
            result->largest = difference > result->largest ? difference : result->largest;
            result->differing += difference != 0;
            ++result->compared;
        }
    }
}

Comparison DecodeAndCompare(const Picture422& picture, const char* label) {
    YCbCr422Picture input;
    input.y = picture.y.data();
    input.cb = picture.cb.data();
    input.cr = picture.cr.data();
    input.width = picture.width;
    input.height = picture.height;
    input.lumaStride = picture.width;
    input.chromaStride = picture.chromaWidth();
    std::vector<uint8_t> jpeg, payload;
    EXPECT_TRUE(EncodeMjpaJpeg(input, &jpeg));
    EXPECT_TRUE(ExtractEntropyCodedData(jpeg.data(), jpeg.size(), &payload));

    const int w16 = (picture.width + 15) / 16 * 16;
    const int lines = picture.height / 8 * 8;
    std::vector<uint8_t> luma(static_cast<size_t>(w16) * picture.height, 0);
    std::vector<uint8_t> cb(luma.size() / 2, 0), cr(luma.size() / 2, 0);
    uint8_t* planes[3] = {luma.data(), cb.data(), cr.data()};
    alignas(8) int16_t work[256];
    CJPEGDecoder decoder;
    EXPECT_EQ(decoder.Configure(picture.width, picture.height, w16, work,
                                {static_cast<int32_t>(luma.size()), static_cast<int32_t>(cb.size()),
                                 static_cast<int32_t>(cr.size())}),
              StatusOk);
    CCompressedSample sample;
    sample.data = payload.data();
    sample.size = static_cast<int32_t>(payload.size());
    decoder.Decode(planes, &sample);

    RawPlanes reference;
    EXPECT_TRUE(LibjpegRaw(jpeg, w16, &reference));
    Comparison result;
    Compare(luma.data(), w16, reference.plane[0].data(), w16, reference.width[0], lines, &result);
    Compare(cb.data(), w16 / 2, reference.plane[1].data(), w16 / 2, reference.width[1], lines,
            &result);
    Compare(cr.data(), w16 / 2, reference.plane[2].data(), w16 / 2, reference.width[2], lines,
            &result);
    std::printf(
        "%-28s %4dx%-4d payload %7zu bytes: largest difference %d, %ld of %ld samples "
        "differ (%.4f %%)\n",
        label, picture.width, picture.height, payload.size(), result.largest, result.differing,
        result.compared, 100.0 * result.differing / result.compared);
    ::testing::Test::RecordProperty(std::string(label) + "_largest", result.largest);
    ::testing::Test::RecordProperty(std::string(label) + "_differing",
                                    static_cast<int>(result.differing));
    return result;
}

TEST(DecoderOracle, MatchesLibjpegWithinOne) {
    struct Case {
        const char* label;
        int width, height;
        bool noise;
    };
    const Case cases[] = {
        {"cif scene", 352, 288, false},
        {"pal scene", 720, 576, false},
        {"odd width scene", 100, 60, false},  // W16 112, 7 MCU rows, 4 lines left alone
        {"odd width 360 scene", 360, 288, false},
        {"noise", 176, 144, true},  // large coefficients everywhere
    };
    // The generic variant and the one this processor selects must both hold.
    const int32_t saved = variantIndex;
    SelectProcessorVariant();
    const int32_t selected = variantIndex;
    for (int32_t variant : {0, selected}) {
        variantIndex = variant;
        std::printf("variant %d\n", variant);
        for (const Case& c : cases) {
            const Comparison result =
                DecodeAndCompare(MakeScene(c.width, c.height, 99, c.noise), c.label);
            EXPECT_LE(result.largest, 1) << c.label << ", variant " << variant;
            EXPECT_GT(result.compared, 0) << c.label;
        }
    }
    variantIndex = saved;
}

// The payload wrapped back into a JPEG decodes in libjpeg exactly like the encoder's own file.
TEST(DecoderOracle, WrappedPayloadIsTheSamePicture) {
    const Picture422 picture = MakeScene(100, 40, 5);
    YCbCr422Picture input{picture.y.data(), picture.cb.data(), picture.cr.data(), 100, 40, 100, 50};
    std::vector<uint8_t> jpeg, payload, wrapped;
    ASSERT_TRUE(EncodeMjpaPayload(input, &payload));
    ASSERT_TRUE(EncodeMjpaJpeg(input, &jpeg));
    ASSERT_TRUE(WrapMjpaPayload(payload.data(), payload.size(), 100, 40, &wrapped));
    RawPlanes a, b;
    ASSERT_TRUE(LibjpegRaw(jpeg, 112, &a));
    ASSERT_TRUE(LibjpegRaw(wrapped, 112, &b));
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(a.plane[c], b.plane[c]) << "component " << c;
    }
    EXPECT_FALSE(ExtractEntropyCodedData(wrapped.data(), wrapped.size() - 1, &payload));
    EXPECT_FALSE(WrapMjpaPayload(payload.data(), payload.size(), 0, 40, &wrapped));
}

// Pictures given as RGB go through libjpeg's own colour conversion and still decode alike.
TEST(DecoderOracle, RgbInputDecodesAlike) {
    std::vector<uint8_t> rgb(64 * 16 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) {
        rgb[i] = static_cast<uint8_t>(i * 7 % 251);
    }
    std::vector<uint8_t> jpeg, payload;
    ASSERT_TRUE(EncodeMjpaJpeg(RgbPicture{rgb.data(), 64, 16, 64 * 3}, &jpeg));
    ASSERT_TRUE(ExtractEntropyCodedData(jpeg.data(), jpeg.size(), &payload));
    std::vector<uint8_t> luma(64 * 16), cb(32 * 16), cr(32 * 16);
    uint8_t* planes[3] = {luma.data(), cb.data(), cr.data()};
    alignas(8) int16_t work[256];
    CJPEGDecoder decoder;
    ASSERT_EQ(decoder.Configure(64, 16, 64, work, {64 * 16, 32 * 16, 32 * 16}), StatusOk);
    CCompressedSample sample;
    sample.data = payload.data();
    sample.size = static_cast<int32_t>(payload.size());
    decoder.Decode(planes, &sample);
    RawPlanes reference;
    ASSERT_TRUE(LibjpegRaw(jpeg, 64, &reference));
    Comparison result;
    Compare(luma.data(), 64, reference.plane[0].data(), 64, 64, 16, &result);
    Compare(cr.data(), 32, reference.plane[2].data(), 32, 32, 16, &result);
    EXPECT_LE(result.largest, 1);
}

}  // namespace
}  // namespace fluxmere
