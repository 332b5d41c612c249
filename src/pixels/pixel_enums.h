// Enumerations shared by the stream summary, the pixel plans and the log.
#pragma once

#include <cstdint>

namespace kestrova {

enum class AlphaMode : int32_t {
    None = 0,
    Straight = 1,
    Premultiplied = 2,
    Opaque = 3,
    Unknown = 4
};
enum class FieldOrder : int32_t { Progressive = 0, UpperFirst = 1, LowerFirst = 2, Unknown = 3 };
enum class ChromaClass : int32_t {
    Mono = 0,
    Yuv420 = 1,
    Yuv422 = 2,
    Yuv444 = 3,
    Rgb = 4,
    Unknown = 5
};
enum class ConversionKind : uint32_t {
    PlaneCopy = 0,
    InterleaveBiplanar = 1,
    Shuffle = 2,
    PackedCopy = 3,
    InterleaveVuya = 4,
    PackV210 = 5,
    Pack10Rgb = 6,
    Scale16u = 7,
    FloatNormalize = 8,
    MatrixToRgbFloat = 9,
    PlanarRgbFloat = 10,
    Swscale = 11
};
enum class DeliveryRoute : int32_t {
    PlanarToPlanar = 0,
    BiplanarToBiplanar = 1,
    PlanarToBiplanar8 = 2,
    Planar10ToBiplanar10 = 3,
    BiplanarToPlanar8 = 4,
    Kernel = 5,
    Unsupported = 6
};

inline bool isInterlaced(FieldOrder order) {
    return order == FieldOrder::UpperFirst || order == FieldOrder::LowerFirst;
}

// Log names; "?" outside the enumeration.
const char* enumName(AlphaMode mode);
const char* enumName(FieldOrder order);
const char* enumName(ChromaClass chroma);
const char* enumName(ConversionKind kind);
const char* enumName(DeliveryRoute route);

}  // namespace kestrova
