#include "video/black_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova {
namespace {

const ffmpeg::FfmpegRuntime& runtime() {
    return ffmpeg::FfmpegRuntime::instance();
}

struct Frame {
    bool ok = false;
    std::vector<uint8_t> buffer;
    uint8_t* data[8] = {};
    int linesize[8] = {};
};

Frame synthesise(int32_t format, int32_t width, int32_t height, int32_t range) {
    Frame frame;
    frame.ok = synthesiseBlackFrame(format, width, height, range, frame.buffer, frame.data,
                                    frame.linesize);
    return frame;
}

struct PlaneExpectation {
    int lineSize;
    int rows;
    std::vector<uint8_t> pattern;
};

struct BlackCase {
    const char* name;
    AVPixelFormat format;
    int32_t width;
    int32_t height;
    int32_t range;
    std::vector<PlaneExpectation> planes;
};

class BlackFrameTest : public ::testing::TestWithParam<BlackCase> {
  protected:
    void SetUp() override {
        if (!runtime().available()) {
            GTEST_SKIP() << "FFmpeg runtime not available";
        }
    }
};

TEST_P(BlackFrameTest, PlanesHoldTheBlackPattern) {
    const BlackCase& c = GetParam();
    const Frame frame = synthesise(c.format, c.width, c.height, c.range);
    ASSERT_TRUE(frame.ok);
    std::size_t offset = 0;
    for (std::size_t p = 0; p < 8; ++p) {
        if (p >= c.planes.size()) {
            EXPECT_EQ(frame.data[p], nullptr) << "plane " << p;
            EXPECT_EQ(frame.linesize[p], 0) << "plane " << p;
            continue;
        }
        const PlaneExpectation& plane = c.planes[p];
        ASSERT_EQ(frame.data[p], frame.buffer.data() + offset) << "plane " << p;
        ASSERT_EQ(frame.linesize[p], plane.lineSize) << "plane " << p;
        const std::size_t size = static_cast<std::size_t>(plane.lineSize) * plane.rows;
        ASSERT_LE(offset + size, frame.buffer.size());
        for (std::size_t i = 0; i < size; ++i) {
            ASSERT_EQ(frame.data[p][i], plane.pattern[i % plane.pattern.size()])
                << "plane " << p << " byte " << i;
        }
        offset += size;
    }
    EXPECT_EQ(offset, frame.buffer.size());
}

// Sizes are odd where it matters, so rounding of subsampled planes shows.
INSTANTIATE_TEST_SUITE_P(
    Formats, BlackFrameTest,
    ::testing::Values(
        BlackCase{"yuv420p_limited",
                  AV_PIX_FMT_YUV420P,
                  5,
                  3,
                  1,
                  {{5, 3, {16}}, {3, 2, {128}}, {3, 2, {128}}}},
        BlackCase{"yuv420p_full",
                  AV_PIX_FMT_YUV420P,
                  4,
                  2,
                  2,
                  {{4, 2, {0}}, {2, 1, {128}}, {2, 1, {128}}}},
        BlackCase{"yuv420p_hd_odd",
                  AV_PIX_FMT_YUV420P,
                  1919,
                  1079,
                  1,
                  {{1919, 1079, {16}}, {960, 540, {128}}, {960, 540, {128}}}},
        BlackCase{"yuv420p10le",
                  AV_PIX_FMT_YUV420P10LE,
                  4,
                  2,
                  1,
                  {{8, 2, {0x40, 0x00}}, {4, 1, {0x00, 0x02}}, {4, 1, {0x00, 0x02}}}},
        BlackCase{"yuv420p10be",
                  AV_PIX_FMT_YUV420P10BE,
                  4,
                  2,
                  1,
                  {{8, 2, {0x00, 0x40}}, {4, 1, {0x02, 0x00}}, {4, 1, {0x02, 0x00}}}},
        // Ten bits in the top of sixteen: 64 << 6 and 512 << 6.
        BlackCase{
            "p010le", AV_PIX_FMT_P010LE, 6, 4, 1, {{12, 4, {0x00, 0x10}}, {12, 2, {0x00, 0x80}}}},
        BlackCase{"nv12_odd", AV_PIX_FMT_NV12, 3, 3, 1, {{3, 3, {16}}, {4, 2, {128}}}},
        BlackCase{"yuyv422", AV_PIX_FMT_YUYV422, 3, 2, 1, {{8, 2, {16, 128, 16, 128}}}},
        BlackCase{"uyvy422", AV_PIX_FMT_UYVY422, 4, 2, 1, {{8, 2, {128, 16, 128, 16}}}},
        BlackCase{"rgba", AV_PIX_FMT_RGBA, 3, 2, 1, {{12, 2, {0, 0, 0, 255}}}},
        BlackCase{"argb", AV_PIX_FMT_ARGB, 3, 2, 1, {{12, 2, {255, 0, 0, 0}}}},
        BlackCase{"rgb24", AV_PIX_FMT_RGB24, 3, 2, 1, {{9, 2, {0}}}},
        BlackCase{"gray16be", AV_PIX_FMT_GRAY16BE, 3, 2, 1, {{6, 2, {0x10, 0x00}}}},
        // Grey with alpha: the second component is opaque alpha, not chroma.
        BlackCase{"ya8", AV_PIX_FMT_YA8, 3, 2, 1, {{6, 2, {16, 255}}}},
        BlackCase{"yuva420p",
                  AV_PIX_FMT_YUVA420P,
                  2,
                  2,
                  1,
                  {{2, 2, {16}}, {1, 1, {128}}, {1, 1, {128}}, {2, 2, {255}}}},
        BlackCase{"gbrapf32le",
                  AV_PIX_FMT_GBRAPF32LE,
                  2,
                  2,
                  1,
                  {{8, 2, {0}}, {8, 2, {0}}, {8, 2, {0}}, {8, 2, {0x00, 0x00, 0x80, 0x3F}}}}),
    [](const ::testing::TestParamInfo<BlackCase>& info) { return info.param.name; });

TEST(BlackFrameRefusalTest, UnusableRequestsPublishNothing) {
    if (!runtime().available()) {
        GTEST_SKIP() << "FFmpeg runtime not available";
    }
    struct Refusal {
        int32_t format;
        int32_t width;
        int32_t height;
    };
    const Refusal refusals[] = {
        {AV_PIX_FMT_CUDA, 16, 16},      {AV_PIX_FMT_PAL8, 16, 16},   {AV_PIX_FMT_MONOBLACK, 16, 16},
        {AV_PIX_FMT_NONE, 16, 16},      {AV_PIX_FMT_YUV420P, 0, 16}, {AV_PIX_FMT_YUV420P, 16, -1},
        {AV_PIX_FMT_NB + 1000, 16, 16},
    };
    for (const Refusal& r : refusals) {
        Frame frame;
        frame.data[0] = reinterpret_cast<uint8_t*>(&frame);
        frame.linesize[0] = 7;
        EXPECT_FALSE(synthesiseBlackFrame(r.format, r.width, r.height, 1, frame.buffer, frame.data,
                                          frame.linesize))
            << r.format;
        for (int p = 0; p < 8; ++p) {
            EXPECT_EQ(frame.data[p], nullptr) << r.format << " plane " << p;
            EXPECT_EQ(frame.linesize[p], 0) << r.format << " plane " << p;
        }
    }
}

TEST(BlackFrameReuseTest, SameSizeKeepsTheBuffer) {
    if (!runtime().available()) {
        GTEST_SKIP() << "FFmpeg runtime not available";
    }
    Frame frame;
    ASSERT_TRUE(synthesiseBlackFrame(AV_PIX_FMT_YUV420P, 64, 32, 1, frame.buffer, frame.data,
                                     frame.linesize));
    const uint8_t* first = frame.buffer.data();
    frame.buffer[0] = 0xAB;
    ASSERT_TRUE(synthesiseBlackFrame(AV_PIX_FMT_YUV420P, 64, 32, 2, frame.buffer, frame.data,
                                     frame.linesize));
    EXPECT_EQ(frame.buffer.data(), first);
    EXPECT_EQ(frame.data[0], first);
    EXPECT_EQ(frame.buffer[0], 0);
}

// Rows of a plane: subsampled height for planes that carry only chroma.
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
    if (lumaBytes < 1 || lumaBytes > 4) {
        return true;
    }
    if (layout == PixelLayoutClass::PackedYuv) {
        return d.comp[1].step < 1 || d.comp[1].step > 16;
    }
    if (layout == PixelLayoutClass::PackedRgb) {
        return d.comp[0].step < 1 || d.comp[0].step > 16;
    }
    return false;
}

