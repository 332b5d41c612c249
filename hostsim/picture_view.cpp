#include "picture_view.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrova::hostsim {
namespace {

struct Matrix {
    double kr;
    double kb;
};
constexpr Matrix kBt601{0.299, 0.114};
constexpr Matrix kBt709{0.2126, 0.0722};
constexpr Matrix kBt2020{0.2627, 0.0593};

struct Variant {
    Matrix matrix = kBt709;
    bool fullRange = false;
};

char fourCCChar(uint32_t format, int index) {
    return static_cast<char>(format >> (8 * index));
}

// The variant letters of the catalogue: the last character names matrix and
// range for the 4:2:0 families, the whole code for the packed ones.
Variant variantOf(uint32_t format) {
    const char last = fourCCChar(format, 3);
    if (isPlanar420Format(format)) {
        return {last == '2' || last == 'f' ? kBt601 : kBt709, last == 'f' || last == 'F'};
    }
    if (isBiplanarFormat(format) && layoutOfHostFormat(format).depth == 8) {
        return {last == '3' || last == '1' ? kBt601 : kBt709, last == '1' || last == '0'};
    }
    if (isBiplanarFormat(format)) {
        return {fourCCChar(format, 0) == 'p' ? kBt709 : kBt2020, last == 'f'};
    }
    constexpr uint32_t k601[] = {host::fourCC("yuy2"), host::fourCC("uyvy"), host::fourCC("v210"),
                                 host::fourCC("v21f"), host::fourCC("vuyx"), host::fourCC("vuya"),
                                 host::fourCC("VUyx"), host::fourCC("VUya")};
    const bool is601 = std::find(std::begin(k601), std::end(k601), format) != std::end(k601);
    return {is601 ? kBt601 : kBt709, layoutOfHostFormat(format).isFloat};
}

uint16_t word16(const uint8_t* at) {
    uint16_t value;
    std::memcpy(&value, at, 2);
    return value;
}
uint32_t word32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}
float float32(const uint8_t* at) {
    float value;
    std::memcpy(&value, at, 4);
    return value;
}

struct Yuv {
    double y;
    double cb;
    double cr;
};

// Integer codes at `depth` bits, normalised to Y 0..1 and chroma -0.5..0.5.
Yuv normalise(int32_t y, int32_t u, int32_t v, int32_t depth, bool fullRange) {
    const double scale = double(1 << (depth - 8));
    const double centre = 128.0 * scale;
    if (fullRange) {
        const double max = double((1 << depth) - 1);
        return {y / max, (u - centre) / max, (v - centre) / max};
    }
    return {(y - 16.0 * scale) / (219.0 * scale), (u - centre) / (224.0 * scale),
            (v - centre) / (224.0 * scale)};
}

