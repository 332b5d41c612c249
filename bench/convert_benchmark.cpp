// Speed of the conversion layer on a 1920x1080 frame: the three table
// kernels per instruction-set level on one thread, the same kinds through
// the conversion entry (rows split over the pool), and the copy routes.
// KESTROVA_CONVERT_THREADS sets the pool's workers as in the plug-in.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "ffmpeg/ffmpeg_ptr.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "host/host_api.h"
#include "pixels/conversion_kernels.h"
#include "pixels/conversion_pool.h"
#include "pixels/convert.h"
#include "pixels/host_formats.h"
#include "pixels/kernel_table.h"

namespace {

using kestrova::ConversionKind;
using kestrova::DestinationBuffers;
using kestrova::KernelTable;
using kestrova::TargetPlan;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A frame of random samples, each masked to the format's depth.
kestrova::ffmpeg::FramePtr makeFrame(AVPixelFormat format) {
    const auto& fn = kestrova::ffmpeg::FfmpegRuntime::instance().fn();
    kestrova::ffmpeg::FramePtr frame(fn.av_frame_alloc());
    frame->format = format;
    frame->width = kWidth;
    frame->height = kHeight;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_range = AVCOL_RANGE_MPEG;
    if (fn.av_frame_get_buffer(frame.get(), 0) < 0) {
        return nullptr;
    }
    const AVPixFmtDescriptor* d = fn.av_pix_fmt_desc_get(format);
    const uint32_t mask = (1u << d->comp[0].depth) - 1;
    std::mt19937 rng(1);
    for (int p = 0; p < 4 && frame->data[p]; ++p) {
        const int rows = p == 1 || p == 2 ? kHeight >> d->log2_chroma_h : kHeight;
        for (int y = 0; y < rows; ++y) {
            uint8_t* line = frame->data[p] + y * frame->linesize[p];
            if (d->comp[0].depth > 8) {
                auto* samples = reinterpret_cast<uint16_t*>(line);
                for (int x = 0; x < frame->linesize[p] / 2; ++x) {
                    samples[x] = static_cast<uint16_t>(rng() & mask);
                }
            } else {
                for (int x = 0; x < frame->linesize[p]; ++x) {
                    line[x] = static_cast<uint8_t>(rng());
                }
            }
        }
    }
    return frame;
}

const KernelTable* tableOrSkip(benchmark::State& state) {
    const KernelTable* table = kestrova::kernelTableForLevel(static_cast<int32_t>(state.range(0)));
    if (table == nullptr) {
        state.SkipWithError("processor lacks this level");
    }
    return table;
}

template <typename T>
const T* row(const AVFrame& f, int plane, int y) {
    return reinterpret_cast<const T*>(f.data[plane] + y * f.linesize[plane]);
}

void setPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_YuvToRgbFloatRows(benchmark::State& state) {
    const KernelTable* table = tableOrSkip(state);
    const auto frame = makeFrame(AV_PIX_FMT_YUV420P10LE);
    std::vector<float> out(size_t{4} * kWidth * kHeight);
    const auto k = kestrova::matrixCoefficients(AVCOL_SPC_BT709, false, 10);
    for (auto _ : state) {
        if (table == nullptr) {
            break;
        }
        for (int y = 0; y < kHeight; ++y) {
            const kestrova::YuvRow16 r{row<uint16_t>(*frame, 0, y),
                                       row<uint16_t>(*frame, 1, y / 2),
                                       row<uint16_t>(*frame, 2, y / 2),
                                       nullptr,
                                       kWidth,
                                       1,
                                       1023};
            table->yuvToRgbFloat(r, k, out.data() + size_t{4} * kWidth * y);
        }
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

void BM_InterleaveVuyaRows(benchmark::State& state) {
    const KernelTable* table = tableOrSkip(state);
    const auto frame = makeFrame(AV_PIX_FMT_YUV420P);
    std::vector<uint8_t> out(size_t{4} * kWidth * kHeight);
    for (auto _ : state) {
        if (table == nullptr) {
            break;
        }
        for (int y = 0; y < kHeight; ++y) {
            table->interleaveVuya(row<uint8_t>(*frame, 0, y), row<uint8_t>(*frame, 1, y / 2),
                                  row<uint8_t>(*frame, 2, y / 2), nullptr, kWidth, 1,
                                  out.data() + size_t{4} * kWidth * y);
        }
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

void BM_PackV210Rows(benchmark::State& state) {
    const KernelTable* table = tableOrSkip(state);
    const auto frame = makeFrame(AV_PIX_FMT_YUV422P10LE);
    const int64_t rowBytes = kestrova::v210RowBytes(kWidth);
    std::vector<uint8_t> out(static_cast<size_t>(rowBytes * kHeight));
    for (auto _ : state) {
        if (table == nullptr) {
            break;
        }
        for (int y = 0; y < kHeight; ++y) {
            table->packV210(row<uint16_t>(*frame, 0, y), row<uint16_t>(*frame, 1, y),
                            row<uint16_t>(*frame, 2, y), kWidth, out.data() + rowBytes * y);
        }
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

// One plan through the conversion entry into host buffers of the plan's layout.
void convertThrough(benchmark::State& state, AVPixelFormat format, const char (&fourCC)[5],
                    ConversionKind kind, int64_t packedRowBytes) {
    const auto frame = makeFrame(format);
    TargetPlan plan;
    plan.format = kestrova::host::fourCC(fourCC);
    plan.kind = kind;
    plan.sourceFormat = format;
    DestinationBuffers d;
    d.width = kWidth;
    d.height = kHeight;
    // Room for every route: 16 bytes per pixel for the packed buffer, full
    // width planes for the copy routes.
    std::vector<uint8_t> packed(static_cast<size_t>(packedRowBytes * kHeight * 3 / 2));
    std::vector<uint8_t> planes[3];
    for (int p = 0; p < 3; ++p) {
        planes[p].resize(size_t{2} * kWidth * kHeight);
        d.planes[p] = {planes[p].data(), 2 * kWidth};
    }
    d.packed = {packed.data(), packedRowBytes};
    for (auto _ : state) {
        const auto result = kestrova::convertFrame(plan, frame.get(), d);
        if (result.status != kestrova::ConvertStatus::Ok) {
            state.SkipWithError(result.reason.c_str());
            break;
        }
        benchmark::ClobberMemory();
    }
    state.counters["level"] = kestrova::activeKernelTable().level;
    state.counters["workers"] = kestrova::ConversionPool::instance().workers();
    setPixels(state);
}

void BM_ConvertMatrixToRgbFloat10(benchmark::State& state) {
    convertThrough(state, AV_PIX_FMT_YUV420P10LE, "BGra", ConversionKind::MatrixToRgbFloat,
                   16 * kWidth);
}
void BM_ConvertMatrixToRgbFloat8(benchmark::State& state) {
    convertThrough(state, AV_PIX_FMT_YUV420P, "BGrx", ConversionKind::MatrixToRgbFloat,
                   16 * kWidth);
}
void BM_ConvertInterleaveVuya(benchmark::State& state) {
    convertThrough(state, AV_PIX_FMT_YUV420P, "VUYA", ConversionKind::InterleaveVuya, 4 * kWidth);
}
void BM_ConvertPackV210(benchmark::State& state) {
    convertThrough(state, AV_PIX_FMT_YUV422P10LE, "v210", ConversionKind::PackV210,
                   kestrova::v210RowBytes(kWidth));
}
void BM_RoutePlanarToPlanar(benchmark::State& state) {
    convertThrough(state, AV_PIX_FMT_YUV420P, "Yv17", ConversionKind::PlaneCopy, 4 * kWidth);
}
void BM_RouteBiplanarToBiplanar(benchmark::State& state) {
    convertThrough(state, AV_PIX_FMT_NV12, "nv12", ConversionKind::PlaneCopy, 4 * kWidth);
}
void BM_RoutePlanar10ToBiplanar10(benchmark::State& state) {
    convertThrough(state, AV_PIX_FMT_YUV420P10LE, "P010", ConversionKind::InterleaveBiplanar,
                   4 * kWidth);
}
void BM_KernelPlaneCopyBgra(benchmark::State& state) {
    convertThrough(state, AV_PIX_FMT_BGRA, "bgra", ConversionKind::PlaneCopy, 4 * kWidth);
}
// The first candidate of 10-bit 4:4:4: libswscale to 16-bit planar, then
// interleaved to float VUYX.
void BM_ConvertSwscaleVuyxFloat(benchmark::State& state) {
    convertThrough(state, AV_PIX_FMT_YUV444P10LE, "VUx7", ConversionKind::Swscale, 16 * kWidth);
}
void BM_ConvertPack10Rgb(benchmark::State& state) {
    convertThrough(state, AV_PIX_FMT_GBRP10LE, "RGB1", ConversionKind::Pack10Rgb, 4 * kWidth);
}

BENCHMARK(BM_YuvToRgbFloatRows)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InterleaveVuyaRows)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackV210Rows)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertMatrixToRgbFloat10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertMatrixToRgbFloat8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertInterleaveVuya)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertPackV210)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RoutePlanarToPlanar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RouteBiplanarToBiplanar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RoutePlanar10ToBiplanar10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KernelPlaneCopyBgra)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertSwscaleVuyxFloat)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertPack10Rgb)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
