// Our decode (and decode + colour conversion) of 352x288 and 720x576 payloads next to libjpeg
// decoding the same pictures, as whole JPEG files, to raw planes and to RGB.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "decode/jpeg_decoder.h"
#include "device/mjpa_encoder.h"
#include "tests/decode/test_pictures.h"

namespace fluxmere {
namespace {

struct Encoded {
    int width, height;
    std::vector<uint8_t> jpeg, payload;
};

const Encoded& Picture(int width) {
    static Encoded cif{352, 288, {}, {}}, pal{720, 576, {}, {}};
    Encoded& e = width == 352 ? cif : pal;
    if (e.jpeg.empty()) {
        const testing::Picture422 p = testing::MakeScene(e.width, e.height, 42);
        YCbCr422Picture input{p.y.data(), p.cb.data(), p.cr.data(),    p.width,
                              p.height,   p.width,     p.chromaWidth()};
        EncodeMjpaJpeg(input, &e.jpeg);
        ExtractEntropyCodedData(e.jpeg.data(), e.jpeg.size(), &e.payload);
    }
    return e;
}

struct OurDecoder {
    int w16;
    std::vector<uint8_t> luma, cb, cr, rgb;
    uint8_t* planes[3];
    alignas(8) int16_t work[256];
    CJPEGDecoder decoder;
    CCompressedSample sample;

    explicit OurDecoder(const Encoded& e) : w16((e.width + 15) / 16 * 16) {
        luma.resize(static_cast<size_t>(w16) * e.height);
        cb.resize(luma.size() / 2);
        cr.resize(luma.size() / 2);
        rgb.resize(luma.size() * 3);
        planes[0] = luma.data();
        planes[1] = cb.data();
        planes[2] = cr.data();
        decoder.Configure(e.width, e.height, w16, work,
                          {static_cast<int32_t>(luma.size()), static_cast<int32_t>(cb.size()),
                           static_cast<int32_t>(cr.size())});
        sample.data = const_cast<uint8_t*>(e.payload.data());
        sample.size = static_cast<int32_t>(e.payload.size());
    }
    void Convert(int height) {
        const uint8_t* sources[3] = {planes[0], planes[2], planes[1]};
        const int32_t strides[3] = {w16, w16 / 2, w16 / 2};
        YCbCr422ToRGB(sources, strides, rgb.data(), 3 * w16, w16, height);
    }
};

void SetVariant(benchmark::State& state) {
    if (state.range(1) == 0) {
        variantIndex = 0;
    } else {
        SelectProcessorVariant();
    }
    state.SetLabel("variant " + std::to_string(variantIndex));
}

void OurDecode(benchmark::State& state) {
    SetVariant(state);
    const Encoded& e = Picture(static_cast<int>(state.range(0)));
    OurDecoder d(e);
    for (auto _ : state) {
        d.decoder.Decode(d.planes, &d.sample);
        benchmark::DoNotOptimize(d.luma.data());
    }
    variantIndex = 0;
}

void OurDecodeToRgb(benchmark::State& state) {
    SetVariant(state);
    const Encoded& e = Picture(static_cast<int>(state.range(0)));
    OurDecoder d(e);
    for (auto _ : state) {
        d.decoder.Decode(d.planes, &d.sample);
        d.Convert(e.height);
        benchmark::DoNotOptimize(d.rgb.data());
    }
    variantIndex = 0;
}

void ColourConversion(benchmark::State& state) {
    SetVariant(state);
    const Encoded& e = Picture(static_cast<int>(state.range(0)));
    OurDecoder d(e);
    d.decoder.Decode(d.planes, &d.sample);
    for (auto _ : state) {
        d.Convert(e.height);
        benchmark::DoNotOptimize(d.rgb.data());
    }
    variantIndex = 0;
}

void LibjpegDecode(benchmark::State& state, bool toRgb) {
    const Encoded& e = Picture(static_cast<int>(state.range(0)));
    const int w16 = (e.width + 15) / 16 * 16;
    std::vector<uint8_t> planes[3] = {
        std::vector<uint8_t>(static_cast<size_t>(w16) * (e.height + 8)),
        std::vector<uint8_t>(static_cast<size_t>(w16) * (e.height + 8)),
        std::vector<uint8_t>(static_cast<size_t>(w16) * (e.height + 8))};
    std::vector<uint8_t> rgb(static_cast<size_t>(e.width) * 3 * e.height);
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    for (auto _ : state) {
        jpeg_mem_src(&info, e.jpeg.data(), static_cast<unsigned long>(e.jpeg.size()));
        jpeg_read_header(&info, TRUE);
        info.dct_method = JDCT_ISLOW;
        if (toRgb) {
            info.out_color_space = JCS_RGB;
            jpeg_start_decompress(&info);
            while (info.output_scanline < info.output_height) {
                JSAMPROW row = rgb.data() + static_cast<size_t>(info.output_scanline) * e.width * 3;
                jpeg_read_scanlines(&info, &row, 1);
            }
        } else {
            info.raw_data_out = TRUE;
            jpeg_start_decompress(&info);
            JSAMPROW rows[3][8];
            JSAMPARRAY groups[3] = {rows[0], rows[1], rows[2]};
            for (int band = 0; info.output_scanline < info.output_height; ++band) {
                for (int c = 0; c < 3; ++c) {
                    const int stride = c == 0 ? w16 : w16 / 2;
                    for (int r = 0; r < 8; ++r) {
                        rows[c][r] = planes[c].data() + static_cast<size_t>(band * 8 + r) * stride;
                    }
                }
                jpeg_read_raw_data(&info, groups, 8);
            }
        }
        jpeg_finish_decompress(&info);
        benchmark::DoNotOptimize(planes[0].data());
        benchmark::DoNotOptimize(rgb.data());
    }
    jpeg_destroy_decompress(&info);
}

void LibjpegRaw(benchmark::State& state) {
    LibjpegDecode(state, false);
}
void LibjpegRgb(benchmark::State& state) {
    LibjpegDecode(state, true);
}

// Arguments: picture width (352 or 720); variant 0 = generic, 1 = what the processor selects.
BENCHMARK(OurDecode)->ArgsProduct({{352, 720}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(OurDecodeToRgb)->ArgsProduct({{352, 720}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(ColourConversion)->ArgsProduct({{352, 720}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(LibjpegRaw)->Arg(352)->Arg(720)->Unit(benchmark::kMicrosecond);
BENCHMARK(LibjpegRgb)->Arg(352)->Arg(720)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace fluxmere

BENCHMARK_MAIN();
