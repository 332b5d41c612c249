#include "pixels/swscale_conversion.h"

#include <array>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "pixels/convert.h"
#include "pixels/host_formats.h"
#include "pixels/plane_layout.h"
#include "pixels/plane_routes.h"

namespace kestrova {
namespace {

// How libswscale's output reaches the host buffer.
enum class Into {
    None,
    Packed,          // written in place, top row first
    PackedBottomUp,  // written in place, bottom row first (packed RGB)
    Planar,          // written into the host's three 4:2:0 planes
    Biplanar,        // planar 4:2:0, interleaved into the host's two planes
    V210,            // planar 10-bit 4:2:2, packed by PackV210
    FloatRgb,        // planar float RGB, interleaved by PlanarRgbFloat
    FloatYuv,        // planar 16-bit YUV, interleaved by FloatNormalize
};

struct SwsTarget {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    Into into = Into::None;
};

// The host formats libswscale writes, directly or through a packing kernel.
struct FormatTarget {
    uint32_t format;
    SwsTarget target;
};
const FormatTarget kFormatTargets[] = {
    {fourCC("bgra"), {AV_PIX_FMT_BGRA, Into::PackedBottomUp}},
    {fourCC("bgrx"), {AV_PIX_FMT_BGR0, Into::PackedBottomUp}},
    {fourCC("yuy2"), {AV_PIX_FMT_YUYV422, Into::Packed}},
    {fourCC("yuy3"), {AV_PIX_FMT_YUYV422, Into::Packed}},
    {fourCC("uyvy"), {AV_PIX_FMT_UYVY422, Into::Packed}},
    {fourCC("uyv7"), {AV_PIX_FMT_UYVY422, Into::Packed}},
    {fourCC("vuya"), {AV_PIX_FMT_VUYA, Into::Packed}},
    {fourCC("VUYA"), {AV_PIX_FMT_VUYA, Into::Packed}},
    {fourCC("vuyx"), {AV_PIX_FMT_VUYX, Into::Packed}},
    {fourCC("vux7"), {AV_PIX_FMT_VUYX, Into::Packed}},
    {fourCC("BGra"), {AV_PIX_FMT_GBRAPF32LE, Into::FloatRgb}},
    {fourCC("BGaL"), {AV_PIX_FMT_GBRAPF32LE, Into::FloatRgb}},
    {fourCC("BGrx"), {AV_PIX_FMT_GBRPF32LE, Into::FloatRgb}},
    {fourCC("BGxL"), {AV_PIX_FMT_GBRPF32LE, Into::FloatRgb}},
    {fourCC("VUya"), {AV_PIX_FMT_YUVA444P16LE, Into::FloatYuv}},
    {fourCC("vUYa"), {AV_PIX_FMT_YUVA444P16LE, Into::FloatYuv}},
    {fourCC("VUyx"), {AV_PIX_FMT_YUV444P16LE, Into::FloatYuv}},
    {fourCC("VUx7"), {AV_PIX_FMT_YUV444P16LE, Into::FloatYuv}},
    {fourCC("v210"), {AV_PIX_FMT_YUV422P10LE, Into::V210}},
    {fourCC("v211"), {AV_PIX_FMT_YUV422P10LE, Into::V210}},
};

SwsTarget targetOf(uint32_t format) {
    for (const FormatTarget& entry : kFormatTargets) {
        if (format == entry.format) {
            return entry.target;
        }
    }
    if (isPlanar420Format(format)) {
        return {AV_PIX_FMT_YUV420P, Into::Planar};
    }
    const PlaneLayout layout = layoutOfHostFormat(format);
    if (isBiplanarFormat(format) && !layout.vBeforeU) {
        // libswscale's own NV12 and P010 output drops the last chroma
        // column of an odd width; its planar output keeps it.
        return {layout.depth == 10 ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P, Into::Biplanar};
    }
    return {};
}

// The matrix libswscale applies for an FFmpeg colour space, by the same
// rule as the float kernels: 601, BT.2020, else BT.709.
int swsMatrix(int32_t colorSpace) {
    if (colorSpace == AVCOL_SPC_BT470BG || colorSpace == AVCOL_SPC_SMPTE170M) {
        return SWS_CS_ITU601;
    }
    if (colorSpace == AVCOL_SPC_BT2020_NCL || colorSpace == AVCOL_SPC_BT2020_CL) {
        return SWS_CS_BT2020;
    }
    return SWS_CS_ITU709;
}

// The full-range formats say their range in their name only; the range is
// given to libswscale separately.
AVPixelFormat withoutFullRangeName(int32_t format) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P:
            return AV_PIX_FMT_YUV411P;
        default:
            return static_cast<AVPixelFormat>(format);
    }
}

struct SwsKey {
    int32_t source = AV_PIX_FMT_NONE;
    int32_t width = 0;
    int32_t height = 0;
    int32_t destination = AV_PIX_FMT_NONE;
    int32_t sourceMatrix = 0;
    int32_t destinationMatrix = 0;
    bool sourceFull = false;
    bool destinationFull = false;
    bool operator==(const SwsKey&) const = default;
};

