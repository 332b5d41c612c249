#include "pixels/convert.h"

#include <algorithm>

#include "ffmpeg/ffmpeg_runtime.h"
#include "pixels/conversion_kernels.h"
#include "pixels/host_formats.h"
#include "pixels/plane_layout.h"
#include "pixels/plane_routes.h"
#include "pixels/swscale_conversion.h"

namespace kestrova {
namespace {

ConvertResult failed(ConvertResult result, ConvertStatus status, const char* reason) {
    result.status = status;
    result.reason = reason;
    return result;
}

// Every plane the format's components use, up to the highest, must be there.
bool hasRequiredPlanes(const AVFrame& frame, const AVPixFmtDescriptor* d) {
    if (frame.data[0] == nullptr || frame.linesize[0] == 0) {
        return false;
    }
    const int32_t planes = d != nullptr ? std::max(planeCountOf(*d), 1) : 1;
    for (int p = 0; p < std::min(planes, 8); ++p) {
        if (frame.data[p] == nullptr || frame.linesize[p] == 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

ConvertResult convertFrame(const TargetPlan& plan, const AVFrame* frame,
                           const DestinationBuffers& destination) {
    ConvertResult result;
    result.route = resolveRoute(plan, frame ? frame->format : -1);
    result.reason = result.route.reason;
    if (frame == nullptr) {
        return failed(result, ConvertStatus::BadFrame, "no frame to deliver");
    }
    if (destination.width < 1 || destination.height < 1) {
        return failed(result, ConvertStatus::BadDestination,
                      "destination has non-positive dimensions");
    }
    if (result.route.route == DeliveryRoute::Unsupported) {
        result.status = ConvertStatus::BadDestination;
        return result;
    }
    const AVPixFmtDescriptor* descriptor = pixelFormatDescriptor(frame->format);
    if (!hasRequiredPlanes(*frame, descriptor)) {
        return failed(result, ConvertStatus::BadFrame,
                      "frame is missing a plane its own pixel format requires");
    }
    constexpr const char* kNoBuffers =
        "destination buffers for the resolved route were not supplied";
    // A picture whose matrix the format's name does not promise is
    // re-encoded by libswscale instead of copied.
    const bool reencode = reencodedBySwscale(plan, descriptor);
    if (result.route.route != DeliveryRoute::Kernel && !reencode) {
        const int32_t depth = descriptor ? descriptor->comp[0].depth : 8;
        if (!copyPlanes(result.route.route, *frame, depth, destination)) {
            return failed(result, ConvertStatus::BadDestination, kNoBuffers);
        }
        return result;
    }
    // libswscale writes the host planes of the 4:2:0 formats itself.
    const int planes = isPlanar420Format(plan.format) ? 3 : isBiplanarFormat(plan.format) ? 2 : 0;
    bool supplied =
        planes > 0 || (destination.packed.data != nullptr && destination.packed.rowBytes != 0);
    for (int p = 0; p < planes; ++p) {
        supplied =
            supplied && destination.planes[p].data != nullptr && destination.planes[p].rowBytes > 0;
    }
    if (!supplied) {
        return failed(result, ConvertStatus::BadDestination, kNoBuffers);
    }
    const KernelOutcome outcome = dispatchKernel(plan, *frame, descriptor, destination);
    if (!outcome.ok) {
        result.status = ConvertStatus::KernelFailed;
    }
    result.greyFallback = outcome.greyFallback;
    return result;
}

}  // namespace kestrova