uint8_t to8(double value) {
    return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

void putYuv(uint8_t* out, const Yuv& p, const Matrix& m) {
    const double r = p.y + 2.0 * (1.0 - m.kr) * p.cr;
    const double b = p.y + 2.0 * (1.0 - m.kb) * p.cb;
    const double g = (p.y - m.kr * r - m.kb * b) / (1.0 - m.kr - m.kb);
    out[0] = to8(r);
    out[1] = to8(g);
    out[2] = to8(b);
}

const uint8_t* rowOf(const PPixPlane& plane, int32_t row) {
    return plane.data + static_cast<std::ptrdiff_t>(row) * plane.rowBytes;
}

// The three samples of pixel x from one row of v210 words.
void v210Samples(const uint8_t* row, int32_t x, int32_t& y, int32_t& u, int32_t& v) {
    const uint8_t* group = row + (x / 6) * 16;
    int32_t fields[12];
    for (int word = 0; word < 4; ++word) {
        const uint32_t bits = word32(group + word * 4);
        for (int f = 0; f < 3; ++f) {
            fields[word * 3 + f] = static_cast<int32_t>((bits >> (10 * f)) & 0x3FF);
        }
    }
    // Field order: U0 Y0 V0 Y1 U1 Y2 V1 Y3 U2 Y4 V2 Y5.
    constexpr int kLuma[6] = {1, 3, 5, 7, 9, 11};
    constexpr int kU[3] = {0, 4, 8};
    constexpr int kV[3] = {2, 6, 10};
    const int in = x % 6;
    y = fields[kLuma[in]];
    u = fields[kU[in / 2]];
    v = fields[kV[in / 2]];
}

void viewYuvPixel(const PPixBuffer& p, const Variant& variant, int32_t x, int32_t y, uint8_t* out) {
    const uint32_t format = p.format();
    const PlaneLayout& layout = p.layout();
    const auto& planes = p.planes();
    if (isPlanar420Format(format)) {
        putYuv(out,
               normalise(rowOf(planes[0], y)[x], rowOf(planes[1], y / 2)[x / 2],
                         rowOf(planes[2], y / 2)[x / 2], 8, variant.fullRange),
               variant.matrix);
    } else if (isBiplanarFormat(format)) {
        const int32_t bytes = layout.depth > 8 ? 2 : 1;
        const auto sample = [&](const uint8_t* at) {
            return bytes == 2 ? int32_t{word16(at)} >> 6 : int32_t{*at};
        };
        const uint8_t* pair = rowOf(planes[1], y / 2) + (x / 2) * 2 * bytes;
        int32_t u = sample(pair), v = sample(pair + bytes);
        if (layout.vBeforeU) {
            std::swap(u, v);
        }
        putYuv(out,
               normalise(sample(rowOf(planes[0], y) + x * bytes), u, v, layout.depth,
                         variant.fullRange),
               variant.matrix);
    } else if (isV210Format(format)) {
        int32_t luma, u, v;
        v210Samples(rowOf(planes[0], y), x, luma, u, v);
        putYuv(out, normalise(luma, u, v, 10, variant.fullRange), variant.matrix);
    } else if (layout.chromaShiftX == 1) {
        // yuy2 stores Y0 U Y1 V, uyvy U Y0 V Y1.
        const uint8_t* pair = rowOf(planes[0], y) + (x / 2) * 4;
        const bool lumaFirst = fourCCChar(format, 0) == 'y';
        const int32_t luma = lumaFirst ? pair[(x % 2) * 2] : pair[(x % 2) * 2 + 1];
        const int32_t u = lumaFirst ? pair[1] : pair[0];
        const int32_t v = lumaFirst ? pair[3] : pair[2];
        putYuv(out, normalise(luma, u, v, 8, variant.fullRange), variant.matrix);
    } else if (layout.isFloat) {
        const uint8_t* at = rowOf(planes[0], y) + x * 16;
        putYuv(out, {float32(at + 8), float32(at + 4) - 0.5, float32(at) - 0.5}, variant.matrix);
    } else {
        const uint8_t* at = rowOf(planes[0], y) + x * 4;
        putYuv(out, normalise(at[2], at[1], at[0], 8, variant.fullRange), variant.matrix);
    }
}

// Packed RGB, B first; `row` is the memory row.
void viewRgbPixel(const PPixBuffer& p, int32_t x, int32_t row, uint8_t* out) {
    const PlaneLayout& layout = p.layout();
    const uint8_t* line = rowOf(p.planes().front(), row);
    double bgr[3];
    if (layout.isFloat) {
        for (int c = 0; c < 3; ++c) {
            bgr[c] = float32(line + x * 16 + c * 4);
        }
    } else if (layout.depth == 16) {
        for (int c = 0; c < 3; ++c) {
            bgr[c] = word16(line + x * 8 + c * 2) / 32768.0;
        }
    } else if (layout.depth == 10) {
        // Blue in bits 0-9, green 10-19, red 20-29.
        const uint32_t bits = word32(line + x * 4);
        for (int c = 0; c < 3; ++c) {
            bgr[c] = ((bits >> (10 * c)) & 0x3FF) / 1023.0;
        }
    } else {
        for (int c = 0; c < 3; ++c) {
            bgr[c] = line[x * 4 + c] / 255.0;
        }
    }
    out[0] = to8(bgr[2]);
    out[1] = to8(bgr[1]);
    out[2] = to8(bgr[0]);
}

}  // namespace

RgbImage viewAsRgb(const PPixBuffer& picture) {
    RgbImage image;
    image.width = picture.width();
    image.height = picture.height();
    image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
    const Variant variant = variantOf(picture.format());
    const bool rgb = picture.layout().rgb;
    for (int32_t y = 0; y < image.height; ++y) {
        const int32_t row = picture.bottomUp() ? image.height - 1 - y : y;
        for (int32_t x = 0; x < image.width; ++x) {
            uint8_t* out = image.rgb.data() + (static_cast<std::size_t>(y) * image.width + x) * 3;
            if (rgb) {
                viewRgbPixel(picture, x, row, out);
            } else {
                viewYuvPixel(picture, variant, x, row, out);
            }
        }
    }
    return image;
}

uint64_t visibleHash(const PPixBuffer& picture) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const PPixPlane& plane : picture.planes()) {
        for (int32_t row = 0; row < plane.rows; ++row) {
            const uint8_t* bytes = rowOf(plane, row);
            for (int32_t i = 0; i < plane.visibleBytes; ++i) {
                hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
            }
        }
    }
    return hash;
}

}  // namespace kestrova::hostsim