struct SwsContextDeleter {
    void operator()(SwsContext* context) const {
        if (ffmpeg::FfmpegRuntime::instance().available()) {
            ffmpeg::FfmpegRuntime::instance().fn().sws_freeContext(context);
        }
    }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

// Chroma is taken and subsampled by the nearest sample, as the plug-in's
// own kernels do, with full precision in the RGB and rounding steps.
constexpr int kFlags = SWS_POINT | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND;

// A thread serves one clip at a time as a rule, so a few contexts per
// thread keep every frame of a clip on a ready context.
class SwsContextCache {
  public:
    SwsContext* get(const SwsKey& key) {
        for (Entry& entry : entries_) {
            if (entry.context && entry.key == key) {
                return entry.context.get();
            }
        }
        Entry& entry = entries_[next_];
        next_ = (next_ + 1) % entries_.size();
        entry.key = key;
        entry.context = create(key);
        return entry.context.get();
    }

  private:
    struct Entry {
        SwsKey key;
        SwsContextPtr context;
    };
    static SwsContextPtr create(const SwsKey& key) {
        const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
        const auto source = static_cast<AVPixelFormat>(key.source);
        const auto destination = static_cast<AVPixelFormat>(key.destination);
        SwsContextPtr context(fn.sws_getContext(key.width, key.height, source, key.width,
                                                key.height, destination, kFlags, nullptr, nullptr,
                                                nullptr));
        if (context) {
            // Brightness 0, contrast and saturation 1.0 in 16.16 fixed point.
            fn.sws_setColorspaceDetails(context.get(), fn.sws_getCoefficients(key.sourceMatrix),
                                        key.sourceFull ? 1 : 0,
                                        fn.sws_getCoefficients(key.destinationMatrix),
                                        key.destinationFull ? 1 : 0, 0, 1 << 16, 1 << 16);
        }
        return context;
    }
    std::array<Entry, 4> entries_;
    std::size_t next_ = 0;
};

// The range a YUV format's variant name gives: the planar 4:2:0 'f' and
// 'F', the NV12 '1' and '0', and the P010 'f' variants are full range.
bool variantFullRange(uint32_t format) {
    const auto last = static_cast<char>(format >> 24);
    if (isPlanar420Format(format)) {
        return last == 'f' || last == 'F';
    }
    if (isBiplanarFormat(format)) {
        return layoutOfHostFormat(format).depth == 10 ? last == 'f' : last == '1' || last == '0';
    }
    return false;
}

// The range libswscale writes: the variant's for 4:2:0 and 8-bit YUV, full
// for RGB; 16-bit YUV keeps the source's, and the float packing expands it.
bool destinationFullRange(uint32_t format, const SwsTarget& target, bool sourceFull) {
    switch (target.into) {
        case Into::FloatYuv:
            return sourceFull;
        case Into::FloatRgb:
        case Into::PackedBottomUp:
            return true;
        default:
            return variantFullRange(format);
    }
}

bool fitsInt(int64_t value) {
    return std::abs(value) <= std::numeric_limits<int>::max();
}

// Planar scratch picture of `format` at the working size, reused per thread;
// `slot` 1 holds the float RGB picture of a matrix change.
bool scratchPicture(int slot, AVPixelFormat format, int32_t width, int32_t height,
                    AVFrame& picture) {
    const AVPixFmtDescriptor* d = pixelFormatDescriptor(format);
    if (d == nullptr) {
        return false;
    }
    const int32_t planes = planeCountOf(*d);
    const int64_t sampleBytes = (d->comp[0].depth + 7) / 8;
    const int64_t lineSize = (int64_t{width} * sampleBytes + 63) / 64 * 64;
    const int64_t planeBytes = lineSize * height;
    if (!fitsInt(lineSize)) {
        return false;
    }
    thread_local std::vector<uint8_t> scratches[2];
    std::vector<uint8_t>& scratch = scratches[slot];
    scratch.resize(static_cast<std::size_t>(planeBytes * planes + 64));
    auto* base = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(scratch.data()) + 63) &
                                            ~uintptr_t{63});
    picture.format = format;
    picture.width = width;
    picture.height = height;
    for (int32_t p = 0; p < planes; ++p) {
        picture.data[p] = base + p * planeBytes;
        picture.linesize[p] = static_cast<int>(lineSize);
    }
    return true;
}

bool matrixChangeNeeded(uint32_t hostFormat, int32_t matrix, const AVPixFmtDescriptor* source) {
    const int32_t promised = hostFormatMatrix(hostFormat);
    const bool chroma = source != nullptr && (source->flags & AV_PIX_FMT_FLAG_RGB) == 0 &&
                        source->nb_components >= 3;
    // An unspecified matrix follows the format.
    return promised != 0 && chroma && matrix != AVCOL_SPC_UNSPECIFIED &&
           swsMatrix(promised) != swsMatrix(matrix);
}

}  // namespace

