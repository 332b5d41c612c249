#include "pixels/pixel_enums.h"

#include <array>

namespace kestrova {
namespace {

template <std::size_t N>
const char* nameIn(const std::array<const char*, N>& names, int32_t value) {
    return value >= 0 && static_cast<std::size_t>(value) < N ? names[value] : "?";
}

}  // namespace

const char* enumName(AlphaMode mode) {
    static constexpr std::array<const char*, 5> names = {"None", "Straight", "Premultiplied",
                                                         "Opaque", "Unknown"};
    return nameIn(names, static_cast<int32_t>(mode));
}

const char* enumName(FieldOrder order) {
    static constexpr std::array<const char*, 4> names = {"Progressive", "UpperFirst", "LowerFirst",
                                                         "Unknown"};
    return nameIn(names, static_cast<int32_t>(order));
}

const char* enumName(ChromaClass chroma) {
    static constexpr std::array<const char*, 6> names = {"Mono",  "4:2:0", "4:2:2",
                                                         "4:4:4", "RGB",   "Unknown"};
    return nameIn(names, static_cast<int32_t>(chroma));
}

const char* enumName(ConversionKind kind) {
    static constexpr std::array<const char*, 12> names = {
        "PlaneCopy",      "InterleaveBiplanar", "Shuffle",        "PackedCopy",
        "InterleaveVuya", "PackV210",           "Pack10Rgb",      "Scale16u",
        "FloatNormalize", "MatrixToRgbFloat",   "PlanarRgbFloat", "Swscale"};
    const auto value = static_cast<uint32_t>(kind);
    return value < names.size() ? names[value] : "?";
}

const char* enumName(DeliveryRoute route) {
    static constexpr std::array<const char*, 7> names = {
        "PlanarToPlanar",       "BiplanarToBiplanar", "PlanarToBiplanar8",
        "Planar10ToBiplanar10", "BiplanarToPlanar8",  "Kernel",
        "Unsupported"};
    return nameIn(names, static_cast<int32_t>(route));
}

}  // namespace kestrova
