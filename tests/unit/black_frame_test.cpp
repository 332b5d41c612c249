#include "video/black_frame.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kestrova
