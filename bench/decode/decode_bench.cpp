// Our decode, and the whole render path as the viewer runs it (FrameRenderer: the payload copied
// in, decode, colour conversion to the bitmap's byte order, cubic resize), next to
// libjpeg-turbo decoding the same pictures as whole JPEG files (to raw planes, and to RGB
// followed by libswscale's bicubic scale). Our side selects the processor variant as the DLL
// does; "generic" and "sse2" rows force variant 0 and the SSE2 variant (what the i686 DLL runs on
// a processor without AVX2).
//
// After the runs it prints one line per case, from calls of ours and theirs in turn (median CPU
// time of each, see bench/side_by_side.h):
//   decode 720x576: fluxmere <us> us, libjpeg-turbo <us> us, ratio <libjpeg-turbo / fluxmere>
//   render 352x288->720x576: fluxmere <us> us, libjpeg-turbo+swscale <us> us, ratio <...>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>

#ifdef FLUXMERE_BENCH_SWSCALE
extern "C" {
#include <libswscale/swscale.h>
}
#endif

#include "bench/side_by_side.h"
#include "decode/jpeg_decoder.h"
#include "device/mjpa_encoder.h"
#include "player/frame_renderer.h"
#include "tests/decode/test_pictures.h"

namespace fluxmere {
namespace {

using testing::Detail;

struct Encoded {
    int width, height;
    std::vector<uint8_t> jpeg, payload;
};

const Encoded& Picture(int width, int height, Detail detail) {
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

void UseVariant(Ours ours) {
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

// The viewer's render path, through the viewer's own renderer: the frame's payload copied in,
// decoded, converted and scaled into the bitmap the control paints.
struct OurRenderer {
    const Encoded& e;
    FrameRenderer renderer;
    RenderedPicture picture;

    OurRenderer(const Encoded& encoded, int toWidth, int toHeight) : e(encoded) {
        if (!renderer.IsValid() || !renderer.PrepareSource(e.width, e.height) ||
            !renderer.SetTarget(toWidth, toHeight)) {
            std::fprintf(stderr, "renderer setup failed\n");
            std::exit(1);
        }
    }
    void Render() {
        renderer.TakePayload(e.payload.data(), e.payload.size());
        renderer.Render(&picture);
    }
};

void OurDecode(benchmark::State& state, const Encoded* e, Ours ours) {
    UseVariant(ours);
    OurDecoder r(*e);
    for (auto _ : state) {
        r.Decode();
        benchmark::DoNotOptimize(r.luma.data());
    }
}

void OurRender(benchmark::State& state, const Encoded* e, int toWidth, int toHeight, Ours ours) {
    UseVariant(ours);
    OurRenderer r(*e, toWidth, toHeight);
    for (auto _ : state) {
        r.Render();
        benchmark::DoNotOptimize(r.picture.pixels);
    }
}

// libjpeg-turbo: the whole file to raw planes, or to RGB (then scaled by libswscale).
class Libjpeg {
public:
    explicit Libjpeg(const Encoded& e) : e_(e), w16_((e.width + 15) / 16 * 16) {
        for (auto& plane : planes_) {
            plane.resize(static_cast<size_t>(w16_) * (e.height + 8));
        }
        rgb_.resize(static_cast<size_t>(e.width) * 3 * e.height);
        info_.err = jpeg_std_error(&errors_);
        jpeg_create_decompress(&info_);
    }
    ~Libjpeg() { jpeg_destroy_decompress(&info_); }

    void DecodeRaw() {
        Start(false);
        JSAMPROW rows[3][8];
        JSAMPARRAY groups[3] = {rows[0], rows[1], rows[2]};
        for (int band = 0; info_.output_scanline < info_.output_height; ++band) {
            for (int c = 0; c < 3; ++c) {
                const int stride = c == 0 ? w16_ : w16_ / 2;
                for (int r = 0; r < 8; ++r) {
                    rows[c][r] = planes_[c].data() + static_cast<size_t>(band * 8 + r) * stride;
                }
            }
            jpeg_read_raw_data(&info_, groups, 8);
        }
        jpeg_finish_decompress(&info_);
    }

    void DecodeRgb() {
        Start(true);
        while (info_.output_scanline < info_.output_height) {
            JSAMPROW row = rgb_.data() + static_cast<size_t>(info_.output_scanline) * e_.width * 3;
            jpeg_read_scanlines(&info_, &row, 1);
        }
        jpeg_finish_decompress(&info_);
    }

    const uint8_t* rgb() const { return rgb_.data(); }
    const uint8_t* luma() const { return planes_[0].data(); }

private:
    void Start(bool toRgb) {
        jpeg_mem_src(&info_, e_.jpeg.data(), static_cast<unsigned long>(e_.jpeg.size()));
        jpeg_read_header(&info_, TRUE);
        info_.dct_method = JDCT_ISLOW;
        if (toRgb) {
            info_.out_color_space = JCS_RGB;
        } else {
            info_.raw_data_out = TRUE;
        }
        jpeg_start_decompress(&info_);
    }

    const Encoded& e_;
    int w16_;
    std::vector<uint8_t> planes_[3], rgb_;
    jpeg_decompress_struct info_;
    jpeg_error_mgr errors_;
};

void LibjpegDecode(benchmark::State& state, const Encoded* e) {
    Libjpeg decoder(*e);
    for (auto _ : state) {
        decoder.DecodeRaw();
        benchmark::DoNotOptimize(decoder.luma());
    }
}

#ifdef FLUXMERE_BENCH_SWSCALE
// libjpeg-turbo's decode to RGB, then libswscale's bicubic scale to the target.
class LibjpegSwscale {
public:
    LibjpegSwscale(const Encoded& e, int toWidth, int toHeight)
        : e_(e), decoder_(e), toWidth_(toWidth) {
        target_.resize(static_cast<size_t>(toWidth) * 3 * toHeight);
        context_ = sws_getContext(e.width, e.height, AV_PIX_FMT_RGB24, toWidth, toHeight,
                                  AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    }
    ~LibjpegSwscale() { sws_freeContext(context_); }

    void Render() {
        decoder_.DecodeRgb();
        const uint8_t* src[4] = {decoder_.rgb(), nullptr, nullptr, nullptr};
        const int srcStride[4] = {e_.width * 3, 0, 0, 0};
        uint8_t* dst[4] = {target_.data(), nullptr, nullptr, nullptr};
        const int dstStride[4] = {toWidth_ * 3, 0, 0, 0};
        sws_scale(context_, src, srcStride, 0, e_.height, dst, dstStride);
    }
    const uint8_t* target() const { return target_.data(); }

private:
    const Encoded& e_;
    Libjpeg decoder_;
    int toWidth_;
    std::vector<uint8_t> target_;
    SwsContext* context_;
};

void LibjpegSwscaleRender(benchmark::State& state, const Encoded* e, int toWidth, int toHeight) {
    LibjpegSwscale renderer(*e, toWidth, toHeight);
    for (auto _ : state) {
        renderer.Render();
        benchmark::DoNotOptimize(renderer.target());
    }
}
#endif

struct Case {
    std::string label;       // "decode 720x576 heavy"
    std::string theirLabel;  // "libjpeg-turbo"
    std::function<void()> ours, theirs;
};

}  // namespace
}  // namespace fluxmere

int main(int argc, char** argv) {
    using namespace fluxmere;
    benchmark::Initialize(&argc, argv);

    // Objects of the side-by-side lines, kept for the whole run.
    std::vector<std::unique_ptr<OurDecoder>> decoderObjects;
    std::vector<std::unique_ptr<OurRenderer>> ourObjects;
    std::vector<std::unique_ptr<Libjpeg>> libjpegObjects;
    std::vector<Case> cases;
    struct Size {
        int width, height;
    };
    for (const Size size : {Size{352, 288}, Size{720, 576}}) {
        for (const Detail detail : {Detail::kLight, Detail::kBusy}) {
            const Encoded* e = &Picture(size.width, size.height, detail);
            const std::string name = "decode " + std::to_string(size.width) + "x" +
                                     std::to_string(size.height) +
                                     (detail == Detail::kBusy ? " heavy" : "");
            const std::string bytes = " (" + std::to_string(e->payload.size() / 1024) + " KB)";
            benchmark::RegisterBenchmark((name + bytes + "/fluxmere").c_str(), OurDecode, e,
                                         Ours::kSelected)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark((name + bytes + "/fluxmere generic").c_str(), OurDecode, e,
                                         Ours::kGeneric)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark((name + bytes + "/fluxmere sse2").c_str(), OurDecode, e,
                                         Ours::kSse2)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark((name + bytes + "/libjpeg-turbo").c_str(), LibjpegDecode,
                                         e)
                ->Unit(benchmark::kMicrosecond);
            decoderObjects.push_back(std::make_unique<OurDecoder>(*e));
            libjpegObjects.push_back(std::make_unique<Libjpeg>(*e));
            OurDecoder* ours = decoderObjects.back().get();
            Libjpeg* theirs = libjpegObjects.back().get();
            cases.push_back({name, "libjpeg-turbo", [ours] { ours->Decode(); },
                             [theirs] { theirs->DecodeRaw(); }});
        }
    }
#ifdef FLUXMERE_BENCH_SWSCALE
    std::vector<std::unique_ptr<LibjpegSwscale>> swscaleObjects;
    struct Render {
        int width, height, toWidth, toHeight;
        Detail detail;
    };
    for (const Render r :
         {Render{352, 288, 720, 576, Detail::kLight}, Render{720, 576, 720, 576, Detail::kLight},
          Render{720, 576, 720, 576, Detail::kBusy}}) {
        const Encoded* e = &Picture(r.width, r.height, r.detail);
        const std::string name = "render " + std::to_string(r.width) + "x" +
                                 std::to_string(r.height) + "->" + std::to_string(r.toWidth) + "x" +
                                 std::to_string(r.toHeight) +
                                 (r.detail == Detail::kBusy ? " heavy" : "");
        benchmark::RegisterBenchmark((name + "/fluxmere").c_str(), OurRender, e, r.toWidth,
                                     r.toHeight, Ours::kSelected)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "/fluxmere generic").c_str(), OurRender, e, r.toWidth,
                                     r.toHeight, Ours::kGeneric)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "/fluxmere sse2").c_str(), OurRender, e, r.toWidth,
                                     r.toHeight, Ours::kSse2)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "/libjpeg-turbo+swscale").c_str(),
                                     LibjpegSwscaleRender, e, r.toWidth, r.toHeight)
            ->Unit(benchmark::kMicrosecond);
        ourObjects.push_back(std::make_unique<OurRenderer>(*e, r.toWidth, r.toHeight));
        swscaleObjects.push_back(std::make_unique<LibjpegSwscale>(*e, r.toWidth, r.toHeight));
        OurRenderer* ours = ourObjects.back().get();
        LibjpegSwscale* theirs = swscaleObjects.back().get();
        cases.push_back({name, "libjpeg-turbo+swscale", [ours] { ours->Render(); },
                         [theirs] { theirs->Render(); }});
    }
#endif

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // The lines: our selected variant and the peer called in turn, medians of each call's CPU
    // time.
    UseVariant(Ours::kSelected);
    std::printf("\nSide by side (variant %d%s), median CPU time per picture:\n", variantIndex,
                ActiveSlot() == kWideVectorSlot ? " with AVX2" : "");
    for (const Case& c : cases) {
        bench::PrintSideBySide(c.label, c.theirLabel, c.ours, c.theirs);
    }
    return 0;
}
