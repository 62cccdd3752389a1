// Our decode, and the whole render path as the viewer runs it, next to libjpeg-turbo (and
// libswscale where its development files are installed) doing the same work on the same pictures.
//
// decode: ours decodes the payload (the entropy-coded data alone) into three 4:2:2 planes of W16
// columns; libjpeg-turbo decodes the whole JPEG file around the same data with its accurate
// integer transform (JDCT_ISLOW) and its SIMD, to the same planes with jpeg_read_raw_data. Both
// single-threaded. Afterwards no sample of the two may differ by more than 1.
//
// render: ours is the viewer's FrameRenderer (the payload copied in, decode, colour conversion to
// the bitmap's B, G, R order, cubic resize to the target; at the same size the conversion writes
// the bitmap itself). The peer decodes to raw planes as above and makes the same bitmap with one
// sws_scale call, studio-range BT.601 4:2:2 to BGR24 at the target size, bicubic. The filters
// differ (see CompareRenders), so the outputs must agree within kRenderMeanAllowed on average.
//
// Our side selects the processor variant as the DLL does; the "generic" and "sse2" rows force
// variant 0 and the SSE2 variant (what the i686 DLL runs on a processor without AVX2).
//
// After the runs it prints one line per case, from calls of ours and theirs in turn (median CPU
// time of each, see bench/side_by_side.h), then how the outputs compare:
//   decode 720x576: fluxmere <us> us, libjpeg-turbo <us> us, ratio <libjpeg-turbo / fluxmere> ...
//   render 352x288->720x576: fluxmere <us> us, libjpeg-turbo+swscale <us> us, ratio <...> ...

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

#include "bench/decode/decode_peers.h"
#include "bench/side_by_side.h"
#include "player/frame_renderer.h"

namespace fluxmere {
namespace {

using namespace bench;
using testing::Detail;

// How far our rendered bitmap may lie from the peer's: the mean difference per sample, and the
// share of samples more than 4 apart (measured: at most 1.6 and 8% on these pictures; a picture
// decoded only in part lies tens of levels apart on average).
constexpr double kRenderMeanAllowed = 3.0;
constexpr double kRenderOverFourAllowed = 0.15;

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

void LibjpegDecode(benchmark::State& state, const Encoded* e) {
    Libjpeg decoder(*e);
    for (auto _ : state) {
        decoder.DecodeRaw();
        benchmark::DoNotOptimize(decoder.plane(0));
    }
}

#ifdef FLUXMERE_BENCH_SWSCALE
// The natural pipeline of the peers for the viewer's job: libjpeg-turbo decodes to raw planes
// (as above), then one sws_scale call converts the 4:2:2 planes to B, G, R bytes at the target
// size with its bicubic filter. The planes are declared studio-range BT.601 (AV_PIX_FMT_YUV422P
// with the ITU-R 601 coefficients and limited input range), which is exactly the conversion ours
// does; AV_PIX_FMT_YUVJ422P would declare them full-range and compute other colours at the same
// cost. At the same size swscale takes its unscaled converter; ours converts straight into the
// bitmap too.
class LibjpegSwscale {
public:
    LibjpegSwscale(const Encoded& e, int toWidth, int toHeight)
        : e_(e), decoder_(e), toWidth_(toWidth), toHeight_(toHeight) {
        target_.resize(static_cast<size_t>(toWidth) * 3 * toHeight);
        context_ = sws_getContext(e.width, e.height, AV_PIX_FMT_YUV422P, toWidth, toHeight,
                                  AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (context_ != nullptr) {
            const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
            sws_setColorspaceDetails(context_, bt601, 0, bt601, 1, 0, 1 << 16, 1 << 16);
        }
    }
    ~LibjpegSwscale() { sws_freeContext(context_); }
    bool ok() const { return context_ != nullptr; }

    void Render() {
        decoder_.DecodeRaw();
        const uint8_t* src[4] = {decoder_.plane(0), decoder_.plane(1), decoder_.plane(2), nullptr};
        const int srcStride[4] = {decoder_.Stride(0), decoder_.Stride(1), decoder_.Stride(2), 0};
        uint8_t* dst[4] = {target_.data(), nullptr, nullptr, nullptr};
        const int dstStride[4] = {toWidth_ * 3, 0, 0, 0};
        sws_scale(context_, src, srcStride, 0, e_.height, dst, dstStride);
    }
    const uint8_t* target() const { return target_.data(); }
    int width() const { return toWidth_; }
    int height() const { return toHeight_; }

private:
    const Encoded& e_;
    Libjpeg decoder_;
    int toWidth_, toHeight_;
    std::vector<uint8_t> target_;
    SwsContext* context_;
};

// Our bitmap against the peer's: the same colours, but the filters differ (our cubic through four
// samples from the first to the last pixel, swscale's bicubic kernel between pixel centres, its
// chroma interpolated where ours repeats it), so single samples at edges lie apart; a
// broken or unfinished picture lies far apart on average.
std::string CompareRenders(const OurRenderer& ours, const LibjpegSwscale& theirs,
                           std::string* agreement) {
    const bench::Difference d =
        bench::Compare(ours.picture.pixels, ours.picture.stride, theirs.target(),
                       theirs.width() * 3, theirs.width() * 3, theirs.height());
    return bench::Disagreement(d, 255, kRenderMeanAllowed, kRenderOverFourAllowed, agreement);
}

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
    std::function<std::string(std::string*)> check;
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
    for (const DecodeCase& d : kDecodeCases) {
        const Encoded* e = &Picture(d.width, d.height, d.detail);
        const std::string name = d.Label();
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
        benchmark::RegisterBenchmark((name + bytes + "/libjpeg-turbo").c_str(), LibjpegDecode, e)
            ->Unit(benchmark::kMicrosecond);
        decoderObjects.push_back(std::make_unique<OurDecoder>(*e));
        libjpegObjects.push_back(std::make_unique<Libjpeg>(*e));
        OurDecoder* ours = decoderObjects.back().get();
        Libjpeg* theirs = libjpegObjects.back().get();
        cases.push_back({name, "libjpeg-turbo", [ours] { ours->Decode(); },
                         [theirs] { theirs->DecodeRaw(); },
                         [ours, theirs](std::string* agreement) {
                             return CompareDecodes(*ours, *theirs, agreement);
                         }});
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
        if (!theirs->ok()) {
            std::fprintf(stderr, "no scaler context for %s\n", name.c_str());
            return 1;
        }
        cases.push_back({name, "libjpeg-turbo+swscale", [ours] { ours->Render(); },
                         [theirs] { theirs->Render(); },
                         [ours, theirs](std::string* agreement) {
                             return CompareRenders(*ours, *theirs, agreement);
                         }});
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
        bench::PrintSideBySide(c.label, c.theirLabel, c.ours, c.theirs, c.check);
    }
    return 0;
}
