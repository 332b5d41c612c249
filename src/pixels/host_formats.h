// The host pixel formats the plug-in produces: FourCC values, their buffer
// layouts and the sets the HDR contract and the colour space answer use.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "host/host_api.h"
#include "pixels/plane_layout.h"

namespace kestrova {

using host::fourCC;
using host::kBadFormat;

// Bytes of a v210 row: 16 per group of 6 pixels, padded to 128 bytes.
inline int64_t v210RowBytes(int64_t width) {
    const int64_t groups = (std::max<int64_t>(width, 0) + 5) / 6;
    return (groups * 16 + 127) / 128 * 128;
}

// Invalid outside the catalogue.
PlaneLayout layoutOfHostFormat(uint32_t format);

// The sixteen planar 4:2:0 8-bit formats (yv.. and Yv..).
bool isPlanar420Format(uint32_t format);
// The 8-bit and 10-bit biplanar 4:2:0 families (32 values).
bool isBiplanarFormat(uint32_t format);
bool is8BitSdrFormat(uint32_t format);
bool is32fFormat(uint32_t format);
// Formats whose colour space answer says RGB.
bool isRgbHostFormat(uint32_t format);
// The colour matrix a YUV format's variant name promises (FFmpeg numbering:
// SMPTE 170M for 601, BT.709, or BT.2020 for the P0, PO and PH families);
// 0 for RGB formats and formats outside the catalogue.
int32_t hostFormatMatrix(uint32_t format);
// Packed RGB formats the host stores bottom row first.
bool isBottomUpFormat(uint32_t format);

// Four characters from the highest byte down when all are printable, else
// "0x" and the value in hexadecimal: how the log writes a format.
std::string printableFourCC(uint32_t format);
// The same with the first character (lowest byte) first: how the catalogue
// and the command-line tools spell a format.
std::string fourCCName(uint32_t format);

}  // namespace kestrova
