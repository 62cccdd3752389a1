// The DV encoder next to libavcodec's dvvideo encoder (one thread) on the same 720 x 576
// pictures: the device's recorded loop as the engine gets it, camera-like scenes, and busy ones.
// Ours takes the 4:2:2 pictures and filters their chroma itself; libavcodec gets the same
// pictures already in its flavour's sampling (our filter's output, made before timing), so it
// does less. Our side runs the variant the processor selects, and the generic one and SSE2 (what
// the 32-bit engine runs on a processor without AVX2) in rows of their own.
//
// After the runs it prints, per flavour and picture set, from calls of both in turn (median CPU
// time of each call, see bench/side_by_side.h), and the luma PSNR of what libavcodec's decoder
// makes of each encoder's frames:
//   dv encode 720x576 (dvcpro25, device): fluxmere <fps> fps, ffmpeg <fps> fps, ratio <ours/theirs>
//   quality (dvcpro25, device): fluxmere <dB> dB, ffmpeg <dB> dB

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifdef FLUXMERE_BENCH_LIBAVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}
#endif

#include "bench/side_by_side.h"
#include "decode/dispatch.h"
#include "device/picture_loop.h"
#include "tests/decode/test_pictures.h"
#include "tests/transcode/dv_pictures.h"
#include "transcode/dv_chroma.h"
#include "transcode/dv_encoder.h"

