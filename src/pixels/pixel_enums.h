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

// Log names; "?" outside the enumeration.
const char* enumName(AlphaMode mode);
const char* enumName(FieldOrder order);

}  // namespace kestrova
