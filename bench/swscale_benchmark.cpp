// The reference points for the conversions that go through the bundled
// scaler or stand beside it, each on one thread at 1920x1080:
//  - 10-bit 4:2:0 to RGBA float, against the plug-in's float kernel. The
//    scaler cannot write packed RGBA float, so it writes planar G, B, R, A
//    float: the same 16 bytes per pixel.
//  - 10-bit 4:4:4 to 16-bit planar 4:4:4, the scaler's share of the
//    plug-in's Swscale plan to float VUYX (with the plug-in's flags).
//  - planar 10-bit RGB to packed 10-bit RGB, against the Pack10Rgb kernel.
// A program of its own because it links FFmpeg, which a process that loads
// the plug-in's runtime table must never do.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <random>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
// The flags the plug-in's Swscale plans use.
constexpr int kPluginFlags = SWS_POINT | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND;

void convert(benchmark::State& state, AVPixelFormat from, AVPixelFormat to, int flags) {
    AVFrame* source = av_frame_alloc();
    AVFrame* target = av_frame_alloc();
    source->format = from;
    target->format = to;
    source->width = target->width = kWidth;
    source->height = target->height = kHeight;
    SwsContext* context = nullptr;
    if (av_frame_get_buffer(source, 0) < 0 || av_frame_get_buffer(target, 0) < 0 ||
        !sws_isSupportedOutput(to)) {
        state.SkipWithError("the scaler cannot produce this format here");
    } else {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(from);
        const auto mask = static_cast<uint16_t>((1u << d->comp[0].depth) - 1);
        std::mt19937 rng(1);
        for (int p = 0; p < 4 && source->data[p]; ++p) {
            const int rows = p == 1 || p == 2 ? kHeight >> d->log2_chroma_h : kHeight;
            for (int y = 0; y < rows; ++y) {
                auto* samples =
                    reinterpret_cast<uint16_t*>(source->data[p] + y * source->linesize[p]);
                for (int x = 0; x < source->linesize[p] / 2; ++x) {
                    samples[x] = static_cast<uint16_t>(rng() & mask);
                }
            }
        }
        context = sws_getContext(kWidth, kHeight, from, kWidth, kHeight, to, flags, nullptr,
                                 nullptr, nullptr);
        if (context == nullptr) {
            state.SkipWithError("no scaler context");
        }
    }
    for (auto _ : state) {
        if (context == nullptr) {
            break;
        }
        sws_scale(context, source->data, source->linesize, 0, kHeight, target->data,
                  target->linesize);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
    sws_freeContext(context);
    av_frame_free(&source);
    av_frame_free(&target);
}

void BM_SwscaleYuv420p10ToGbrapF32(benchmark::State& state) {
    convert(state, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_GBRAPF32LE, SWS_POINT);
}
void BM_SwscaleYuv444p10ToYuv444p16(benchmark::State& state) {
    convert(state, AV_PIX_FMT_YUV444P10LE, AV_PIX_FMT_YUV444P16LE, kPluginFlags);
}
void BM_SwscaleGbrp10ToX2rgb10(benchmark::State& state) {
    convert(state, AV_PIX_FMT_GBRP10LE, AV_PIX_FMT_X2RGB10LE, kPluginFlags);
}

BENCHMARK(BM_SwscaleYuv420p10ToGbrapF32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwscaleYuv444p10ToYuv444p16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwscaleGbrp10ToX2rgb10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