bool swscaleReaches(uint32_t hostFormat) {
    return targetOf(hostFormat).into != Into::None;
}

bool reencodedBySwscale(const TargetPlan& plan, const AVPixFmtDescriptor* source) {
    return matrixChangeNeeded(plan.format, plan.matrix, source) && swscaleReaches(plan.format);
}

bool convertWithSwscale(uint32_t hostFormat, const KernelJob& job,
                        const DestinationBuffers& destination) {
    const SwsTarget target = targetOf(hostFormat);
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (target.into == Into::None || !runtime.available() || job.descriptor == nullptr) {
        return false;
    }
    if (job.width < 1 || job.height < 1) {
        return true;
    }
    const auto& fn = runtime.fn();
    thread_local SwsContextCache contexts;
    const AVFrame* source = job.frame;
    bool sourceFull = (job.descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0 || job.fullRange;
    int32_t sourceMatrix = swsMatrix(job.matrix);
    // A format whose name promises another matrix than the clip's: the
    // picture goes to float RGB under the clip's matrix first, then to the
    // format under its own.
    AVFrame rgb{};
    if (matrixChangeNeeded(hostFormat, job.matrix, job.descriptor)) {
        const SwsKey toRgb{withoutFullRangeName(source->format),
                           job.width,
                           job.height,
                           AV_PIX_FMT_GBRPF32LE,
                           sourceMatrix,
                           sourceMatrix,
                           sourceFull,
                           true};
        SwsContext* context = contexts.get(toRgb);
        if (context == nullptr ||
            !scratchPicture(1, AV_PIX_FMT_GBRPF32LE, job.width, job.height, rgb) ||
            fn.sws_scale(context, source->data, source->linesize, 0, job.height, rgb.data,
                         rgb.linesize) != job.height) {
            return false;
        }
        source = &rgb;
        sourceFull = true;
        sourceMatrix = swsMatrix(hostFormatMatrix(hostFormat));  // RGB to the format's matrix
    }
    const bool destinationFull = destinationFullRange(hostFormat, target, sourceFull);
    const SwsKey key{withoutFullRangeName(source->format),
                     job.width,
                     job.height,
                     target.format,
                     sourceMatrix,
                     sourceMatrix,
                     sourceFull,
                     destinationFull};
    SwsContext* context = contexts.get(key);
    if (context == nullptr) {
        return false;
    }
    uint8_t* planes[4] = {};
    int strides[4] = {};
    AVFrame intermediate{};
    switch (target.into) {
        case Into::Packed:
        case Into::PackedBottomUp: {
            if (job.out == nullptr || !fitsInt(job.rowBytes)) {
                return false;
            }
            const bool bottomUp = target.into == Into::PackedBottomUp;
            planes[0] = bottomUp ? job.out + int64_t{job.height - 1} * job.rowBytes : job.out;
            strides[0] = static_cast<int>(bottomUp ? -job.rowBytes : job.rowBytes);
            break;
        }
        case Into::Planar:
            for (int p = 0; p < 3; ++p) {
                const DestinationPlane& plane = destination.planes[p];
                if (plane.data == nullptr || plane.rowBytes < 1 || !fitsInt(plane.rowBytes)) {
                    return false;
                }
                planes[p] = plane.data;
                strides[p] = static_cast<int>(plane.rowBytes);
            }
            break;
        default:
            if (!scratchPicture(0, target.format, job.width, job.height, intermediate)) {
                return false;
            }
            for (int p = 0; p < 4; ++p) {
                planes[p] = intermediate.data[p];
                strides[p] = intermediate.linesize[p];
            }
            break;
    }
    if (fn.sws_scale(context, source->data, source->linesize, 0, job.height, planes, strides) !=
        job.height) {
        return false;
    }
    switch (target.into) {
        case Into::Biplanar: {
            const bool tenBit = target.format == AV_PIX_FMT_YUV420P10LE;
            return copyPlanes(
                tenBit ? DeliveryRoute::Planar10ToBiplanar10 : DeliveryRoute::PlanarToBiplanar8,
                intermediate, tenBit ? 10 : 8, destination);
        }
        case Into::FloatRgb:
        case Into::FloatYuv:
        case Into::V210: {
            // A kernel packs the planar picture into the host row.
            KernelJob pack = job;
            pack.kind = target.into == Into::FloatRgb   ? ConversionKind::PlanarRgbFloat
                        : target.into == Into::FloatYuv ? ConversionKind::FloatNormalize
                                                        : ConversionKind::PackV210;
            pack.frame = &intermediate;
            pack.descriptor = pixelFormatDescriptor(target.format);
            pack.fullRange = destinationFull;
            return runKernel(pack);
        }
        default:
            return true;
    }
}

}  // namespace kestrova
