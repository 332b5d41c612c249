#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "convert_fixtures.h"
#include "pixels/conversion_kernels.h"
#include "pixels/conversion_pool.h"
#include "pixels/host_formats.h"
#include "pixels/kernel_table.h"

namespace kestrova {
namespace {

using test::PackedBuffer;
using test::planFor;
using test::TestFrame;
using K = ConversionKind;

class ConvertKernelTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
};

template <typename T>
std::vector<T> randomSamples(std::mt19937& rng, size_t count) {
    std::vector<T> out(count);
    for (T& v : out) {
        v = static_cast<T>(rng());
    }
    return out;
}

// Odd widths, widths around the vector sizes, and a full HD row; the output
// is followed by a canary the SIMD rows must not touch.
TEST(KernelTableTest, SimdRowsMatchTheScalarReference) {
    std::mt19937 rng(7);
    const int widths[] = {1, 2, 5, 7, 13, 15, 16, 17, 31, 33, 47, 63, 65, 97, 1920, 1921};
    for (int level = 1; level <= 2; ++level) {
        const KernelTable* simd = kernelTableForLevel(level);
        if (simd == nullptr) {
            GTEST_SKIP() << "processor lacks level " << level;
        }
        EXPECT_EQ(simd->level, level);
        for (int width : widths) {
            SCOPED_TRACE("level " + std::to_string(level) + " width " + std::to_string(width));
            const auto y16 = randomSamples<uint16_t>(rng, width);
            const auto u16 = randomSamples<uint16_t>(rng, width);
            const auto v16 = randomSamples<uint16_t>(rng, width);
            const auto y8 = randomSamples<uint8_t>(rng, width);
            const auto u8 = randomSamples<uint8_t>(rng, width);
            const auto v8 = randomSamples<uint8_t>(rng, width);

            std::vector<uint8_t> want(v210RowBytes(width) + 64, 0xAB), got(want);
            packV210RowScalar(y16.data(), u16.data(), v16.data(), width, want.data());
            simd->packV210(y16.data(), u16.data(), v16.data(), width, got.data());
            EXPECT_EQ(got, want) << "v210";

            for (int shift = 0; shift <= 1; ++shift) {
                for (const uint8_t* alpha : {static_cast<const uint8_t*>(nullptr), v8.data()}) {
                    std::vector<uint8_t> a(4 * width + 64, 0xAB), b(a);
                    interleaveVuyaRowScalar(y8.data(), u8.data(), v8.data(), alpha, width, shift,
                                            a.data());
                    simd->interleaveVuya(y8.data(), u8.data(), v8.data(), alpha, width, shift,
                                         b.data());
                    EXPECT_EQ(b, a) << "vuya shift " << shift;
                }
                for (const int depth : {10, 12}) {
                    const YuvToFloatCoefficients k = matrixCoefficients(
                        depth == 10 ? AVCOL_SPC_BT2020_NCL : AVCOL_SPC_BT470BG, depth == 12, depth);
                    const YuvRow16 row{y16.data(),
                                       u16.data(),
                                       v16.data(),
                                       depth == 10 ? y16.data() : nullptr,
                                       width,
                                       shift,
                                       static_cast<uint16_t>((1 << depth) - 1)};
                    std::vector<float> a(4 * width + 8, -7.0f), b(a);
                    yuvToRgbFloatRowScalar(row, k, a.data());
                    simd->yuvToRgbFloat(row, k, b.data());
                    for (size_t i = 0; i < a.size(); ++i) {
                        ASSERT_NEAR(b[i], a[i], 1e-6) << "float " << depth << " at " << i;
                    }
                }
            }
        }
    }
}

TEST(KernelTableTest, V210PacksGroupsInOrderAndRepeatsTheEdge) {
    EXPECT_EQ(v210RowBytes(1280), 3456);
    EXPECT_EQ(v210RowBytes(48), 128);
    EXPECT_EQ(v210RowBytes(49), 256);
    EXPECT_EQ(v210RowBytes(0), 0);
    // High bits above the tenth are dropped.
    const uint16_t y[] = {1, 2, 3, 4, 5, 6, 0xFC07}, u[] = {101, 102, 103, 104},
                   v[] = {201, 202, 203, 204};
    const uint32_t want[8][3] = {{101, 1, 201}, {2, 102, 3}, {202, 4, 103}, {5, 203, 6},
                                 {104, 7, 204}, {7, 104, 7}, {204, 7, 104}, {7, 204, 7}};
    for (int level = 0; level <= 2; ++level) {
        const KernelTable* table = kernelTableForLevel(level);
        if (table == nullptr) {
            continue;
        }
        uint32_t words[8] = {};
        table->packV210(y, u, v, 7, reinterpret_cast<uint8_t*>(words));
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(words[i], want[i][0] | want[i][1] << 10 | want[i][2] << 20)
                << "level " << level << " word " << i;
        }
    }
}