namespace fluxmere {
namespace {

using testing::Planes422;
using transcode::DvEncoder;
using transcode::DvFlavour;

struct PictureSet {
    std::string name;
    std::vector<Planes422> pictures;
};

const std::vector<PictureSet>& PictureSets() {
    static const std::vector<PictureSet> sets = [] {
        std::vector<PictureSet> made(3);
        made[0].name = "device";
        for (uint32_t i = 0; i < device::kLoopPictures; ++i) {
            made[0].pictures.push_back(testing::ScaledPicture(
                device::LoopPicture(i), device::kClipPictureWidth, device::kClipPictureHeight));
        }
        made[1].name = "camera";
        made[2].name = "busy";
        for (uint32_t seed = 1; seed <= 8; ++seed) {
            for (int s = 1; s <= 2; ++s) {
                const testing::Picture422 scene = testing::MakeScene(
                    720, 576, seed, s == 1 ? testing::Detail::kLight : testing::Detail::kBusy);
                Planes422 p;
                p.y = scene.y;
                p.cb = scene.cb;
                p.cr = scene.cr;
                made[s].pictures.push_back(std::move(p));
            }
        }
        return made;
    }();
    return sets;
}

const char* FlavourName(DvFlavour flavour) {
    return flavour == DvFlavour::Dvcpro25 ? "dvcpro25" : "dv25";
}

enum class Ours { kSelected, kGeneric, kSse2 };

void UseVariant(Ours which) {
    SelectProcessorVariant();
    if (which == Ours::kGeneric) {
        variantIndex = 0;
    } else if (which == Ours::kSse2) {
        variantIndex = 2;
    }
}

// Our encoder going round a picture set, one picture a call.
class OurEncoder {
public:
    OurEncoder(DvFlavour flavour, const PictureSet& set)
        : encoder_(flavour), set_(set), frame_(encoder_.FrameBytes()) {}
    void Encode() {
        encoder_.Encode(set_.pictures[next_].Picture(), frame_.data());
        next_ = (next_ + 1) % set_.pictures.size();
    }
    const std::vector<uint8_t>& frame() const { return frame_; }

private:
    DvEncoder encoder_;
    const PictureSet& set_;
    std::vector<uint8_t> frame_;
    size_t next_ = 0;
};

void OurEncode(benchmark::State& state, DvFlavour flavour, const PictureSet* set, Ours which) {
    UseVariant(which);
    OurEncoder encoder(flavour, *set);
    for (auto _ : state) {
        encoder.Encode();
        benchmark::DoNotOptimize(encoder.frame().data());
        benchmark::ClobberMemory();
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    UseVariant(Ours::kSelected);
}

#ifdef FLUXMERE_BENCH_LIBAVCODEC
// libavcodec's encoder (and, for the quality line, its decoder) going round the same set.
class Libavcodec {
public:
    Libavcodec(DvFlavour flavour, const PictureSet& set) : set_(set) {
        const bool is411 = flavour == DvFlavour::Dvcpro25;
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_DVVIDEO);
        context_ = avcodec_alloc_context3(codec);
        context_->width = 720;
        context_->height = 576;
        context_->pix_fmt = is411 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
        context_->time_base = {1, 25};
        context_->thread_count = 1;
        ok_ = avcodec_open2(context_, codec, nullptr) == 0;
        packet_ = av_packet_alloc();
        // The pictures in the flavour's sampling, through our own chroma filter.
        for (const Planes422& p : set.pictures) {
            AVFrame* frame = av_frame_alloc();
            frame->format = context_->pix_fmt;
            frame->width = 720;
            frame->height = 576;
            av_frame_get_buffer(frame, 32);
            for (int y = 0; y < 576; ++y) {
                std::copy_n(p.y.data() + y * 720, 720, frame->data[0] + y * frame->linesize[0]);
            }
            const int cw = is411 ? 180 : 360, ch = is411 ? 576 : 288;
            std::vector<uint8_t> cb(size_t(cw) * ch), cr(cb.size());
            if (is411) {
                transcode::dv::ChromaTo411(p.cb.data(), 360, cb.data());
                transcode::dv::ChromaTo411(p.cr.data(), 360, cr.data());
            } else {
                transcode::dv::ChromaTo420(p.cb.data(), 360, false, cb.data());
                transcode::dv::ChromaTo420(p.cr.data(), 360, true, cr.data());
            }
            for (int y = 0; y < ch; ++y) {
                std::copy_n(cb.data() + y * cw, cw, frame->data[1] + y * frame->linesize[1]);
                std::copy_n(cr.data() + y * cw, cw, frame->data[2] + y * frame->linesize[2]);
            }
            frames_.push_back(frame);
        }
    }
    ~Libavcodec() {
        for (AVFrame* frame : frames_) {
            av_frame_free(&frame);
        }
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }
    bool ok() const { return ok_; }

    // Encodes the next picture; the frame stays in packet() until the next call.
    void Encode() {
        av_packet_unref(packet_);
        frames_[next_]->pts = pts_++;
        if (avcodec_send_frame(context_, frames_[next_]) != 0 ||
            avcodec_receive_packet(context_, packet_) != 0) {
            ok_ = false;
        }
        next_ = (next_ + 1) % frames_.size();
    }
    const AVPacket* packet() const { return packet_; }

private:
    const PictureSet& set_;
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<AVFrame*> frames_;
    size_t next_ = 0;
    int64_t pts_ = 0;
    bool ok_ = false;
};

void LibavcodecEncode(benchmark::State& state, DvFlavour flavour, const PictureSet* set) {
    Libavcodec encoder(flavour, *set);
    if (!encoder.ok()) {
        state.SkipWithError("no dvvideo encoder");
        return;
    }
    for (auto _ : state) {
        encoder.Encode();
        benchmark::DoNotOptimize(encoder.packet());
        benchmark::ClobberMemory();
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Luma PSNR of a DV frame as libavcodec decodes it, against the picture.
double DecodedPsnr(const uint8_t* frame, size_t size, const Planes422& picture) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVVIDEO);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    double psnr = 0;
    AVPacket* packet = av_packet_alloc();
    AVFrame* decoded = av_frame_alloc();
    if (avcodec_open2(context, codec, nullptr) == 0 && av_new_packet(packet, int(size)) == 0) {
        std::copy_n(frame, size, packet->data);
        if (avcodec_send_packet(context, packet) == 0 &&
            avcodec_receive_frame(context, decoded) == 0) {
            double squares = 0;
            for (int y = 0; y < 576; ++y) {
                for (int x = 0; x < 720; ++x) {
                    const double d = double(decoded->data[0][y * decoded->linesize[0] + x]) -
                                     picture.y[y * 720 + x];
                    squares += d * d;
                }
            }
            psnr = 10 * std::log10(255.0 * 255.0 * 720 * 576 / std::max(squares, 1.0));
        }
    }
    av_frame_free(&decoded);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return psnr;
}
#endif

struct Case {
    DvFlavour flavour;
    const PictureSet* set;
};

}  // namespace
}  // namespace fluxmere

