// The reference point for the float kernel: the bundled scaler converting a
// 1920x1080 10-bit 4:2:0 frame to RGBA float on one thread. The scaler
// cannot write packed RGBA float, so it writes planar G, B, R, A float: the
// same 16 bytes per pixel. A program
// of its own because it links FFmpeg, which a process that loads the
// plug-in's runtime table must never do.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <random>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

void BM_SwscaleYuv420p10ToGbrapF32(benchmark::State& state) {
    AVFrame* source = av_frame_alloc();
    AVFrame* target = av_frame_alloc();
    source->format = AV_PIX_FMT_YUV420P10LE;
    target->format = AV_PIX_FMT_GBRAPF32LE;
    source->width = target->width = kWidth;
    source->height = target->height = kHeight;
    source->colorspace = AVCOL_SPC_BT709;
    source->color_range = AVCOL_RANGE_MPEG;
    SwsContext* context = nullptr;
    if (av_frame_get_buffer(source, 0) < 0 || av_frame_get_buffer(target, 0) < 0 ||
        !sws_isSupportedOutput(AV_PIX_FMT_GBRAPF32LE)) {
        state.SkipWithError("the scaler cannot produce RGBA float here");
    } else {
        std::mt19937 rng(1);
        for (int p = 0; p < 3; ++p) {
            const int rows = p ? kHeight / 2 : kHeight;
            for (int y = 0; y < rows; ++y) {
                auto* samples =
                    reinterpret_cast<uint16_t*>(source->data[p] + y * source->linesize[p]);
                for (int x = 0; x < source->linesize[p] / 2; ++x) {
                    samples[x] = static_cast<uint16_t>(rng() & 1023);
                }
            }
        }
        context = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P10LE, kWidth, kHeight,
                                 AV_PIX_FMT_GBRAPF32LE, SWS_POINT, nullptr, nullptr, nullptr);
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

BENCHMARK(BM_SwscaleYuv420p10ToGbrapF32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