TEST_F(ConvertKernelTest, V210RowOf1280WritesThe214Groups) {
    TestFrame frame(AV_PIX_FMT_YUV422P10LE, 1280, 1);
    for (int p = 0; p < 3; ++p) {
        frame.fill<uint16_t>(p, p ? 640 : 1280, 1, [](int, int) { return 1023; });
    }
    PackedBuffer packed(1280, 1, 3456, 0xEE);
    ASSERT_EQ(convertFrame(planFor("v210", K::PackV210, AV_PIX_FMT_YUV422P10LE), frame.get(),
                           packed.destination)
                  .status,
              ConvertStatus::Ok);
    EXPECT_EQ(packed.at<uint32_t>(0, 0, 0, 1), 0x3FFFFFFFu);
    EXPECT_EQ(packed.at<uint32_t>(855, 0, 0, 1), 0x3FFFFFFFu);
}

TEST(KernelTableTest, ScalesSixteenBitsToTheHostWhitePoint) {
    const uint16_t cases[][2] = {{65535, 32768}, {32768, 16384}, {1, 1}, {0, 0}, {2, 1}};
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(scaleToWhitePoint(in), out) << in;
    }
}

// Every pixel of a 7x5 frame of a pattern, through convertFrame with rows
// stored top-down and bottom-up, against the values each kind must produce.
struct KernelCase {
    const char* name;
    AVPixelFormat format;
    ConversionKind kind;
    const char fourCC[5];
    int pixelBytes;   // destination bytes per pixel
    int sampleBytes;  // 1, 2 or 4 (float)
    bool bottomUp;
    // Expected destination samples of pixel (x, y) from the pattern.
    std::function<std::vector<double>(int x, int y)> expect;
};

int pattern(int plane, int x, int y) {
    return (x * 37 + y * 11 + plane * 101) & 0xFFFF;
}

