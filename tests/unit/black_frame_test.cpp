#include "video/black_frame.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova {
namespace {

struct Frame {
    std::vector<uint8_t> buffer;
    uint8_t* data[8] = {};
    int linesize[8] = {};
    bool make(int32_t format, int32_t width, int32_t height, int32_t range) {
        return synthesiseBlackFrame(format, width, height, range, buffer, data, linesize);
    }
    void expectUnsetFrom(int planes, const std::string& what) const {
        for (int p = planes; p < 8; ++p) {
            EXPECT_EQ(data[p], nullptr) << what << " plane " << p;
            EXPECT_EQ(linesize[p], 0) << what << " plane " << p;
        }
    }
};

class BlackFrameTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
};

using Plane = std::tuple<int, int, std::vector<uint8_t>>;  // line size, rows, repeated bytes

// Sizes are odd where it matters, so rounding of subsampled planes shows.
TEST_F(BlackFrameTest, PlanesHoldTheBlackPattern) {
    constexpr AVPixelFormat kFloat = AV_PIX_FMT_GBRAPF32LE;  // planes G, B, R and alpha 1.0f
    const struct {
        AVPixelFormat format;
        int32_t width, height, range;
        std::vector<Plane> planes;
    } cases[] = {
        {AV_PIX_FMT_YUV420P, 5, 3, 1, {{5, 3, {16}}, {3, 2, {128}}, {3, 2, {128}}}},
        {AV_PIX_FMT_YUV420P, 4, 2, 2, {{4, 2, {0}}, {2, 1, {128}}, {2, 1, {128}}}},
        {AV_PIX_FMT_YUV420P10BE, 4, 2, 1, {{8, 2, {0, 64}}, {4, 1, {2, 0}}, {4, 1, {2, 0}}}},
        // Ten bits in the top of sixteen: 64 << 6 and 512 << 6.
        {AV_PIX_FMT_P010LE, 6, 4, 1, {{12, 4, {0x00, 0x10}}, {12, 2, {0x00, 0x80}}}},
        {AV_PIX_FMT_NV12, 3, 3, 1, {{3, 3, {16}}, {4, 2, {128}}}},
        {AV_PIX_FMT_YUYV422, 3, 2, 1, {{8, 2, {16, 128, 16, 128}}}},
        {AV_PIX_FMT_YA8, 3, 2, 1, {{6, 2, {16, 255}}}},  // the second component is alpha
        {kFloat, 2, 2, 1, {{8, 2, {0}}, {8, 2, {0}}, {8, 2, {0}}, {8, 2, {0, 0, 128, 63}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.format) + " range " + std::to_string(c.range));
        Frame frame;
        ASSERT_TRUE(frame.make(c.format, c.width, c.height, c.range));
        for (std::size_t p = 0; p < c.planes.size(); ++p) {
            const auto& [lineSize, rows, pattern] = c.planes[p];
            ASSERT_EQ(frame.linesize[p], lineSize) << "plane " << p;
            const std::size_t size = static_cast<std::size_t>(lineSize) * rows;
            ASSERT_LE(frame.data[p] + size, frame.buffer.data() + frame.buffer.size());
            for (std::size_t i = 0; i < size; ++i) {
                ASSERT_EQ(frame.data[p][i], pattern[i % pattern.size()])
                    << "plane " << p << " byte " << i;
            }
        }
    }
}

TEST_F(BlackFrameTest, UnusableRequestsPublishNothing) {
    const int32_t refusals[][3] = {
        {AV_PIX_FMT_CUDA, 16, 16},    {AV_PIX_FMT_NONE, 16, 16},      {AV_PIX_FMT_YUV420P, 0, 16},
        {AV_PIX_FMT_YUV420P, 16, -1}, {AV_PIX_FMT_NB + 1000, 16, 16},
    };
    for (const auto& [format, width, height] : refusals) {
        Frame frame;
        frame.data[0] = reinterpret_cast<uint8_t*>(&frame);
        frame.linesize[0] = 7;
        EXPECT_FALSE(frame.make(format, width, height, 1)) << format;
        frame.expectUnsetFrom(0, std::to_string(format));
    }
}

int rowsOfPlane(const AVPixFmtDescriptor& d, PixelLayoutClass layout, int plane, int height) {
    if (layout != PixelLayoutClass::PlanarYuv && layout != PixelLayoutClass::SemiPlanarYuv) {
        return height;
    }
    for (int c = 0; c < d.nb_components; ++c) {
        if (d.comp[c].plane == plane && (c == 0 || c == 3)) {
            return height;
        }
    }
    return -((-height) >> d.log2_chroma_h);
}

bool knownUnusable(const AVPixFmtDescriptor& d, PixelLayoutClass layout) {
    const int lumaBytes = (d.comp[0].depth + 7) / 8;
    const int step = layout == PixelLayoutClass::PackedYuv   ? d.comp[1].step
                     : layout == PixelLayoutClass::PackedRgb ? d.comp[0].step
                                                             : 1;
    return lumaBytes < 1 || lumaBytes > 4 || step < 1 || step > 16;
}

TEST_F(BlackFrameTest, EveryDescribedFormatIsBuiltOrRefused) {
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    constexpr int kHeight = 5;
    int built = 0, described = 0;
    for (const AVPixFmtDescriptor* d = fn.av_pix_fmt_desc_next(nullptr); d;
         d = fn.av_pix_fmt_desc_next(d)) {
        ++described;
        const std::string name = d->name ? d->name : "?";
        int planeCount = 0;
        const PixelLayoutClass layout = classifyPixelLayout(d, planeCount);
        Frame frame;
        if (!frame.make(fn.av_pix_fmt_desc_get_id(d), 7, kHeight, 1)) {
            EXPECT_TRUE(layout == PixelLayoutClass::NotSynthesisable || knownUnusable(*d, layout))
                << name << " refused although it is class " << static_cast<int>(layout);
            frame.expectUnsetFrom(0, name);
            continue;
        }
        ++built;
        ASSERT_NE(layout, PixelLayoutClass::NotSynthesisable) << name;
        const uint8_t* cursor = frame.buffer.data();
        for (int p = 0; p < planeCount; ++p) {
            ASSERT_EQ(frame.data[p], cursor) << name << " plane " << p;
            ASSERT_GT(frame.linesize[p], 0) << name << " plane " << p;
            cursor +=
                static_cast<std::size_t>(frame.linesize[p]) * rowsOfPlane(*d, layout, p, kHeight);
            ASSERT_LE(cursor, frame.buffer.data() + frame.buffer.size()) << name << " plane " << p;
        }
        frame.expectUnsetFrom(planeCount, name);
        EXPECT_EQ(cursor, frame.buffer.data() + frame.buffer.size()) << name;
    }
    EXPECT_GT(described, 100);
    EXPECT_GT(built, described / 2);
}

// The value each component of a black picture must read back as, before its
// shift: black luma (zero for float and full range), neutral chroma, opaque
// alpha, zero for RGB; none for padding.
std::optional<uint32_t> blackComponent(const AVPixFmtDescriptor& d, int c, int32_t range) {
    const AVComponentDescriptor& component = d.comp[c];
    const bool isFloat = (d.flags & AV_PIX_FMT_FLAG_FLOAT) != 0;
    const bool alpha =
        (d.flags & AV_PIX_FMT_FLAG_ALPHA) != 0 && (c == 3 || (c == 1 && d.nb_components == 2));
    if (alpha) {
        if (isFloat) {
            return component.depth > 16 ? 0x3F800000u : 0x3C00u;
        }
        return static_cast<uint32_t>((uint64_t{1} << component.depth) - 1);
    }
    if (c == 3) {
        return std::nullopt;
    }
    if ((d.flags & AV_PIX_FMT_FLAG_RGB) != 0) {
        return 0;
    }
    if (c == 0) {
        return range == 2 || isFloat ? 0 : 16u << (component.depth - 8);
    }
    return 1u << (component.depth - 1);
}

// Whether a packed macropixel holds the luma samples its descriptor places:
// uyyvyy411 puts four in six bytes, which no step and offset can describe.
bool describedExactly(const AVPixFmtDescriptor& d) {
    const AVComponentDescriptor& luma = d.comp[0];
    if (d.nb_components < 3 || d.comp[1].plane != 0 || d.log2_chroma_w == 0) {
        return true;
    }
    const int lastLuma = ((1 << d.log2_chroma_w) - 1) * luma.step + luma.offset;
    return lastLuma + (luma.depth + 7) / 8 <= d.comp[1].step;
}

// Every component of every built picture, read back by FFmpeg through the
// format's descriptor, holds the black value; packed formats whose
// components share bytes (xv30le: Y, U and V in one 32-bit word) included.
TEST_F(BlackFrameTest, EveryComponentReadsBackAsBlack) {
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    constexpr int32_t kWidth = 7, kHeight = 3;
    int checked = 0;
    for (const AVPixFmtDescriptor* d = fn.av_pix_fmt_desc_next(nullptr); d;
         d = fn.av_pix_fmt_desc_next(d)) {
        for (const int32_t range : {1, 2}) {
            Frame frame;
            if (!frame.make(fn.av_pix_fmt_desc_get_id(d), kWidth, kHeight, range)) {
                continue;
            }
            const uint8_t* planes[4] = {frame.data[0], frame.data[1], frame.data[2], frame.data[3]};
            const int lineSizes[4] = {frame.linesize[0], frame.linesize[1], frame.linesize[2],
                                      frame.linesize[3]};
            const bool yuv = (d->flags & AV_PIX_FMT_FLAG_RGB) == 0;
            if (yuv && !describedExactly(*d)) {
                continue;
            }
            for (int c = 0; c < d->nb_components; ++c) {
                const bool chroma = yuv && (c == 1 || c == 2) && d->nb_components > 2;
                const int width = chroma ? -((-kWidth) >> d->log2_chroma_w) : kWidth;
                const int rows = chroma ? -((-kHeight) >> d->log2_chroma_h) : kHeight;
                const std::optional<uint32_t> want = blackComponent(*d, c, range);
                if (!want) {
                    continue;
                }
                for (int y = 0; y < rows; ++y) {
                    std::vector<uint32_t> got(static_cast<std::size_t>(width));
                    fn.av_read_image_line2(got.data(), planes, lineSizes, d, 0, y, c, width, 0, 4);
                    for (int x = 0; x < width; ++x) {
                        ASSERT_EQ(got[x], *want) << d->name << " range " << range << " component "
                                                 << c << " at " << x << "," << y;
                    }
                }
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 400);
}

}  // namespace
}  // namespace kestrova
