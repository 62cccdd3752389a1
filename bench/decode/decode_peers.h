#pragma once
// The decode side of the benchmarks, shared by decode_bench (with Google Benchmark, next to the
// render path) and decode_lines (the side-by-side decode lines alone, which also build for i686):
// the encoded pictures, our decoder on them, libjpeg-turbo on the same files, and the comparison
// of the two outputs.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bench/side_by_side.h"
#include "decode/jpeg_decoder.h"
#include "device/mjpa_encoder.h"
#include "tests/decode/test_pictures.h"

namespace fluxmere::bench {

using testing::Detail;

struct Encoded {
    int width, height;
    std::vector<uint8_t> jpeg, payload;
};

inline const Encoded& Picture(int width, int height, Detail detail) {
    static std::map<std::string, Encoded> cache;
    const std::string key = std::to_string(width) + "x" + std::to_string(height) +
                            (detail == Detail::kBusy ? "b" : "l");
    Encoded& e = cache[key];
    if (e.jpeg.empty()) {
        e.width = width;
        e.height = height;
        const testing::Picture422 p = testing::MakeScene(width, height, 42, detail);
        YCbCr422Picture input{p.y.data(), p.cb.data(), p.cr.data(),    p.width,
                              p.height,   p.width,     p.chromaWidth()};
        EncodeMjpaJpeg(input, &e.jpeg);
        ExtractEntropyCodedData(e.jpeg.data(), e.jpeg.size(), &e.payload);
    }
    return e;
}

// Which of our implementations runs: what the processor selects (as the DLL), the generic
// variant, or the SSE2 variant.
enum class Ours { kSelected, kGeneric, kSse2 };

inline void UseVariant(Ours ours) {
    SelectProcessorVariant();
    if (ours == Ours::kGeneric) {
        variantIndex = 0;
    } else if (ours == Ours::kSse2) {
        variantIndex = 2;
    }
}

// Our decode on its own: the picture into planes.
struct OurDecoder {
    int width, height, w16;
    std::vector<uint8_t> luma, cb, cr;
    uint8_t* planes[3];
    alignas(8) int16_t coefficients[256];
    CJPEGDecoder decoder;
    CCompressedSample sample;

    explicit OurDecoder(const Encoded& e)
        : width(e.width), height(e.height), w16((e.width + 15) / 16 * 16) {
        luma.resize(static_cast<size_t>(w16) * height);
        cb.resize(luma.size() / 2);
        cr.resize(luma.size() / 2);
        planes[0] = luma.data();
        planes[1] = cb.data();
        planes[2] = cr.data();
        decoder.Configure(width, height, w16, coefficients,
                          {static_cast<int32_t>(luma.size()), static_cast<int32_t>(cb.size()),
                           static_cast<int32_t>(cr.size())});
        sample.data = const_cast<uint8_t*>(e.payload.data());
        sample.size = static_cast<int32_t>(e.payload.size());
    }
    void Decode() { decoder.Decode(planes, &sample); }
};

// libjpeg-turbo: the whole file (headers, the same entropy-coded data) decoded with its accurate
// integer transform (JDCT_ISLOW, the precision of ours) straight to raw 4:2:2 planes by
// jpeg_read_raw_data: no upsampling, no colour conversion, the same W16-wide planes as ours.
class Libjpeg {
public:
    explicit Libjpeg(const Encoded& e) : e_(e), w16_((e.width + 15) / 16 * 16) {
        for (int c = 0; c < 3; ++c) {
            planes_[c].resize(static_cast<size_t>(Stride(c)) * (e.height + 8));
        }
        info_.err = jpeg_std_error(&errors_);
        jpeg_create_decompress(&info_);
    }
    ~Libjpeg() { jpeg_destroy_decompress(&info_); }

    void DecodeRaw() {
        jpeg_mem_src(&info_, e_.jpeg.data(), static_cast<unsigned long>(e_.jpeg.size()));
        jpeg_read_header(&info_, TRUE);
        info_.dct_method = JDCT_ISLOW;
        info_.raw_data_out = TRUE;
        jpeg_start_decompress(&info_);
        JSAMPROW rows[3][8];
        JSAMPARRAY groups[3] = {rows[0], rows[1], rows[2]};
        for (int band = 0; info_.output_scanline < info_.output_height; ++band) {
            for (int c = 0; c < 3; ++c) {
                for (int r = 0; r < 8; ++r) {
                    rows[c][r] = planes_[c].data() + static_cast<size_t>(band * 8 + r) * Stride(c);
                }
            }
            jpeg_read_raw_data(&info_, groups, 8);
        }
        jpeg_finish_decompress(&info_);
    }

    const uint8_t* plane(int c) const { return planes_[c].data(); }
    int Stride(int c) const { return c == 0 ? w16_ : w16_ / 2; }

private:
    const Encoded& e_;
    int w16_;
    std::vector<uint8_t> planes_[3];
    jpeg_decompress_struct info_;
    jpeg_error_mgr errors_;
};

// Our planes against libjpeg-turbo's, both after decoding the same picture: the same transform
// up to rounding, so no sample may differ by more than 1.
inline std::string CompareDecodes(const OurDecoder& ours, const Libjpeg& theirs,
                                  std::string* agreement) {
    Difference worst;
    const uint8_t* ourPlanes[3] = {ours.luma.data(), ours.cb.data(), ours.cr.data()};
    for (int c = 0; c < 3; ++c) {
        const int width = c == 0 ? ours.width : ours.width / 2;
        const Difference d = Compare(ourPlanes[c], c == 0 ? ours.w16 : ours.w16 / 2,
                                     theirs.plane(c), theirs.Stride(c), width, ours.height / 8 * 8);
        worst.largest = std::max(worst.largest, d.largest);
        worst.mean = std::max(worst.mean, d.mean);
        worst.overFour = std::max(worst.overFour, d.overFour);
    }
    return Disagreement(worst, 1, 1.0, 0.0, agreement);
}

// The four pictures of the decode lines and their labels ("decode 720x576 heavy").
struct DecodeCase {
    int width, height;
    Detail detail;
    std::string Label() const {
        return "decode " + std::to_string(width) + "x" + std::to_string(height) +
               (detail == Detail::kBusy ? " heavy" : "");
    }
};
inline const DecodeCase kDecodeCases[] = {{352, 288, Detail::kLight},
                                          {352, 288, Detail::kBusy},
                                          {720, 576, Detail::kLight},
                                          {720, 576, Detail::kBusy}};

}  // namespace fluxmere::bench