TEST_F(ConvertKernelTest, EveryKindConvertsOddSizesBothRowOrders) {
    constexpr int W = 7, H = 5;
    auto p8 = [](int plane, int x, int y) { return pattern(plane, x, y) & 0xFF; };
    // Float YUV is full range: limited 10-bit luma and chroma are expanded.
    auto y10 = [](int v) { return ((v & 1023) - 64) / 876.0; };
    auto c10 = [](int v) { return 0.5 + ((v & 1023) - 512) / 896.0; };
    const KernelCase cases[] = {
        {"vuya 4:2:0", AV_PIX_FMT_YUV420P, K::InterleaveVuya, "VUYA", 4, 1, false,
         [&](int x, int y) {
             return std::vector<double>{double(p8(2, x / 2, y / 2)), double(p8(1, x / 2, y / 2)),
                                        double(p8(0, x, y)), 255};
         }},
        {"vuya alpha", AV_PIX_FMT_YUVA444P, K::InterleaveVuya, "VUYA", 4, 1, false,
         [&](int x, int y) {
             return std::vector<double>{double(p8(2, x, y)), double(p8(1, x, y)),
                                        double(p8(0, x, y)), double(p8(3, x, y))};
         }},
        {"normalize planar", AV_PIX_FMT_YUV420P10LE, K::FloatNormalize, "VUyx", 16, 4, false,
         [&](int x, int y) {
             return std::vector<double>{c10(pattern(2, x / 2, y / 2)),
                                        c10(pattern(1, x / 2, y / 2)), y10(pattern(0, x, y)), 1};
         }},
        {"normalize p010", AV_PIX_FMT_P010LE, K::FloatNormalize, "VUyx", 16, 4, false,
         [&](int x, int y) {
             auto c = [&](int i) { return c10(pattern(1, 2 * (x / 2) + i, y / 2) >> 6); };
             return std::vector<double>{c(1), c(0), y10(pattern(0, x, y) >> 6), 1};
         }},
        {"normalize gray", AV_PIX_FMT_GRAY10LE, K::FloatNormalize, "VUyx", 16, 4, false,
         [&](int x, int y) {
             return std::vector<double>{0.5, 0.5, y10(pattern(0, x, y)), 1};
         }},
        {"normalize rgb24", AV_PIX_FMT_RGB24, K::FloatNormalize, "BGrx", 16, 4, true,
         [&](int x, int y) {
             // RGB24 bytes: the pattern is written per byte, R, G, B.
             return std::vector<double>{p8(0, 3 * x + 2, y) / 255.0, p8(0, 3 * x + 1, y) / 255.0,
                                        p8(0, 3 * x, y) / 255.0, 1};
         }},
        {"shuffle rgb24", AV_PIX_FMT_RGB24, K::Shuffle, "bgra", 4, 1, true,
         [&](int x, int y) {
             return std::vector<double>{double(p8(0, 3 * x + 2, y)), double(p8(0, 3 * x + 1, y)),
                                        double(p8(0, 3 * x, y)), 255};
         }},
        {"matrix 10-bit", AV_PIX_FMT_YUV420P10LE, K::MatrixToRgbFloat, "BGrx", 16, 4, true,
         [&](int x, int y) {
             const double l = ((pattern(0, x, y) & 1023) - 64) / 876.0;
             const double cb = ((pattern(1, x / 2, y / 2) & 1023) - 512) / 896.0;
             const double cr = ((pattern(2, x / 2, y / 2) & 1023) - 512) / 896.0;
             return std::vector<double>{l + 1.8556 * cb, l - 0.1873 * cb - 0.4681 * cr,
                                        l + 1.5748 * cr, 1};
         }},
        {"matrix 8-bit", AV_PIX_FMT_YUV420P, K::MatrixToRgbFloat, "BGrx", 16, 4, true,
         [&](int x, int y) {
             const double l = (p8(0, x, y) - 16) / 219.0;
             const double cb = (p8(1, x / 2, y / 2) - 128) / 224.0;
             const double cr = (p8(2, x / 2, y / 2) - 128) / 224.0;
             return std::vector<double>{l + 1.8556 * cb, l - 0.1873 * cb - 0.4681 * cr,
                                        l + 1.5748 * cr, 1};
         }},
        {"plane copy bgra", AV_PIX_FMT_BGRA, K::PlaneCopy, "bgra", 4, 1, true,
         [&](int x, int y) {
             std::vector<double> bytes;
             for (int i = 0; i < 4; ++i) {
                 bytes.push_back(p8(0, 4 * x + i, y));
             }
             return bytes;
         }},
        {"packed copy", AV_PIX_FMT_YUYV422, K::PackedCopy, "yuy2", 2, 1, false,
         [&](int x, int y) {
             return std::vector<double>{double(p8(0, 2 * x, y)), double(p8(0, 2 * x + 1, y))};
         }},
    };
    for (const KernelCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestFrame frame(c.format, W, H);
        const auto* d = ffmpeg::FfmpegRuntime::instance().fn().av_pix_fmt_desc_get(c.format);
        const bool wide = d->comp[0].depth > 8;
        const bool packedBytes = d->nb_components >= 3 && d->comp[1].plane == 0;
        for (int p = 0; p < 4 && frame.frame->data[p]; ++p) {
            const bool semiPlanar = p == 1 && d->comp[2].plane == 1;
            const int w = semiPlanar         ? 2 * -(-W >> d->log2_chroma_w)
                          : p == 1 || p == 2 ? -(-W >> d->log2_chroma_w)
                                             : W;
            const int h = p == 1 || p == 2 ? -(-H >> d->log2_chroma_h) : H;
            const int perRow = packedBytes ? frame.frame->linesize[0] : w;
            if (wide) {
                frame.fill<uint16_t>(p, w, h, [p](int x, int y) { return pattern(p, x, y); });
            } else {
                frame.fill(p, perRow, h, [p](int x, int y) { return pattern(p, x, y) & 0xFF; });
            }
        }
        const int64_t rowBytes = W * c.pixelBytes;
        for (const int64_t signedRow : {rowBytes, -rowBytes}) {
            PackedBuffer packed(W, H, signedRow);
            const ConvertResult r =
                convertFrame(planFor(c.fourCC, c.kind, c.format), frame.get(), packed.destination);
            ASSERT_EQ(r.status, ConvertStatus::Ok) << r.reason;
            for (int y = 0; y < H; ++y) {
                const int row = c.bottomUp ? H - 1 - y : y;
                for (int x = 0; x < W; ++x) {
                    const std::vector<double> want = c.expect(x, y);
                    for (size_t i = 0; i < want.size(); ++i) {
                        const int n = c.pixelBytes / c.sampleBytes;
                        const double got = c.sampleBytes == 4   ? packed.at<float>(x, row, i, n)
                                           : c.sampleBytes == 2 ? packed.at<uint16_t>(x, row, i, n)
                                                                : packed.at<uint8_t>(x, row, i, n);
                        ASSERT_NEAR(got, want[i], 1e-5) << "pixel " << x << "," << y << " sample "
                                                        << i << " rows " << signedRow;
                    }
                }
            }
        }
    }
}

