// The D-10 encoder against libavcodec's MPEG-2 encoder doing the same work: intra-only 4:2:2
// frames of 720 x 608 (the same 32 black lines above each picture) at the same rate, one thread,
// interlaced DCT, 10-bit DC, the non-linear quantiser, the intra VLC table and the alternate
// scan. The pictures are the device's moving test pattern at 720 x 576, as they are and with
// camera-like noise. After the runs, from calls of both in turn, one line per picture set:
//   imx50 encode 720x576: fluxmere <fps> fps, ffmpeg <fps> fps, ratio <ffmpeg time / ours>
// and what both outputs are worth: the luma PSNR of their decoded pictures and their frame size.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#ifdef FLUXMERE_BENCH_AVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}
#endif

#include "bench/side_by_side.h"
#include "decode/dispatch.h"
#include "device/studio_ycbcr.h"
#include "device/test_pattern.h"
#include "transcode/d10_encoder.h"

namespace {

using fluxmere::transcode::D10Encoder;
using fluxmere::transcode::ImxRate;
using fluxmere::transcode::kEncodeHeight;
using fluxmere::transcode::kEncodeWidth;

constexpr int kCodedHeight = 608;
constexpr int kBlankLines = kCodedHeight - kEncodeHeight;
constexpr int kPictures = 25;

// One 720 x 576 picture, planar 4:2:2 at video levels.
struct Picture {
    std::vector<uint8_t> y, cb, cr;

