// The memory layout of one pixel format, for an FFmpeg format or a host
// FourCC, so a route can compare what was decoded with what the host wants.
#pragma once

#include <cstdint>

#include "pixels/pixel_enums.h"

struct AVPixFmtDescriptor;

namespace kestrova {

struct PlaneLayout {
    int32_t planeCount = 0;
    int32_t chromaShiftX = 0;  // log2
    int32_t chromaShiftY = 0;  // log2
    int32_t depth = 8;         // first component
    bool semiPlanar = false;   // both chroma colours share one plane
    bool vBeforeU = false;
    bool highBits = false;  // samples in the high bits of a wider word
    bool alpha = false;
    bool rgb = false;
    bool isFloat = false;
    bool valid = false;

    bool operator==(const PlaneLayout&) const = default;
};

// FFmpeg's descriptor of a pixel format; null when FFmpeg is not loaded or
// the format is unknown.
const AVPixFmtDescriptor* pixelFormatDescriptor(int32_t pixelFormat);

// Planes the format's components use, up to the highest.
int32_t planeCountOf(const AVPixFmtDescriptor& descriptor);

// Invalid for palette, bitstream and hardware formats, and when FFmpeg is not
// loaded.
PlaneLayout layoutOfFfmpegFormat(int32_t pixelFormat);
// The same for a descriptor already looked up; invalid for null.
PlaneLayout layoutOfDescriptor(const AVPixFmtDescriptor* descriptor);

// Chroma class from FFmpeg's descriptor; Unknown without one.
ChromaClass chromaClassOf(int32_t pixelFormat);

}  // namespace kestrova