TEST_F(ConvertKernelTest, MatrixReachesRangeExtremes) {
    const struct {
        AVPixelFormat format;
        AVColorRange range;
        int luma, chroma;
        float want;
    } cases[] = {
        {AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, 235, 128, 1.0f},
        {AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, 16, 128, 0.0f},
        {AV_PIX_FMT_YUV420P, AVCOL_RANGE_JPEG, 255, 128, 1.0f},
        {AV_PIX_FMT_NV12, AVCOL_RANGE_MPEG, 235, 128, 1.0f},
        {AV_PIX_FMT_YUV420P10LE, AVCOL_RANGE_MPEG, 940, 512, 1.0f},
        {AV_PIX_FMT_YUV420P10LE, AVCOL_RANGE_MPEG, 64, 512, 0.0f},
        {AV_PIX_FMT_YUV420P10LE, AVCOL_RANGE_JPEG, 1023, 512, 1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.format) + " luma " + std::to_string(c.luma));
        // Wide enough for the SIMD rows and their scalar tail.
        constexpr int W = 18;
        TestFrame frame(c.format, W, 2, c.range);
        const bool wide = c.format == AV_PIX_FMT_YUV420P10LE;
        for (int p = 0; p < 3 && frame.frame->data[p]; ++p) {
            const int value = p ? c.chroma : c.luma;
            const int w = p && c.format != AV_PIX_FMT_NV12 ? W / 2 : W;
            wide ? frame.fill<uint16_t>(p, w, p ? 1 : 2, [=](int, int) { return value; })
                 : frame.fill(p, w, p ? 1 : 2, [=](int, int) { return value; });
        }
        PackedBuffer packed(W, 2, W * 16);
        TargetPlan plan = planFor("BGrx", K::MatrixToRgbFloat, c.format);
        plan.fullRange = c.range == AVCOL_RANGE_JPEG;
        ASSERT_EQ(convertFrame(plan, frame.get(), packed.destination).status, ConvertStatus::Ok);
        for (int x : {0, 9, W - 1}) {
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(packed.at<float>(x, 1, i, 4), c.want)
                    << "pixel " << x << " component " << i;
            }
        }
        EXPECT_EQ(packed.at<float>(1, 1, 3, 4), 1.0f);
    }
}

