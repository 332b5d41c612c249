// Route resolution: how a frame of one FFmpeg format reaches a host format,
// a plane copy or one conversion kernel.
#include "pixels/convert.h"
#include "pixels/host_formats.h"

namespace kestrova {
namespace {

struct Check {
    bool ok;
    const char* reason;
};

Check kindPrecondition(ConversionKind kind, const PlaneLayout& l) {
    const bool planar = l.planeCount >= 3 && !l.semiPlanar;
    const bool biplanar = l.planeCount == 2 && l.semiPlanar;
    switch (kind) {
        case ConversionKind::PlaneCopy:
            return {l.planeCount == 1, "PlaneCopy needs a single packed plane"};
        case ConversionKind::InterleaveBiplanar:
            return {planar && !l.rgb && l.chromaShiftX == 1 && l.chromaShiftY == 1,
                    "InterleaveBiplanar needs three planes of planar 4:2:0"};
        case ConversionKind::Shuffle:
            return {l.planeCount == 1 && l.rgb && l.depth == 8,
                    "Shuffle needs one packed 8-bit RGB plane"};
        case ConversionKind::PackedCopy:
            return {l.planeCount == 1, "PackedCopy needs a single packed plane"};
        case ConversionKind::InterleaveVuya:
            return {planar && !l.rgb && l.depth == 8 && l.chromaShiftX < 2,
                    "InterleaveVuya needs 8-bit planar YUV at 4:4:4, 4:2:2 or 4:2:0"};
        case ConversionKind::PackV210:
            return {l.planeCount == 3 && l.chromaShiftX == 1 && l.chromaShiftY == 0 && l.depth > 8,
                    "PackV210 needs three planes of 4:2:2 above 8 bits"};
        case ConversionKind::Pack10Rgb:
        case ConversionKind::Swscale:
            return {true, ""};
        case ConversionKind::Scale16u:
            return {l.planeCount == 1 && l.depth == 16, "Scale16u needs one packed 16-bit plane"};
        case ConversionKind::FloatNormalize:
            return {planar || biplanar || l.planeCount == 1,
                    "FloatNormalize needs planar, semi-planar or single-plane source"};
        case ConversionKind::MatrixToRgbFloat:
            // The universal float RGB plan: any usable layout, through the
            // generic rows where the fast ones do not apply.
            return {true, ""};
        case ConversionKind::PlanarRgbFloat:
            return {planar && l.rgb && l.isFloat,
                    "PlanarRgbFloat needs planar float RGB (GBRP[A]F32)"};
    }
    return {false, "unknown conversion kind"};
}

bool is420(const PlaneLayout& l) {
    return l.chromaShiftX == 1 && l.chromaShiftY == 1;
}

RouteResult unsupported(RouteResult result, const char* reason) {
    result.route = DeliveryRoute::Unsupported;
    result.reason = reason;
    return result;
}

RouteResult routed(RouteResult result, DeliveryRoute route) {
    result.route = route;
    return result;
}

RouteResult resolve(uint32_t format, ConversionKind kind, int32_t sourceFormat,
                    int32_t actualFormat) {
    RouteResult r;
    r.expectedFormat = sourceFormat;
    r.actualFormat = actualFormat;
    const PlaneLayout l = layoutOfFfmpegFormat(actualFormat);
    if (sourceFormat != -1) {
        const PlaneLayout expected = layoutOfFfmpegFormat(sourceFormat);
        r.layoutDiffers = !(l.valid && expected.valid && l == expected);
    }
    if (format == kBadFormat) {
        return unsupported(r, "plan has no destination format");
    }
    if (!l.valid) {
        return unsupported(r, "source pixel format has no usable plane layout");
    }
    if (kind == ConversionKind::Swscale) {
        // libswscale reads any usable layout and writes every host layout
        // a Swscale plan names, planes included.
        return routed(r, DeliveryRoute::Kernel);
    }
    const bool planar = l.planeCount >= 3 && !l.semiPlanar;
    const bool biplanar = l.planeCount == 2 && l.semiPlanar;
    if (isPlanar420Format(format)) {
        if (!is420(l) || l.depth != 8 || l.rgb || l.isFloat) {
            return unsupported(r, "planar 4:2:0 8u destination needs an 8-bit 4:2:0 YUV source");
        }
        if (planar) {
            return routed(r, DeliveryRoute::PlanarToPlanar);
        }
        if (biplanar) {
            return l.vBeforeU ? unsupported(
                                    r, "semi-planar source has V before U; no de-interleave kernel")
                              : routed(r, DeliveryRoute::BiplanarToPlanar8);
        }
        return unsupported(r, "planar 4:2:0 8u destination needs two or three source planes");
    }
    const PlaneLayout destination = layoutOfHostFormat(format);
    if (isBiplanarFormat(format) && destination.depth == 8) {
        if (!is420(l) || l.depth != 8 || l.rgb || l.isFloat) {
            return unsupported(r, "biplanar 4:2:0 8u destination needs an 8-bit 4:2:0 YUV source");
        }
        if (biplanar) {
            return l.vBeforeU == destination.vBeforeU
                       ? routed(r, DeliveryRoute::BiplanarToBiplanar)
                       : unsupported(r, "source and destination disagree on chroma order");
        }
        if (l.planeCount < 3 || l.semiPlanar) {
            return unsupported(r, "biplanar 4:2:0 8u destination needs two or three source planes");
        }
        return destination.vBeforeU ? unsupported(r, "no planar-to-NV21 interleave kernel")
                                    : routed(r, DeliveryRoute::PlanarToBiplanar8);
    }
    if (isBiplanarFormat(format)) {
        if (!is420(l) || l.rgb || l.isFloat) {
            return unsupported(r, "biplanar 4:2:0 10u destination needs a 4:2:0 YUV source");
        }
        if (biplanar) {
            if (l.depth != 10 || !l.highBits) {
                return unsupported(r, "semi-planar source is not 10 bits in the high bits (P010)");
            }
            return l.vBeforeU ? unsupported(r, "source and destination disagree on chroma order")
                              : routed(r, DeliveryRoute::BiplanarToBiplanar);
        }
        if (l.planeCount < 3 || l.semiPlanar) {
            return unsupported(r,
                               "biplanar 4:2:0 10u destination needs two or three source planes");
        }
        return l.depth == 10 && !l.highBits
                   ? routed(r, DeliveryRoute::Planar10ToBiplanar10)
                   : unsupported(r, "planar source is not 10 bits in the low bits (yuv420p10le)");
    }
    const Check check = kindPrecondition(kind, l);
    return check.ok ? routed(r, DeliveryRoute::Kernel) : unsupported(r, check.reason);
}

struct RouteMemo {
    bool filled = false;
    uint32_t format = 0;
    int32_t sourceFormat = 0;
    ConversionKind kind = ConversionKind::PlaneCopy;
    int32_t actualFormat = 0;
    RouteResult result;
};

}  // namespace

RouteResult resolveRoute(const TargetPlan& plan, int32_t actualFormat) {
    thread_local RouteMemo memo;
    if (!memo.filled || memo.format != plan.format || memo.sourceFormat != plan.sourceFormat ||
        memo.kind != plan.kind || memo.actualFormat != actualFormat) {
        memo.result = resolve(plan.format, plan.kind, plan.sourceFormat, actualFormat);
        memo.format = plan.format;
        memo.sourceFormat = plan.sourceFormat;
        memo.kind = plan.kind;
        memo.actualFormat = actualFormat;
        memo.filled = true;
    }
    return memo.result;
}

}  // namespace kestrova
