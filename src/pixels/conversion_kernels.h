// The conversion kernels of the kernel route: each writes a range of source
// rows of a frame into the host's packed buffer, so ranges can run in
// parallel on disjoint destination rows.
#pragma once

#include <cstdint>

#include "pixels/kernel_table.h"
#include "pixels/pixel_enums.h"
#include "pixels/target_plan.h"

struct AVFrame;
struct AVPixFmtDescriptor;

namespace kestrova {

struct DestinationBuffers;

// The shape FloatNormalize takes for a frame's layout.
enum class NormalizeShape : int32_t { PlanarYuv, SemiPlanarYuv, Luma, PackedRgb };

struct KernelJob {
    ConversionKind kind = ConversionKind::PlaneCopy;
    const AVFrame* frame = nullptr;
    const AVPixFmtDescriptor* descriptor = nullptr;  // null when FFmpeg has none
    const KernelTable* table = nullptr;
    uint8_t* out = nullptr;
    int64_t rowBytes = 0;  // signed: negative for a bottom-up buffer
    int32_t width = 0;     // working size: the frame's, clamped to the destination
    int32_t height = 0;
    int32_t destinationWidth = 0;
    int32_t destinationHeight = 0;  // InterleaveBiplanar puts chroma after these rows
    // The clip's described colour, never the frame's own tags.
    int32_t matrix = 2;
    bool fullRange = false;
    // Filled by prepareKernelJob.
    int32_t alignment = 0;    // rows per split unit; 0 keeps the job on one thread
    int32_t pixelStride = 0;  // destination units (bytes, words or floats) per pixel
    NormalizeShape shape = NormalizeShape::PlanarYuv;
    bool genericMatrix = false;  // MatrixToRgbFloat through the generic reader
    bool words16 = false;        // every component a plain little-endian 16-bit word
    YuvToFloatCoefficients coefficients{};
};

// Checks what the kind needs from the frame and the destination and fills
// the per-kind fields; false when the kernel refuses the job.
bool prepareKernelJob(KernelJob& job);

// Converts source rows [begin, end) of a prepared job.
void runKernelRows(const KernelJob& job, int32_t begin, int32_t end);

// Prepares the job and converts its rows, split over the conversion pool
// where the kind allows. False when the kernel refuses the job.
bool runKernel(KernelJob& job);

// The kernel route for the plan: clears the destination as the kind
// requires, then converts the frame. `descriptor` is the frame format's
// (null when FFmpeg has none).
struct KernelOutcome {
    bool ok = false;
    bool greyFallback = false;  // a Swscale or Pack10Rgb conversion failed: mid grey
};
KernelOutcome dispatchKernel(const TargetPlan& plan, const AVFrame& frame,
                             const AVPixFmtDescriptor* descriptor,
                             const DestinationBuffers& destination);

// Scale16u: v scaled from 0..65535 to 0..32768, rounded to nearest.
inline uint16_t scaleToWhitePoint(uint16_t v) {
    return static_cast<uint16_t>((static_cast<uint32_t>(v) * 32768u + 32767u) / 65535u);
}

// MatrixToRgbFloat for layouts beyond planar YUV and 8-bit NV12: whether the
// generic rows can read the format, and the rows themselves.
bool genericMatrixSupported(const AVPixFmtDescriptor& descriptor);
void genericMatrixRows(const KernelJob& job, int32_t begin, int32_t end);

// MatrixToRgbFloat coefficients for an FFmpeg colour space and range.
YuvToFloatCoefficients matrixCoefficients(int32_t colorSpace, bool fullRange, int32_t depth);

}  // namespace kestrova