TEST_F(ConvertKernelTest, SixteenBitRgbaIsRescaledBottomUp) {
    TestFrame frame(AV_PIX_FMT_RGBA64LE, 1, 2);
    const uint16_t rows[2][4] = {{65535, 32768, 1, 0}, {0, 0, 0, 65535}};
    for (int y = 0; y < 2; ++y) {
        std::memcpy(frame.row(0, y), rows[y], 8);
    }
    PackedBuffer packed(1, 2, 8);
    ASSERT_EQ(convertFrame(planFor("Bgra", K::Scale16u, AV_PIX_FMT_RGBA64LE), frame.get(),
                           packed.destination)
                  .status,
              ConvertStatus::Ok);
    const uint16_t want[4] = {1, 16384, 32768, 0};  // B, G, R, A of the first frame row
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(packed.at<uint16_t>(0, 1, i, 4), want[i]);
    }
}

TEST_F(ConvertKernelTest, NarrowerFrameClearsTheDestinationAndConvertsItsOwnWidth) {
    TestFrame frame(AV_PIX_FMT_YUV420P10LE, 4, 2);
    frame.fill<uint16_t>(0, 4, 2, [](int, int) { return 940; });
    frame.fill<uint16_t>(1, 2, 1, [](int, int) { return 512; });
    frame.fill<uint16_t>(2, 2, 1, [](int, int) { return 512; });
    PackedBuffer packed(6, 3, 6 * 16 + 8, 0xEE);
    ASSERT_EQ(convertFrame(planFor("BGrx", K::MatrixToRgbFloat, AV_PIX_FMT_YUV420P10LE),
                           frame.get(), packed.destination)
                  .status,
              ConvertStatus::Ok);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 6; ++x) {
            const float want = y < 2 && x < 4 ? 1.0f : 0.0f;
            EXPECT_EQ(packed.at<float>(x, y, 0, 4), want) << x << "," << y;
        }
        EXPECT_EQ(packed.row(y)[6 * 16 + 7], 0) << "row padding";
    }
}

// The host's pixel spacing comes from the destination width, not the frame's.
TEST_F(ConvertKernelTest, PlanarFloatRgbCopiesBitsAtTheHostSpacing) {
    TestFrame frame(AV_PIX_FMT_GBRAPF32LE, 2, 1);
    for (int p = 0; p < 4; ++p) {
        for (int x = 0; x < 2; ++x) {
            frame.row<float>(p, 0)[x] = 10.0f * p + x + 0.25f;  // G, B, R, A planes
        }
    }
    PackedBuffer packed(3, 2, 3 * 16, 0xEE);
    ASSERT_EQ(convertFrame(planFor("BGra", K::PlanarRgbFloat, AV_PIX_FMT_GBRAPF32LE), frame.get(),
                           packed.destination)
                  .status,
              ConvertStatus::Ok);
    const float want[3][4] = {{10.25f, 0.25f, 20.25f, 30.25f}, {11.25f, 1.25f, 21.25f, 31.25f}, {}};
    for (int x = 0; x < 3; ++x) {
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(packed.at<float>(x, 0, i, 4), want[x][i]) << x << "," << i;
            EXPECT_EQ(packed.at<float>(x, 1, i, 4), 0.0f);
        }
    }
}

