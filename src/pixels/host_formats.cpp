#include "pixels/host_formats.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kestrova {
namespace {

struct CatalogueEntry {
    uint32_t format;
    PlaneLayout layout;
};

constexpr PlaneLayout planar420() {
    return {.planeCount = 3, .chromaShiftX = 1, .chromaShiftY = 1, .valid = true};
}
constexpr PlaneLayout biplanar420(int32_t depth, bool vBeforeU) {
    return {.planeCount = 2,
            .chromaShiftX = 1,
            .chromaShiftY = 1,
            .depth = depth,
            .semiPlanar = true,
            .vBeforeU = vBeforeU,
            .highBits = depth > 8,
            .valid = true};
}
constexpr PlaneLayout packed422(int32_t depth) {
    return {.planeCount = 1, .chromaShiftX = 1, .depth = depth, .valid = true};
}
constexpr PlaneLayout packedVuy(int32_t depth, bool alpha) {
    return {.planeCount = 1,
            .depth = depth,
            .vBeforeU = true,
            .alpha = alpha,
            .isFloat = depth == 32,
            .valid = true};
}
constexpr PlaneLayout packedRgb(int32_t depth, bool alpha) {
    return {.planeCount = 1,
            .depth = depth,
            .alpha = alpha,
            .rgb = true,
            .isFloat = depth == 32,
            .valid = true};
}

constexpr std::array kPlanar420 = {fourCC("yv12"), fourCC("yv1f"), fourCC("yv17"), fourCC("yv1F"),
                                   fourCC("yvi2"), fourCC("yvif"), fourCC("yvi7"), fourCC("yviF"),
                                   fourCC("Yv12"), fourCC("Yv1f"), fourCC("Yv17"), fourCC("Yv1F"),
                                   fourCC("Yvi2"), fourCC("Yvif"), fourCC("Yvi7"), fourCC("YviF")};
constexpr std::array kNv12 = {fourCC("nv12"), fourCC("nv10"), fourCC("nv13"), fourCC("nv11"),
                              fourCC("nvi2"), fourCC("nvi0"), fourCC("nvi3"), fourCC("nvi1")};
constexpr std::array kNv21 = {fourCC("Nv12"), fourCC("Nv10"), fourCC("Nv13"), fourCC("Nv11"),
                              fourCC("Nvi2"), fourCC("Nvi0"), fourCC("Nvi3"), fourCC("Nvi1")};
constexpr std::array kP010 = {fourCC("p010"), fourCC("p01f"), fourCC("p0i0"), fourCC("p0if"),
                              fourCC("P010"), fourCC("P01f"), fourCC("P0i0"), fourCC("P0if"),
                              fourCC("PO10"), fourCC("PO1f"), fourCC("POi0"), fourCC("POif"),
                              fourCC("PHL0"), fourCC("PHLf"), fourCC("Phl0"), fourCC("Phlf")};

constexpr std::array<CatalogueEntry, 25> kPacked = {{
    {fourCC("yuy2"), packed422(8)},         {fourCC("yuy3"), packed422(8)},
    {fourCC("uyvy"), packed422(8)},         {fourCC("uyv7"), packed422(8)},
    {fourCC("v210"), packed422(10)},        {fourCC("v211"), packed422(10)},
    {fourCC("v21f"), packed422(10)},        {fourCC("vuyx"), packedVuy(8, false)},
    {fourCC("vux7"), packedVuy(8, false)},  {fourCC("vuya"), packedVuy(8, true)},
    {fourCC("VUYA"), packedVuy(8, true)},   {fourCC("VUyx"), packedVuy(32, false)},
    {fourCC("VUx7"), packedVuy(32, false)}, {fourCC("VUya"), packedVuy(32, true)},
    {fourCC("vUYa"), packedVuy(32, true)},  {fourCC("bgrx"), packedRgb(8, false)},
    {fourCC("bgra"), packedRgb(8, true)},   {fourCC("Bgrx"), packedRgb(16, false)},
    {fourCC("Bgra"), packedRgb(16, true)},  {fourCC("BGrx"), packedRgb(32, false)},
    {fourCC("BGra"), packedRgb(32, true)},  {fourCC("BGxL"), packedRgb(32, false)},
    {fourCC("BGaL"), packedRgb(32, true)},  {fourCC("RGB1"), packedRgb(10, false)},
    {fourCC("@HL1"), packedRgb(10, false)},
}};

constexpr std::array k8BitSdr = {fourCC("bgra"), fourCC("bgrx"), fourCC("vuyx"), fourCC("vux7"),
                                 fourCC("vuya"), fourCC("VUYA"), fourCC("yuy2"), fourCC("yuy3"),
                                 fourCC("uyvy"), fourCC("uyv7"), fourCC("vuyp"), fourCC("vup7"),
                                 fourCC("prgb"), fourCC("xrgb"), fourCC("bgrp"), fourCC("argb")};
constexpr std::array k32f = {fourCC("BGra"), fourCC("BGrx"), fourCC("BGaL"), fourCC("BGxL"),
                             fourCC("VUya"), fourCC("VUyx"), fourCC("vUYa"), fourCC("VUx7")};
constexpr std::array kRgb = {fourCC("argb"), fourCC("prgb"), fourCC("xrgb"), fourCC("bgrp"),
                             fourCC("bgra"), fourCC("bgrx"), fourCC("Bgra"), fourCC("Bgrx"),
                             fourCC("BGra"), fourCC("BGrx"), fourCC("BGaL"), fourCC("BGxL"),
                             fourCC("RGB1"), fourCC("@HL1")};

template <typename Set>
bool contains(const Set& set, uint32_t format) {
    return std::find(set.begin(), set.end(), format) != set.end();
}

}  // namespace