int main(int argc, char** argv) {
    using namespace fluxmere;
    benchmark::Initialize(&argc, argv);
    std::vector<Case> cases;
    for (DvFlavour flavour : {DvFlavour::Dvcpro25, DvFlavour::Dv25}) {
        for (const PictureSet& set : PictureSets()) {
            const std::string name =
                std::string("dv encode 720x576 ") + FlavourName(flavour) + " " + set.name;
            benchmark::RegisterBenchmark((name + "/fluxmere").c_str(), OurEncode, flavour, &set,
                                         Ours::kSelected)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark((name + "/fluxmere generic").c_str(), OurEncode, flavour,
                                         &set, Ours::kGeneric)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark((name + "/fluxmere sse2").c_str(), OurEncode, flavour,
                                         &set, Ours::kSse2)
                ->Unit(benchmark::kMicrosecond);
#ifdef FLUXMERE_BENCH_LIBAVCODEC
            benchmark::RegisterBenchmark((name + "/libavcodec").c_str(), LibavcodecEncode, flavour,
                                         &set)
                ->Unit(benchmark::kMicrosecond);
#endif
            cases.push_back({flavour, &set});
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

#ifdef FLUXMERE_BENCH_LIBAVCODEC
    UseVariant(Ours::kSelected);
    std::printf("\nSide by side (variant %d%s), median CPU time per frame, as frames per second:\n",
                variantIndex, ActiveSlot() == kWideVectorSlot ? " with AVX2" : "");
    for (const Case& c : cases) {
        OurEncoder ours(c.flavour, *c.set);
        Libavcodec theirs(c.flavour, *c.set);
        if (!theirs.ok()) {
            std::printf("libavcodec has no dvvideo encoder\n");
            return 1;
        }
        const auto [ourTime, theirTime] =
            bench::SideBySide([&] { ours.Encode(); }, [&] { theirs.Encode(); });
        const std::string what = std::string(FlavourName(c.flavour)) + ", " + c.set->name;
        std::printf("dv encode 720x576 (%s): fluxmere %.0f fps, ffmpeg %.0f fps, ratio %.2f\n",
                    what.c_str(), 1e6 / ourTime, 1e6 / theirTime, theirTime / ourTime);
        // Quality: each picture of the set through both encoders and libavcodec's decoder.
        OurEncoder ourQuality(c.flavour, *c.set);
        Libavcodec theirQuality(c.flavour, *c.set);
        double ourPsnr = 0, theirPsnr = 0;
        for (const Planes422& picture : c.set->pictures) {
            ourQuality.Encode();
            theirQuality.Encode();
            ourPsnr += DecodedPsnr(ourQuality.frame().data(), ourQuality.frame().size(), picture);
            theirPsnr += DecodedPsnr(theirQuality.packet()->data,
                                     static_cast<size_t>(theirQuality.packet()->size), picture);
        }
        const double n = static_cast<double>(c.set->pictures.size());
        std::printf("quality (%s): fluxmere %.2f dB, ffmpeg %.2f dB (mean luma PSNR)\n",
                    what.c_str(), ourPsnr / n, theirPsnr / n);
        std::fflush(stdout);
    }
#endif
    return 0;
}