TEST_F(ConvertKernelTest, InterleaveBiplanarKernelPutsChromaAfterTheRows) {
    TestFrame frame(AV_PIX_FMT_YUV420P, 4, 2);
    frame.fill(0, 4, 2, [](int x, int y) { return 10 * y + x; });
    frame.fill(1, 2, 1, [](int x, int) { return 50 + x; });
    frame.fill(2, 2, 1, [](int x, int) { return 60 + x; });
    PackedBuffer packed(4, 3, 4);  // two luma rows, then one chroma row
    packed.destination.height = 2;
    ASSERT_EQ(convertFrame(planFor("VUYA", K::InterleaveBiplanar, AV_PIX_FMT_YUV420P), frame.get(),
                           packed.destination)
                  .status,
              ConvertStatus::Ok);
    const std::vector<uint8_t> want = {0, 1, 2, 3, 10, 11, 12, 13, 50, 60, 51, 61};
    EXPECT_EQ(packed.bytes, want);
}

// A frame tall enough to split gives what the scalar rows give, row by row.
TEST_F(ConvertKernelTest, SplitFrameMatchesTheScalarRows) {
    test::ScopedEnv threads("KESTROVA_CONVERT_THREADS", "4");  // if the pool is not yet made
    constexpr int W = 21, H = 1080;
    TestFrame frame(AV_PIX_FMT_YUV420P10LE, W, H);
    for (int p = 0; p < 3; ++p) {
        frame.fill<uint16_t>(p, p ? 11 : W, p ? H / 2 : H,
                             [p](int x, int y) { return pattern(p, x, y); });
    }
    PackedBuffer packed(W, H, -W * 16);
    ASSERT_EQ(convertFrame(planFor("BGrx", K::MatrixToRgbFloat, AV_PIX_FMT_YUV420P10LE),
                           frame.get(), packed.destination)
                  .status,
              ConvertStatus::Ok);
    const YuvToFloatCoefficients k = matrixCoefficients(AVCOL_SPC_BT709, false, 10);
    std::vector<float> want(4 * W);
    for (int y = 0; y < H; ++y) {
        const YuvRow16 row{frame.row<uint16_t>(0, y),
                           frame.row<uint16_t>(1, y / 2),
                           frame.row<uint16_t>(2, y / 2),
                           nullptr,
                           W,
                           1,
                           1023};
        yuvToRgbFloatRowScalar(row, k, want.data());
        for (int i = 0; i < 4 * W; ++i) {
            ASSERT_NEAR(packed.at<float>(0, H - 1 - y, i, 0), want[i], 1e-6) << "row " << y;
        }
    }
}

TEST(ConversionPoolTest, SplitsTallFramesOnAlignedRanges) {
    const struct {
        int32_t rows, alignment, workers;
        std::vector<int32_t> begins;
    } cases[] = {
        {100, 1, 8, {0}},
        {0, 1, 8, {}},
        {1080, 2, 8, {0, 120, 240, 360, 480, 600, 720, 840, 960}},
        {1080, 2, 0, {0}},
        {1081, 2, 1, {0, 542}},
        {128, 4, 255, {0, 64}},
        {2160,
         1,
         255,
         {0, 135, 270, 405, 540, 675, 810, 945, 1080, 1215, 1350, 1485, 1620, 1755, 1890, 2025}},
    };
    for (const auto& c : cases) {
        const RowRanges ranges = splitRows(c.rows, c.alignment, c.workers);
        ASSERT_EQ(ranges.count, static_cast<int32_t>(c.begins.size())) << c.rows;
        for (int32_t i = 0; i < ranges.count; ++i) {
            EXPECT_EQ(ranges.ranges[i].begin, c.begins[i]);
            EXPECT_EQ(ranges.ranges[i].end, i + 1 < ranges.count ? c.begins[i + 1] : c.rows);
        }
    }
}

TEST(ConversionPoolTest, ReadsTheWorkerCount) {
    const struct {
        const char* value;
        uint32_t hardware;
        int32_t workers;
    } cases[] = {{nullptr, 16, 8},  {"", 32, 8},      {"1", 16, 0}, {"0", 16, 0},
                 {"-3", 16, 8},     {nullptr, 2, 0},  {"5", 2, 4},  {"300", 0, 255},
                 {"300", 200, 255}, {"12abc", 16, 12}};
    for (const auto& c : cases) {
        const auto value = c.value ? std::optional<std::string>(c.value) : std::nullopt;
        EXPECT_EQ(workerCountFrom(value, c.hardware), c.workers)
            << (c.value ? c.value : "unset") << " on " << c.hardware;
    }
}