    fluxmere::transcode::Picture422 View() const {
        return {y.data(), cb.data(), cr.data(), kEncodeWidth, kEncodeWidth / 2};
    }
};

// A second of the device's test pattern; with `noise`, every sample moved by up to that much.
std::vector<Picture> Pictures(int noise) {
    std::vector<uint8_t> rgb(size_t{kEncodeWidth} * kEncodeHeight * 3);
    fluxmere::device::StudioRangeConverter converter;
    std::mt19937 random(1);
    std::uniform_int_distribution<int> grain(-noise, noise);
    std::vector<Picture> pictures;
    for (int i = 0; i < kPictures; ++i) {
        fluxmere::device::RenderTestPattern(kEncodeWidth, kEncodeHeight, static_cast<uint32_t>(i),
                                            rgb.data());
        const fluxmere::YCbCr422Picture planes =
            converter.Convert({rgb.data(), kEncodeWidth, kEncodeHeight, kEncodeWidth * 3});
        Picture picture;
        const auto take = [&](const uint8_t* plane, int width, int stride, int high) {
            std::vector<uint8_t> samples(size_t(width) * kEncodeHeight);
            for (int row = 0; row < kEncodeHeight; ++row) {
                for (int x = 0; x < width; ++x) {
                    const int value = plane[row * stride + x] + grain(random);
                    samples[size_t(row) * width + x] =
                        static_cast<uint8_t>(value < 16 ? 16 : (value > high ? high : value));
                }
            }
            return samples;
        };
        picture.y = take(planes.y, kEncodeWidth, planes.lumaStride, 235);
        picture.cb = take(planes.cb, kEncodeWidth / 2, planes.chromaStride, 240);
        picture.cr = take(planes.cr, kEncodeWidth / 2, planes.chromaStride, 240);
        pictures.push_back(std::move(picture));
    }
    return pictures;
}

void BM_D10Encode(benchmark::State& state) {
    fluxmere::SelectProcessorVariant();  // as the tool and the engine do when they start
    const std::vector<Picture> pictures = Pictures(static_cast<int>(state.range(1)));
    D10Encoder encoder(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> frame(encoder.FrameBytes());
    size_t next = 0;
    for (auto _ : state) {
        encoder.Encode(pictures[next].View(), frame.data());
        next = (next + 1) % pictures.size();
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_D10Encode)
    ->ArgNames({"bytes", "noise"})
    ->Args({150000, 0})
    ->Args({250000, 0})
    ->Args({250000, 12})
    ->Unit(benchmark::kMillisecond);

#ifdef FLUXMERE_BENCH_AVCODEC

// libavcodec's MPEG-2 encoder set up as a D-10 encoder, with the pictures already in its frames.
class FfmpegIntraEncoder {
public:
    FfmpegIntraEncoder(const std::vector<Picture>& pictures, size_t frameBytes) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
        context_ = avcodec_alloc_context3(codec);
        const int64_t frameBits = static_cast<int64_t>(frameBytes) * 8;
        context_->width = kEncodeWidth;
        context_->height = kCodedHeight;
        context_->pix_fmt = AV_PIX_FMT_YUV422P;
        context_->time_base = {1, 25};
        context_->framerate = {25, 1};
        context_->gop_size = 0;  // intra only
        context_->bit_rate = frameBits * 25;
        context_->rc_max_rate = frameBits * 25;
        context_->rc_buffer_size = static_cast<int>(frameBits);
        context_->qmin = 1;
        context_->qmax = 28;  // its non-linear quantiser goes no further
        context_->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_LOW_DELAY;
        context_->intra_dc_precision = 2;  // 10 bits
        context_->field_order = AV_FIELD_TT;
        context_->thread_count = 1;
        av_opt_set_int(context_->priv_data, "non_linear_quant", 1, 0);
        av_opt_set_int(context_->priv_data, "intra_vlc", 1, 0);
        av_opt_set_int(context_->priv_data, "alternate_scan", 1, 0);
        opened_ = avcodec_open2(context_, codec, nullptr) == 0;
        packet_ = av_packet_alloc();
        for (const Picture& picture : pictures) {
            AVFrame* frame = av_frame_alloc();
            frame->format = AV_PIX_FMT_YUV422P;
            frame->width = kEncodeWidth;
            frame->height = kCodedHeight;
            av_frame_get_buffer(frame, 32);
            const std::vector<uint8_t>* planes[3] = {&picture.y, &picture.cb, &picture.cr};
            for (int p = 0; p < 3; ++p) {
                const int width = p == 0 ? kEncodeWidth : kEncodeWidth / 2;
                for (int row = 0; row < kCodedHeight; ++row) {
                    uint8_t* line = frame->data[p] + row * frame->linesize[p];
                    if (row < kBlankLines) {
                        std::fill_n(line, width, p == 0 ? 16 : 128);
                    } else {
                        std::copy_n(planes[p]->data() + size_t(row - kBlankLines) * width, width,
                                    line);
                    }
                }
            }
            frames_.push_back(frame);
        }
    }
    ~FfmpegIntraEncoder() {
        for (AVFrame* frame : frames_) {
            av_frame_free(&frame);
        }
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }

    bool opened() const { return opened_; }

    // Encodes picture `index`; `out`, when given, receives the frame.
    size_t Encode(size_t index, std::vector<uint8_t>* out = nullptr) {
        AVFrame* frame = frames_[index];
        frame->pts = pts_++;
        size_t bytes = 0;
        if (avcodec_send_frame(context_, frame) == 0 &&
            avcodec_receive_packet(context_, packet_) == 0) {
            bytes = static_cast<size_t>(packet_->size);
            if (out != nullptr) {
                out->assign(packet_->data, packet_->data + packet_->size);
            }
            av_packet_unref(packet_);
        }
        return bytes;
    }

private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<AVFrame*> frames_;
    int64_t pts_ = 0;
    bool opened_ = false;
};

void BM_FfmpegMpeg2Intra(benchmark::State& state) {
    const std::vector<Picture> pictures = Pictures(static_cast<int>(state.range(1)));
    FfmpegIntraEncoder encoder(pictures, static_cast<size_t>(state.range(0)));
    if (!encoder.opened()) {
        state.SkipWithError("libavcodec's encoder did not open");
        return;
    }
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(encoder.Encode(next));
        next = (next + 1) % pictures.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FfmpegMpeg2Intra)
    ->ArgNames({"bytes", "noise"})
    ->Args({150000, 0})
    ->Args({250000, 0})
    ->Args({250000, 12})
    ->Unit(benchmark::kMillisecond);

// Decodes one MPEG-2 frame to its 720 x 608 luma.
class LumaDecoder {
public:
    LumaDecoder() {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG2VIDEO);
        context_ = avcodec_alloc_context3(codec);
        context_->thread_count = 1;
        avcodec_open2(context_, codec, nullptr);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
    }
    ~LumaDecoder() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }

    // The luma PSNR of the picture lines against the original; 0 when nothing was decoded.
    double Psnr(std::vector<uint8_t> frame, const Picture& original) {
        frame.resize(frame.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet_->data = frame.data();
        packet_->size = static_cast<int>(frame.size() - AV_INPUT_BUFFER_PADDING_SIZE);
        if (avcodec_send_packet(context_, packet_) != 0 ||
            avcodec_receive_frame(context_, frame_) != 0 || frame_->height != kCodedHeight) {
            return 0;
        }
        double squares = 0;
        for (int row = 0; row < kEncodeHeight; ++row) {
            const uint8_t* line = frame_->data[0] + (row + kBlankLines) * frame_->linesize[0];
            for (int x = 0; x < kEncodeWidth; ++x) {
                const double d = double(line[x]) - original.y[size_t(row) * kEncodeWidth + x];
                squares += d * d;
            }
        }
        av_frame_unref(frame_);
        const double mean = squares / (double(kEncodeWidth) * kEncodeHeight);
        return mean == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mean);
    }

private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
};

void CompareSideBySide(const std::string& label, int noise) {
    const std::vector<Picture> pictures = Pictures(noise);
    D10Encoder ours(ImxRate::Imx50);
    FfmpegIntraEncoder theirs(pictures, ours.FrameBytes());
    if (!theirs.opened()) {
        std::printf("%s: libavcodec's encoder did not open\n", label.c_str());
        return;
    }
    std::vector<uint8_t> frame(ours.FrameBytes());
    size_t ourNext = 0, theirNext = 0;
    const auto [ourTime, theirTime] = fluxmere::bench::SideBySide(
        [&] {
            ours.Encode(pictures[ourNext].View(), frame.data());
            ourNext = (ourNext + 1) % pictures.size();
        },
        [&] {
            theirs.Encode(theirNext);
            theirNext = (theirNext + 1) % pictures.size();
        });
    std::printf("%s: fluxmere %.0f fps, ffmpeg %.0f fps, ratio %.2f\n", label.c_str(),
                1e6 / ourTime, 1e6 / theirTime, theirTime / ourTime);

    // What both made of the same pictures.
    LumaDecoder ourDecoder, theirDecoder;
    double ourPsnr = 1e9, theirPsnr = 1e9, ourBytes = 0, theirBytes = 0;
    std::vector<uint8_t> theirFrame;
    for (size_t i = 0; i < pictures.size(); ++i) {
        ours.Encode(pictures[i].View(), frame.data());
        theirs.Encode(i, &theirFrame);
        ourPsnr = std::min(ourPsnr, ourDecoder.Psnr(frame, pictures[i]));
        theirPsnr = std::min(theirPsnr, theirDecoder.Psnr(theirFrame, pictures[i]));
        ourBytes += double(frame.size()) / pictures.size();
        theirBytes += double(theirFrame.size()) / pictures.size();
    }
    std::printf(
        "%s, lowest luma PSNR: fluxmere %.2f dB, ffmpeg %.2f dB; mean frame: fluxmere "
        "%.0f bytes, ffmpeg %.0f bytes\n",
        label.c_str(), ourPsnr, theirPsnr, ourBytes, theirBytes);
    std::fflush(stdout);
}

#endif  // FLUXMERE_BENCH_AVCODEC

}  // namespace

int main(int argc, char** argv) {
#ifdef FLUXMERE_BENCH_AVCODEC
    av_log_set_level(AV_LOG_ERROR);  // not its remarks on the rate settings
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
#ifdef FLUXMERE_BENCH_AVCODEC
    fluxmere::SelectProcessorVariant();
    std::printf("\nSide by side, median CPU time per frame (IMX50, 250000-byte frames):\n");
    CompareSideBySide("imx50 encode 720x576", 0);
    CompareSideBySide("imx50 encode 720x576 noisy", 12);
#endif
    return 0;
}
