#include "pixels/plane_routes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "pixels/plane_rows.h"
#include "pixels/row_copy.h"

namespace kestrova {
namespace {

uint8_t* destinationRow(const DestinationPlane& plane, int32_t y) {
    return plane.data + y * plane.rowBytes;
}

bool supplied(const DestinationBuffers& d, int planes) {
    for (int p = 0; p < planes; ++p) {
        if (d.planes[p].data == nullptr || d.planes[p].rowBytes < 1) {
            return false;
        }
    }
    return true;
}

void copyRows(const RowCopy& copy, const AVFrame& frame, int plane, const DestinationPlane& to,
              int32_t rows, int64_t bytes) {
    bytes = std::min(bytes, to.rowBytes);
    for (int32_t y = 0; y < rows && bytes > 0; ++y) {
        copy(destinationRow(to, y), sourceRow(frame, plane, y), bytes);
    }
}

}  // namespace

void fillPlanes(const DestinationBuffers& d, int planes, uint8_t value) {
    for (int p = 0; p < planes; ++p) {
        const DestinationPlane& plane = d.planes[p];
        const int32_t rows = p == 0 ? d.height : (d.height + 1) / 2;
        if (plane.data != nullptr && plane.rowBytes > 0) {
            std::memset(plane.data, value, static_cast<std::size_t>(plane.rowBytes * rows));
        }
    }
}

bool copyPlanes(DeliveryRoute route, const AVFrame& frame, int32_t frameDepth,
                const DestinationBuffers& d) {
    const int planes =
        route == DeliveryRoute::PlanarToPlanar || route == DeliveryRoute::BiplanarToPlanar8 ? 3 : 2;
    if (!supplied(d, planes)) {
        return false;
    }
    const int32_t width = std::clamp(frame.width, 0, d.width);
    const int32_t height = std::clamp(frame.height, 0, d.height);
    // Odd sizes keep their last chroma column and row, as frames and host
    // planes both do.
    const int32_t chromaRows = (height + 1) / 2;
    const int32_t pairs = (width + 1) / 2;
    const int64_t sample = frameDepth > 8 ? 2 : 1;
    if (width < d.width || height < d.height) {
        fillPlanes(d, planes, 0);  // the rest stays cleared, as on the kernel route
    }
    const RowCopy copy(int64_t{height} * width * sample);
    switch (route) {
        case DeliveryRoute::PlanarToPlanar:
            copyRows(copy, frame, 0, d.planes[0], height, width);
            copyRows(copy, frame, 1, d.planes[1], chromaRows, pairs);
            copyRows(copy, frame, 2, d.planes[2], chromaRows, pairs);
            break;
        case DeliveryRoute::BiplanarToBiplanar:
            copyRows(copy, frame, 0, d.planes[0], height, width * sample);
            copyRows(copy, frame, 1, d.planes[1], chromaRows, pairs * 2 * sample);
            break;
        case DeliveryRoute::PlanarToBiplanar8:
        case DeliveryRoute::BiplanarToPlanar8: {
            copyRows(copy, frame, 0, d.planes[0], height, width);
            const bool split = route == DeliveryRoute::BiplanarToPlanar8;
            const int64_t limit = split ? std::min(d.planes[1].rowBytes, d.planes[2].rowBytes)
                                        : d.planes[1].rowBytes / 2;
            const int32_t n = static_cast<int32_t>(std::min<int64_t>(pairs, limit));
            for (int32_t y = 0; y < chromaRows; ++y) {
                if (split) {
                    const uint8_t* uv = sourceRow(frame, 1, y);
                    uint8_t* u = destinationRow(d.planes[1], y);
                    uint8_t* v = destinationRow(d.planes[2], y);
                    for (int32_t i = 0; i < n; ++i) {
                        u[i] = uv[2 * i];
                        v[i] = uv[2 * i + 1];
                    }
                } else {
                    interleaveChromaRow(sourceRow(frame, 1, y), sourceRow(frame, 2, y), n, false,
                                        destinationRow(d.planes[1], y));
                }
            }
            break;
        }
        case DeliveryRoute::Planar10ToBiplanar10: {
            const int32_t luma =
                static_cast<int32_t>(std::min<int64_t>(width, d.planes[0].rowBytes / 2));
            for (int32_t y = 0; y < height; ++y) {
                highBitsRow(sourceRow(frame, 0, y), luma, destinationRow(d.planes[0], y));
            }
            const int32_t n =
                static_cast<int32_t>(std::min<int64_t>(pairs, d.planes[1].rowBytes / 4));
            for (int32_t y = 0; y < chromaRows; ++y) {
                interleaveChromaRow(sourceRow(frame, 1, y), sourceRow(frame, 2, y), n, true,
                                    destinationRow(d.planes[1], y));
            }
            break;
        }
        default:
            return false;
    }
    return true;
}

}  // namespace kestrova
