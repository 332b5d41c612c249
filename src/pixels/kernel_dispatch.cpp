// The kernel route: working size, clearing of the packed buffer, and the
// split of the kernel's rows over the conversion pool.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "ffmpeg/ffmpeg_runtime.h"
#include "pixels/conversion_kernels.h"
#include "pixels/conversion_pool.h"
#include "pixels/convert.h"
#include "pixels/host_formats.h"

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
            return v210RowBytes(width);
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

}  // namespace

bool dispatchKernel(ConversionKind kind, const AVFrame& frame, const AVPixFmtDescriptor* descriptor,
                    uint8_t* out, int64_t rowBytes, int32_t width, int32_t height) {
    KernelJob job;
    job.kind = kind;
    job.frame = &frame;
    job.descriptor = descriptor;
    job.out = out;
    job.rowBytes = rowBytes;
    job.destinationWidth = width;
    job.destinationHeight = height;
    // Never read past the frame: a smaller frame is converted at its own size.
    job.width = frame.width >= 1 && frame.width < width ? frame.width : width;
    job.height = frame.height >= 1 && frame.height < height ? frame.height : height;
    if (frame.width < 1 || frame.height < 1) {
        job.width = job.height = 0;
    }

    const bool wholeBuffer = job.width < width || job.height < height ||
                             (kind == ConversionKind::PlaneCopy && frame.data[1] != nullptr) ||
                             !knownKind(kind) || kind == ConversionKind::InterleaveBiplanar;
    const int32_t components = job.descriptor ? job.descriptor->nb_components : 4;
    const int64_t written =
        wholeBuffer ? 0
                    : std::clamp<int64_t>(rowBytesWritten(kind, job.width, std::abs(rowBytes),
                                                          frame.linesize[0], components),
                                          0, std::abs(rowBytes));
    fillRows(out, rowBytes, height, written, 0);

    if (kind == ConversionKind::Pack10Rgb || kind == ConversionKind::Swscale) {
        fillRows(out, rowBytes, height, 0, 128);  // delivered as mid grey
        return true;
    }
    job.table = &activeKernelTable();
    if (!prepareKernelJob(job)) {
        return false;
    }
    runRowRanges(runRange, &job, job.height, job.alignment);
    return true;
}

}  // namespace kestrova
