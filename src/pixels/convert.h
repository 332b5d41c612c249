// The single conversion entry: resolves how a decoded frame reaches a host
// buffer in a plan's format and writes it there.
#pragma once

#include <cstdint>
#include <string>

#include "pixels/pixel_enums.h"
#include "pixels/target_plan.h"

struct AVFrame;

namespace kestrova {

struct DestinationPlane {
    uint8_t* data = nullptr;
    int64_t rowBytes = 0;  // negative for a buffer stored bottom-up
};

struct DestinationBuffers {
    int32_t width = 0;
    int32_t height = 0;
    DestinationPlane planes[3];  // planar and biplanar routes
    DestinationPlane packed;     // kernel route
};

struct RouteResult {
    DeliveryRoute route = DeliveryRoute::Unsupported;
    bool layoutDiffers = false;
    int32_t expectedFormat = -1;
    int32_t actualFormat = -1;
    std::string reason;  // empty unless Unsupported
};

enum class ConvertStatus : int32_t { Ok = 0, BadDestination = 1, BadFrame = 2, KernelFailed = 3 };

struct ConvertResult {
    ConvertStatus status = ConvertStatus::Ok;
    RouteResult route;
    std::string reason;
    // A Swscale or Pack10Rgb conversion failed and the picture is mid grey.
    bool greyFallback = false;
};

// Memoised per thread on (format, source format, kind, actual format).
RouteResult resolveRoute(const TargetPlan& plan, int32_t actualFormat);

// `frame` may be null (BadFrame).
ConvertResult convertFrame(const TargetPlan& plan, const AVFrame* frame,
                           const DestinationBuffers& destination);

}  // namespace kestrova