TEST(BlackFrameSweepTest, EveryDescribedFormatIsBuiltOrRefused) {
    if (!runtime().available()) {
        GTEST_SKIP() << "FFmpeg runtime not available";
    }
    const auto& fn = runtime().fn();
    constexpr int kWidth = 7;
    constexpr int kHeight = 5;
    int built = 0;
    int described = 0;
    for (const AVPixFmtDescriptor* d = fn.av_pix_fmt_desc_next(nullptr); d;
         d = fn.av_pix_fmt_desc_next(d)) {
        ++described;
        const std::string name = d->name ? d->name : "?";
        int planeCount = 0;
        const PixelLayoutClass layout = classifyPixelLayout(d, planeCount);
        const Frame frame = synthesise(fn.av_pix_fmt_desc_get_id(d), kWidth, kHeight, 1);
        if (!frame.ok) {
            EXPECT_TRUE(layout == PixelLayoutClass::NotSynthesisable || knownUnusable(*d, layout))
                << name << " refused although it is class " << static_cast<int>(layout);
            for (int p = 0; p < 8; ++p) {
                EXPECT_EQ(frame.data[p], nullptr) << name;
            }
            continue;
        }
        ++built;
        ASSERT_NE(layout, PixelLayoutClass::NotSynthesisable) << name;
        const uint8_t* cursor = frame.buffer.data();
        for (int p = 0; p < 8; ++p) {
            if (p >= planeCount) {
                EXPECT_EQ(frame.data[p], nullptr) << name << " plane " << p;
                EXPECT_EQ(frame.linesize[p], 0) << name << " plane " << p;
                continue;
            }
            ASSERT_EQ(frame.data[p], cursor) << name << " plane " << p;
            ASSERT_GT(frame.linesize[p], 0) << name << " plane " << p;
            cursor +=
                static_cast<std::size_t>(frame.linesize[p]) * rowsOfPlane(*d, layout, p, kHeight);
            ASSERT_LE(cursor, frame.buffer.data() + frame.buffer.size()) << name << " plane " << p;
        }
        EXPECT_EQ(cursor, frame.buffer.data() + frame.buffer.size()) << name;
    }
    // The sweep means something only when it reached the common layouts.
    EXPECT_GT(described, 100);
    EXPECT_GT(built, described / 2);
}

}  // namespace
}  // namespace kestrova
