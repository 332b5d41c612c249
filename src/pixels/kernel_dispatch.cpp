// The kernel route: working size, clearing of the packed buffer, and the
// split of the kernel's rows over the conversion pool.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "ffmpeg/ffmpeg_runtime.h"
#include "pixels/conversion_kernels.h"
#include "pixels/conversion_pool.h"
#include "pixels/convert.h"
#include "pixels/host_formats.h"
#include "pixels/plane_routes.h"
#include "pixels/swscale_conversion.h"

namespace kestrova {
namespace {

// Bytes per row the kind writes itself; the rest of each row is cleared.
int64_t rowBytesWritten(ConversionKind kind, int32_t width, int64_t rowBytes, int32_t frameLineSize,
                        int32_t components) {
    const int64_t w = std::max(width, 0);
    switch (kind) {
        case ConversionKind::PlaneCopy:
        case ConversionKind::PackedCopy:
            return std::min<int64_t>(rowBytes, std::abs(int64_t{frameLineSize}));
        case ConversionKind::Shuffle:
        case ConversionKind::InterleaveVuya:
            return 4 * w;
        case ConversionKind::PackV210:
            return (w + 5) / 6 * 16;  // the row padding after the last group is cleared
        case ConversionKind::Pack10Rgb:
            return 4 * w;
        case ConversionKind::Scale16u:
            return 2 * w * components;
        case ConversionKind::FloatNormalize:
            return 4 * w * std::min(components, 4);
        case ConversionKind::MatrixToRgbFloat:
        case ConversionKind::PlanarRgbFloat:
            return 16 * w;
        default:
            return rowBytes;
    }
}

bool isCopyKind(ConversionKind kind) {
    return kind == ConversionKind::PlaneCopy || kind == ConversionKind::PackedCopy;
}

// A plain copy keeps the components in place only when the frame stores
// them in the host format's order; any other frame is converted.
bool copyKeepsOrder(uint32_t format, int32_t frameFormat) {
    if (format == fourCC("bgra")) {
        return frameFormat == AV_PIX_FMT_BGRA;
    }
    if (format == fourCC("bgrx")) {
        return frameFormat == AV_PIX_FMT_BGRA || frameFormat == AV_PIX_FMT_BGR0;
    }
    if (format == fourCC("yuy2") || format == fourCC("yuy3")) {
        return frameFormat == AV_PIX_FMT_YUYV422;
    }
    if (format == fourCC("uyvy") || format == fourCC("uyv7")) {
        return frameFormat == AV_PIX_FMT_UYVY422;
    }
    return false;
}

// Visible bytes of a packed host row of `width` pixels.
int64_t hostRowBytes(uint32_t format, int32_t width) {
    const PlaneLayout layout = layoutOfHostFormat(format);
    const int64_t w = std::max(width, 0);
    if (layout.chromaShiftX == 1) {
        return (w + 1) / 2 * 4;
    }
    return w * (layout.isFloat ? 16 : layout.depth == 16 ? 8 : 4);
}

bool knownKind(ConversionKind kind) {
    return static_cast<uint32_t>(kind) <= static_cast<uint32_t>(ConversionKind::Swscale);
}

void fillRows(uint8_t* out, int64_t rowBytes, int32_t rows, int64_t from, uint8_t value) {
    const int64_t size = std::abs(rowBytes);
    if (from >= size) {
        return;
    }
    for (int32_t y = 0; y < rows; ++y) {
        std::memset(out + y * rowBytes + from, value, size - from);
    }
}

void runRange(void* context, int32_t begin, int32_t end) {
    runKernelRows(*static_cast<const KernelJob*>(context), begin, end);
}

// Conversion answers with a status: scratch memory or a worker thread that
// cannot be had fails the frame, not the host's call.
bool convertGuarded(bool viaSwscale, uint32_t format, KernelJob& job,
                    const DestinationBuffers& destination) {
    try {
        return viaSwscale ? convertWithSwscale(format, job, destination) : runKernel(job);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool runKernel(KernelJob& job) {
    job.table = &activeKernelTable();
    if (!prepareKernelJob(job)) {
        return false;
    }
    runRowRanges(runRange, &job, job.height, job.alignment);
    return true;
}

KernelOutcome dispatchKernel(const TargetPlan& plan, const AVFrame& frame,
                             const AVPixFmtDescriptor* descriptor,
                             const DestinationBuffers& destination) {
    const int32_t width = destination.width;
    const int32_t height = destination.height;
    KernelJob job;
    job.kind = plan.kind;
    job.frame = &frame;
    job.descriptor = descriptor;
    job.out = destination.packed.data;
    job.rowBytes = destination.packed.rowBytes;
    job.destinationWidth = width;
    job.destinationHeight = height;
    job.matrix = plan.matrix;
    job.fullRange = plan.fullRange;
    // Never read past the frame: a smaller frame is converted at its own size.
    job.width = frame.width >= 1 && frame.width < width ? frame.width : width;
    job.height = frame.height >= 1 && frame.height < height ? frame.height : height;
    if (frame.width < 1 || frame.height < 1) {
        job.width = job.height = 0;
    }
    const bool smaller = job.width < width || job.height < height;
    const bool viaSwscale = plan.kind == ConversionKind::Swscale ||
                            (isCopyKind(plan.kind) && !copyKeepsOrder(plan.format, frame.format)) ||
                            reencodedBySwscale(plan, descriptor);
    if (isPlanar420Format(plan.format) || isBiplanarFormat(plan.format)) {
        // Only libswscale writes host planes from the kernel route.
        const int planes = isPlanar420Format(plan.format) ? 3 : 2;
        if (smaller) {
            fillPlanes(destination, planes, 0);
        }
        if (convertGuarded(true, plan.format, job, destination)) {
            return {true, false};
        }
        if (plan.kind != ConversionKind::Swscale) {
            return {false, false};
        }
        fillPlanes(destination, planes, 128);  // the reported mid-grey fallback
        return {true, true};
    }

    const int64_t rowBytes = std::abs(job.rowBytes);
    const bool wholeBuffer =
        smaller || (plan.kind == ConversionKind::PlaneCopy && frame.data[1] != nullptr) ||
        !knownKind(plan.kind) || plan.kind == ConversionKind::InterleaveBiplanar;
    const int32_t components = job.descriptor ? job.descriptor->nb_components : 4;
    const int64_t written =
        wholeBuffer  ? 0
        : viaSwscale ? std::min(hostRowBytes(plan.format, job.width), rowBytes)
                     : std::clamp<int64_t>(rowBytesWritten(plan.kind, job.width, rowBytes,
                                                           frame.linesize[0], components),
                                           0, rowBytes);
    fillRows(job.out, job.rowBytes, height, written, 0);

    const bool converted = convertGuarded(viaSwscale, plan.format, job, destination);
    const bool greyKind =
        plan.kind == ConversionKind::Swscale || plan.kind == ConversionKind::Pack10Rgb;
    if (!converted && greyKind) {
        fillRows(job.out, job.rowBytes, height, 0, 128);  // the reported mid-grey fallback
        return {true, true};
    }
    return {converted, false};
}

}  // namespace kestrova
