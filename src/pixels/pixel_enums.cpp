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

}  // namespace kestrova