PlaneLayout layoutOfHostFormat(uint32_t format) {
    if (contains(kPlanar420, format)) {
        return planar420();
    }
    if (contains(kNv12, format)) {
        return biplanar420(8, false);
    }
    if (contains(kNv21, format)) {
        return biplanar420(8, true);
    }
    if (contains(kP010, format)) {
        return biplanar420(10, false);
    }
    for (const CatalogueEntry& entry : kPacked) {
        if (entry.format == format) {
            return entry.layout;
        }
    }
    return {};
}

bool isPlanar420Format(uint32_t format) {
    return contains(kPlanar420, format);
}

bool isBiplanarFormat(uint32_t format) {
    return contains(kNv12, format) || contains(kNv21, format) || contains(kP010, format);
}

bool is8BitSdrFormat(uint32_t format) {
    return contains(k8BitSdr, format);
}

bool is32fFormat(uint32_t format) {
    return contains(k32f, format);
}

bool isRgbHostFormat(uint32_t format) {
    return contains(kRgb, format);
}

int32_t hostFormatMatrix(uint32_t format) {
    // FFmpeg's numbering; the stand-in host builds this file without FFmpeg.
    constexpr int32_t kBt709 = 1, kSmpte170m = 6, kBt2020 = 9;
    const PlaneLayout layout = layoutOfHostFormat(format);
    if (!layout.valid || layout.rgb) {
        return 0;
    }
    const auto last = static_cast<char>(format >> 24);
    if (contains(kP010, format)) {
        return static_cast<char>(format) == 'p' ? kBt709 : kBt2020;
    }
    if (contains(kPlanar420, format)) {
        return last == '2' || last == 'f' ? kSmpte170m : kBt709;
    }
    if (contains(kNv12, format) || contains(kNv21, format)) {
        return last == '3' || last == '1' ? kSmpte170m : kBt709;
    }
    constexpr std::array k601 = {fourCC("yuy2"), fourCC("uyvy"), fourCC("v210"), fourCC("v21f"),
                                 fourCC("vuyx"), fourCC("vuya"), fourCC("VUyx"), fourCC("VUya")};
    return contains(k601, format) ? kSmpte170m : kBt709;
}

bool isBottomUpFormat(uint32_t format) {
    const PlaneLayout layout = layoutOfHostFormat(format);
    return layout.valid && layout.rgb;
}

namespace {

std::string fourCCText(uint32_t format, bool highestFirst) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(format >> (highestFirst ? 24 - 8 * i : 8 * i));
        if (c < 32 || c > 126) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%x", format);
            return hex;
        }
        text.push_back(static_cast<char>(c));
    }
    return text;
}

}  // namespace

std::string printableFourCC(uint32_t format) {
    return fourCCText(format, true);
}

std::string fourCCName(uint32_t format) {
    return fourCCText(format, false);
}

}  // namespace kestrova
