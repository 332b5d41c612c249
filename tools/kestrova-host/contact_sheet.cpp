#include "contact_sheet.h"

#include <algorithm>
#include <string>

namespace kestrova::cli {
namespace {

constexpr int32_t kThumbWidth = 160;
constexpr int32_t kColumns = 6;
constexpr int32_t kGap = 4;
constexpr int32_t kGlyphScale = 2;
constexpr int32_t kLabelHeight = 5 * kGlyphScale + 4;
constexpr uint8_t kBackground = 32;

// Digits 0-9 in a 3x5 bitmap, one row of three bits per entry.
constexpr uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

// Nearest-neighbour scaling is enough for a preview.
hostsim::RgbImage thumbnailOf(const hostsim::RgbImage& picture) {
    hostsim::RgbImage thumb;
    thumb.width = std::min(kThumbWidth, picture.width);
    thumb.height = std::max<int32_t>(
        1, static_cast<int32_t>(int64_t{picture.height} * thumb.width / picture.width));
    thumb.rgb.resize(static_cast<std::size_t>(thumb.width) * thumb.height * 3);
    for (int32_t y = 0; y < thumb.height; ++y) {
        const auto sy = static_cast<int32_t>(int64_t{y} * picture.height / thumb.height);
        for (int32_t x = 0; x < thumb.width; ++x) {
            const auto sx = static_cast<int32_t>(int64_t{x} * picture.width / thumb.width);
            std::copy_n(picture.pixel(sx, sy), 3,
                        thumb.rgb.data() + (static_cast<std::size_t>(y) * thumb.width + x) * 3);
        }
    }
    return thumb;
}

void drawNumber(hostsim::RgbImage& sheet, int32_t left, int32_t top, int64_t number) {
    const std::string digits = std::to_string(number);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const uint8_t* glyph = kDigits[digits[i] - '0'];
        for (int32_t row = 0; row < 5 * kGlyphScale; ++row) {
            for (int32_t col = 0; col < 3 * kGlyphScale; ++col) {
                const bool on = (glyph[row / kGlyphScale] >> (2 - col / kGlyphScale)) & 1;
                const int32_t x = left + static_cast<int32_t>(i) * 4 * kGlyphScale + col;
                const int32_t y = top + row;
                if (on && x < sheet.width && y < sheet.height) {
                    std::fill_n(
                        sheet.rgb.data() + (static_cast<std::size_t>(y) * sheet.width + x) * 3, 3,
                        uint8_t{255});
                }
            }
        }
    }
}

}  // namespace

void ContactSheet::add(int64_t frame, const hostsim::RgbImage& picture) {
    if (picture.width > 0 && picture.height > 0) {
        thumbnails_.push_back({frame, thumbnailOf(picture)});
    }
}

hostsim::RgbImage ContactSheet::render() const {
    hostsim::RgbImage sheet;
    if (thumbnails_.empty()) {
        return sheet;
    }
    std::vector<const Thumbnail*> sorted;
    for (const Thumbnail& t : thumbnails_) {
        sorted.push_back(&t);
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Thumbnail* a, const Thumbnail* b) { return a->frame < b->frame; });
    int32_t cellWidth = 0, cellHeight = 0;
    for (const Thumbnail& t : thumbnails_) {
        cellWidth = std::max(cellWidth, t.image.width);
        cellHeight = std::max(cellHeight, t.image.height);
    }
    cellHeight += kLabelHeight;
    const auto count = static_cast<int32_t>(thumbnails_.size());
    const int32_t columns = std::min(count, kColumns);
    const int32_t rows = (count + columns - 1) / columns;
    sheet.width = kGap + columns * (cellWidth + kGap);
    sheet.height = kGap + rows * (cellHeight + kGap);
    sheet.rgb.assign(static_cast<std::size_t>(sheet.width) * sheet.height * 3, kBackground);
    for (int32_t i = 0; i < count; ++i) {
        const Thumbnail& t = *sorted[static_cast<std::size_t>(i)];
        const int32_t left = kGap + (i % columns) * (cellWidth + kGap);
        const int32_t top = kGap + (i / columns) * (cellHeight + kGap);
        for (int32_t y = 0; y < t.image.height; ++y) {
            std::copy_n(
                t.image.pixel(0, y), static_cast<std::size_t>(t.image.width) * 3,
                sheet.rgb.data() + (static_cast<std::size_t>(top + y) * sheet.width + left) * 3);
        }
        drawNumber(sheet, left + 2, top + t.image.height + 2, t.frame);
    }
    return sheet;
}

}  // namespace kestrova::cli