// Several callers share one pool; every row of every call runs exactly once.
TEST(ConversionPoolTest, RunsEveryRangeOnceUnderConcurrentCallers) {
    ConversionPool& pool = ConversionPool::create(3);
    ASSERT_EQ(pool.workers(), 3);
    constexpr int kRows = 1080;
    std::vector<std::thread> callers;
    std::vector<std::vector<std::atomic<int>>> visits(4);
    for (auto& v : visits) {
        v = std::vector<std::atomic<int>>(kRows);
    }
    for (auto& v : visits) {
        callers.emplace_back([&pool, &v] {
            for (int repeat = 0; repeat < 50; ++repeat) {
                pool.run(
                    [](void* context, int32_t begin, int32_t end) {
                        auto& rows = *static_cast<std::vector<std::atomic<int>>*>(context);
                        for (int32_t y = begin; y < end; ++y) {
                            ++rows[y];
                        }
                    },
                    &v, splitRows(kRows, 2, pool.workers()));
            }
        });
    }
    for (auto& t : callers) {
        t.join();
    }
    for (const auto& v : visits) {
        for (const auto& count : v) {
            ASSERT_EQ(count.load(), 50);
        }
    }
}

}  // namespace
}  // namespace kestrova

namespace kestrova::test {
namespace {

// The float RGB safety net delivers layouts the fast matrix rows do not
// read: white stays white, with the right channel order, bottom-up.
TEST(GenericMatrixTest, SafetyNetReadsEveryLayout) {
    ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available());
    struct Case {
        AVPixelFormat format;
        AVColorRange range;
        std::function<void(TestFrame&)> paint;  // white left pixel, black right pixel
    };
    const Case cases[] = {
        {AV_PIX_FMT_GRAY8, AVCOL_RANGE_JPEG,
         [](TestFrame& f) { f.fill(0, 2, 2, [](int x, int) { return x == 0 ? 255 : 0; }); }},
        {AV_PIX_FMT_YUYV422, AVCOL_RANGE_MPEG,
         [](TestFrame& f) {
             f.fill(0, 4, 2, [](int x, int) { return x == 0 ? 235 : x == 2 ? 16 : 128; });
         }},
        {AV_PIX_FMT_P010LE, AVCOL_RANGE_MPEG,
         [](TestFrame& f) {
             f.fill<uint16_t>(0, 2, 2, [](int x, int) { return (x == 0 ? 940 : 64) << 6; });
             f.fill<uint16_t>(1, 2, 1, [](int, int) { return 512 << 6; });
         }},
        {AV_PIX_FMT_GBRP10LE, AVCOL_RANGE_JPEG,
         [](TestFrame& f) {
             for (int p = 0; p < 3; ++p) {
                 f.fill<uint16_t>(p, 2, 2, [](int x, int) { return x == 0 ? 1023 : 0; });
             }
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ffmpeg::FfmpegRuntime::instance().fn().av_get_pix_fmt_name(c.format));
        TestFrame frame(c.format, 2, 2, c.range);
        c.paint(frame);
        PackedBuffer packed(2, 2, 2 * 16);
        TargetPlan plan = planFor("BGrx", ConversionKind::MatrixToRgbFloat, c.format);
        plan.fullRange = c.range == AVCOL_RANGE_JPEG;
        ASSERT_EQ(convertFrame(plan, frame.get(), packed.destination).status, ConvertStatus::Ok);
        for (int y = 0; y < 2; ++y) {
            for (int channel = 0; channel < 4; ++channel) {
                EXPECT_NEAR(packed.at<float>(0, y, channel, 4), 1.0f, 1e-5) << channel;
                EXPECT_NEAR(packed.at<float>(1, y, channel, 4), channel == 3 ? 1.0f : 0.0f, 1e-5)
                    << channel;
            }
        }
    }
}

}  // namespace
}  // namespace kestrova::test
