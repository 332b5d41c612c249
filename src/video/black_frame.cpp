#include "video/black_frame.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>

#include "ffmpeg/ffmpeg_runtime.h"
#include "support/logger.h"

namespace kestrova {
namespace {

constexpr int kMaxPlanes = 8;
constexpr int kMaxPattern = 16;
constexpr int32_t kFullRange = 2;

struct PlaneLayout {
    int64_t rows = 0;
    int64_t lineSize = 0;
    uint8_t pattern[kMaxPattern] = {};
    int patternLength = 0;
    int64_t offset = 0;
};

int componentBytes(const AVComponentDescriptor& component) {
    return (component.depth + 7) / 8;
}

// (1 << bits) - 1 without overflowing for wide components.
uint64_t allOnes(int bits) {
    if (bits <= 0) {
        return 0;
    }
    return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
}

// Component values before their shift; FFmpeg's component descriptors say
// where each one's bits go.
uint64_t blackLuma(const AVPixFmtDescriptor& d, int32_t colourRange) {
    const int depth = d.comp[0].depth;
    if (colourRange == kFullRange || (d.flags & AV_PIX_FMT_FLAG_FLOAT) || depth < 1 || depth > 63) {
        return 0;
    }
    return depth >= 8 ? uint64_t{16} << (depth - 8) : uint64_t{16} >> (8 - depth);
}

uint64_t neutralChroma(const AVComponentDescriptor& chroma) {
    return chroma.depth >= 1 && chroma.depth <= 64 ? uint64_t{1} << (chroma.depth - 1) : 0;
}

uint64_t opaqueAlpha(const AVPixFmtDescriptor& d, int component) {
    const AVComponentDescriptor& alpha = d.comp[component];
    if (d.flags & AV_PIX_FMT_FLAG_FLOAT) {
        switch (componentBytes(alpha)) {
            case 4:
                return 0x3F800000u;  // 1.0f
            case 2:
                return 0x3C00u;  // 1.0 as a half float
            default:
                return 0;
        }
    }
    return allOnes(alpha.depth);
}

// Sets the bits of `component` in the pattern bytes at `position` to `value`.
// The bits live in the smallest word of 1, 2, 4 or 8 bytes that holds shift
// plus depth, in the format's byte order; other components may share the
// word. A one-byte word of a big-endian format sits one byte further on.
// False when the word does not fit in `capacity`.
bool putComponent(uint8_t* pattern, int capacity, int64_t position,
                  const AVComponentDescriptor& component, uint64_t value, bool bigEndian) {
    const int bits = component.shift + component.depth;
    if (component.shift < 0 || component.depth < 1 || bits > 64) {
        return false;
    }
    const int bytes = bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 8;
    if (bytes == 1 && bigEndian) {
        ++position;
    }
    if (position < 0 || position + bytes > capacity) {
        return false;
    }
    uint8_t* word = pattern + position;
    uint64_t current = 0;
    for (int i = 0; i < bytes; ++i) {
        current |= uint64_t{word[bigEndian ? bytes - 1 - i : i]} << (8 * i);
    }
    const uint64_t mask = allOnes(component.depth) << component.shift;
    current = (current & ~mask) | ((value << component.shift) & mask);
    for (int i = 0; i < bytes; ++i) {
        word[bigEndian ? bytes - 1 - i : i] = static_cast<uint8_t>(current >> (8 * i));
    }
    return true;
}

// A plane holding one component: a pattern of that component's bytes.
void setComponentPattern(PlaneLayout& plane, const AVComponentDescriptor& component, uint64_t value,
                         bool bigEndian) {
    std::memset(plane.pattern, 0, sizeof plane.pattern);
    const int bytes = componentBytes(component);
    plane.patternLength =
        bytes <= kMaxPattern &&
                putComponent(plane.pattern, bytes, component.offset, component, value, bigEndian)
            ? bytes
            : 0;
}

int64_t ceilShift(int64_t value, int log2) {
    if (log2 <= 0) {
        return value;
    }
    if (log2 >= 31) {
        return value > 0 ? 1 : 0;
    }
    return (value + (int64_t{1} << log2) - 1) >> log2;
}

const char* nameOf(const AVPixFmtDescriptor& d) {
    return d.name ? d.name : "?";
}

void fillPlane(uint8_t* start, int64_t size, const PlaneLayout& plane) {
    if (plane.patternLength <= 0 || size <= 0) {
        return;
    }
    if (plane.patternLength == 1) {
        std::memset(start, plane.pattern[0], static_cast<std::size_t>(size));
        return;
    }
    int64_t written = 0;
    while (written + plane.patternLength <= size) {
        std::memcpy(start + written, plane.pattern, static_cast<std::size_t>(plane.patternLength));
        written += plane.patternLength;
    }
    if (written < size) {
        std::memcpy(start + written, plane.pattern, static_cast<std::size_t>(size - written));
    }
}

void clearPlanes(uint8_t* data[8], int linesize[8]) {
    for (int i = 0; i < kMaxPlanes; ++i) {
        data[i] = nullptr;
        linesize[i] = 0;
    }
}

}  // namespace

PixelLayoutClass classifyPixelLayout(const AVPixFmtDescriptor* descriptor, int& planeCount) {
    planeCount = 0;
    if (!descriptor || descriptor->nb_components == 0 ||
        (descriptor->flags &
         (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL))) {
        return PixelLayoutClass::NotSynthesisable;
    }
    const int components = std::min<int>(descriptor->nb_components, 4);
    int highestPlane = 0;
    for (int c = 0; c < components; ++c) {
        if (descriptor->comp[c].plane < 0) {
            return PixelLayoutClass::NotSynthesisable;
        }
        highestPlane = std::max(highestPlane, descriptor->comp[c].plane);
    }
    if (highestPlane + 1 > kMaxPlanes) {
        return PixelLayoutClass::NotSynthesisable;
    }
    planeCount = highestPlane + 1;

    if (descriptor->flags & AV_PIX_FMT_FLAG_RGB) {
        return planeCount == 1 ? PixelLayoutClass::PackedRgb : PixelLayoutClass::PlanarRgb;
    }
    if (components == 1) {
        return descriptor->comp[0].plane == 0 ? PixelLayoutClass::Gray
                                              : PixelLayoutClass::NotSynthesisable;
    }
    bool allInPlaneZero = true;
    for (int c = 0; c < components; ++c) {
        allInPlaneZero = allInPlaneZero && descriptor->comp[c].plane == 0;
    }
    if (allInPlaneZero) {
        return PixelLayoutClass::PackedYuv;
    }
    if (components < 3) {
        return PixelLayoutClass::NotSynthesisable;
    }
    if (descriptor->comp[1].plane != descriptor->comp[2].plane) {
        return PixelLayoutClass::PlanarYuv;
    }
    if (descriptor->comp[1].offset != descriptor->comp[2].offset) {
        return PixelLayoutClass::SemiPlanarYuv;
    }
    return PixelLayoutClass::NotSynthesisable;
}

bool synthesiseBlackFrame(int32_t pixelFormat, int32_t width, int32_t height, int32_t colourRange,
                          std::vector<uint8_t>& buffer, uint8_t* data[8], int linesize[8]) {
    clearPlanes(data, linesize);
    if (width < 1 || height < 1 || pixelFormat == AV_PIX_FMT_NONE) {
        return false;
    }
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        return false;
    }
    const AVPixFmtDescriptor* descriptor =
        runtime.fn().av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixelFormat));
    if (!descriptor) {
        return false;
    }
    const AVPixFmtDescriptor& d = *descriptor;

    int planeCount = 0;
    const PixelLayoutClass layout = classifyPixelLayout(descriptor, planeCount);
    if (layout == PixelLayoutClass::NotSynthesisable || planeCount < 1) {
        Logger::log(LogLevel::Error, "synthesiseBlackFrame: %s is not a synthesisable layout",
                    nameOf(d));
        return false;
    }

    const int lumaBytes = componentBytes(d.comp[0]);
    if (lumaBytes < 1 || lumaBytes > 4) {
        return false;
    }
    const bool hasAlpha = (d.flags & AV_PIX_FMT_FLAG_ALPHA) && d.nb_components >= 4;
    const bool bigEndian = (d.flags & AV_PIX_FMT_FLAG_BE) != 0;
    const uint64_t luma = blackLuma(d, colourRange);
    const uint64_t alpha = hasAlpha ? opaqueAlpha(d, 3) : 0;
    const int64_t chromaWidth = ceilShift(width, d.log2_chroma_w);
    const int64_t chromaHeight = ceilShift(height, d.log2_chroma_h);

    PlaneLayout planes[kMaxPlanes];
    auto planeOf = [&](int component) -> PlaneLayout& { return planes[d.comp[component].plane]; };

    switch (layout) {
        case PixelLayoutClass::Gray:
        case PixelLayoutClass::PlanarYuv:
        case PixelLayoutClass::SemiPlanarYuv: {
            PlaneLayout& lumaPlane = planes[0];
            lumaPlane.rows = height;
            lumaPlane.lineSize = int64_t{lumaBytes} * width;
            setComponentPattern(lumaPlane, d.comp[0], luma, bigEndian);
            if (layout == PixelLayoutClass::PlanarYuv) {
                for (int c = 1; c <= 2; ++c) {
                    const int bytes = componentBytes(d.comp[c]);
                    PlaneLayout& plane = planeOf(c);
                    plane.rows = chromaHeight;
                    plane.lineSize = chromaWidth * bytes;
                    setComponentPattern(plane, d.comp[c], neutralChroma(d.comp[c]), bigEndian);
                }
            } else if (layout == PixelLayoutClass::SemiPlanarYuv) {
                const int bytes = componentBytes(d.comp[1]);
                PlaneLayout& plane = planeOf(1);
                plane.rows = chromaHeight;
                plane.lineSize = chromaWidth * bytes * 2;
                plane.patternLength = 2 * bytes;
                for (int c = 1; c <= 2; ++c) {
                    if (!putComponent(plane.pattern, plane.patternLength, d.comp[c].offset,
                                      d.comp[c], neutralChroma(d.comp[c]), bigEndian)) {
                        plane.patternLength = 0;
                    }
                }
            }
            if (hasAlpha && layout != PixelLayoutClass::Gray) {
                const int bytes = componentBytes(d.comp[3]);
                PlaneLayout& plane = planeOf(3);
                plane.rows = height;
                plane.lineSize = int64_t{width} * bytes;
                setComponentPattern(plane, d.comp[3], alpha, bigEndian);
            }
            break;
        }
        case PixelLayoutClass::PackedYuv: {
            const int step = d.comp[1].step;
            const int lumaPerMacropixel = d.log2_chroma_w < 31 ? 1 << d.log2_chroma_w : 0;
            if (step < 1 || step > kMaxPattern || lumaPerMacropixel < 1) {
                Logger::log(LogLevel::Error,
                            "synthesiseBlackFrame: %s has an unusable packed macropixel (step %d, "
                            "%d luma per macropixel)",
                            nameOf(d), step, lumaPerMacropixel);
                return false;
            }
            PlaneLayout& plane = planes[0];
            plane.patternLength = step;
            for (int k = 0; k < lumaPerMacropixel; ++k) {
                const int64_t position = int64_t{k} * d.comp[0].step + d.comp[0].offset;
                if (!putComponent(plane.pattern, step, position, d.comp[0], luma, bigEndian)) {
                    break;
                }
            }
            // Grey with alpha (ya8, ya16) keeps its alpha in component 1, which
            // must be opaque rather than neutral.
            const bool greyAlpha = (d.flags & AV_PIX_FMT_FLAG_ALPHA) && d.nb_components == 2;
            for (int c = 1; c <= 2 && c < d.nb_components; ++c) {
                const uint64_t value = greyAlpha ? opaqueAlpha(d, 1) : neutralChroma(d.comp[c]);
                putComponent(plane.pattern, step, d.comp[c].offset, d.comp[c], value, bigEndian);
            }
            if (hasAlpha) {
                putComponent(plane.pattern, step, d.comp[3].offset, d.comp[3], alpha, bigEndian);
            }
            plane.rows = height;
            plane.lineSize = ceilShift(width, d.log2_chroma_w) * step;
            break;
        }
        case PixelLayoutClass::PackedRgb: {
            const int step = d.comp[0].step;
            if (step < 1 || step > kMaxPattern) {
                Logger::log(LogLevel::Error,
                            "synthesiseBlackFrame: %s has an unusable pixel step %d", nameOf(d),
                            step);
                return false;
            }
            PlaneLayout& plane = planes[0];
            plane.patternLength = step;
            if (hasAlpha) {
                putComponent(plane.pattern, step, d.comp[3].offset, d.comp[3], alpha, bigEndian);
            }
            plane.rows = height;
            plane.lineSize = int64_t{width} * step;
            break;
        }
        case PixelLayoutClass::PlanarRgb: {
            for (int c = 0; c < d.nb_components && c < 4; ++c) {
                const int bytes = componentBytes(d.comp[c]);
                PlaneLayout& plane = planeOf(c);
                plane.rows = height;
                plane.lineSize = int64_t{width} * bytes;
                setComponentPattern(plane, d.comp[c], (c == 3 && hasAlpha) ? alpha : 0, bigEndian);
            }
            break;
        }
        case PixelLayoutClass::NotSynthesisable:
            return false;
    }

    // Plane sizes, back to back from offset 0. Line sizes must fit the int
    // the frame carries them in.
    int64_t total = 0;
    for (int p = 0; p < planeCount; ++p) {
        PlaneLayout& plane = planes[p];
        if (plane.lineSize > INT_MAX || plane.lineSize < 0 || plane.rows < 0) {
            return false;
        }
        plane.offset = total;
        int64_t size = 0;
        if (__builtin_mul_overflow(plane.rows, plane.lineSize, &size) ||
            __builtin_add_overflow(total, size, &total)) {
            return false;
        }
    }
    if (total <= 0) {
        return false;
    }
    try {
        buffer.assign(static_cast<std::size_t>(total), 0);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }

    for (int p = 0; p < planeCount; ++p) {
        const PlaneLayout& plane = planes[p];
        const int64_t size = plane.rows * plane.lineSize;
        if (size <= 0) {
            continue;
        }
        uint8_t* start = buffer.data() + plane.offset;
        fillPlane(start, size, plane);
        data[p] = start;
        linesize[p] = static_cast<int>(plane.lineSize);
    }

    for (int p = 0; p < planeCount; ++p) {
        if (!data[p] || linesize[p] == 0) {
            Logger::log(LogLevel::Error,
                        "synthesiseBlackFrame: %s requires %d plane(s) but plane %d is missing "
                        "(data=%p linesize=%d) - refusing to publish a malformed frame",
                        nameOf(d), planeCount, p, static_cast<void*>(data[p]), linesize[p]);
            clearPlanes(data, linesize);
            return false;
        }
    }
    for (int p = planeCount; p < kMaxPlanes; ++p) {
        if (data[p] || linesize[p] != 0) {
            Logger::log(LogLevel::Error,
                        "synthesiseBlackFrame: %s has %d plane(s) but plane %d was also published "
                        "- refusing to publish a malformed frame",
                        nameOf(d), planeCount, p);
            clearPlanes(data, linesize);
            return false;
        }
    }
    if (layout == PixelLayoutClass::SemiPlanarYuv) {
        const int64_t needed = 2 * int64_t{componentBytes(d.comp[1])} * chromaWidth;
        const int actual = linesize[d.comp[1].plane];
        if (actual < needed) {
            Logger::log(LogLevel::Error,
                        "synthesiseBlackFrame: %s interleaved chroma row is %d bytes but needs %d",
                        nameOf(d), actual, static_cast<int>(needed));
            clearPlanes(data, linesize);
            return false;
        }
    }
    return true;
}

}  // namespace kestrova
