// Colour through the conversions: absolute results of every matrix and
// range, the clip's described colour over the frame's own tags, libswscale's
// conversions, and 10-bit packed RGB.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "convert_fixtures.h"
#include "pixels/conversion_pool.h"

namespace kestrova {
namespace {

using test::PackedBuffer;
using test::planFor;
using test::TestFrame;
using K = ConversionKind;

class ColourConversionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
};

struct Rgb {
    double r, g, b;
};

// The coefficients written out once more, independently of the kernels.
Rgb expectedRgb(int matrix, bool fullRange, int depth, int y, int cb, int cr) {
    double a = 1.5748, b = -0.1873, c = -0.4681, d = 1.8556;  // BT.709
    if (matrix == 5 || matrix == 6) {
        a = 1.402, b = -0.344136, c = -0.714136, d = 1.772;
    } else if (matrix == 9) {
        a = 1.4746, b = -0.1646, c = -0.5714, d = 1.8814;
    }
    const double s = 1 << (depth - 8), m = (1 << depth) - 1, half = 1 << (depth - 1);
    const double l = fullRange ? y / m : (y - 16 * s) / (219 * s);
    const double u = fullRange ? (cb - half) / m : (cb - half) / (224 * s);
    const double v = fullRange ? (cr - half) / m : (cr - half) / (224 * s);
    return {l + a * v, l + b * u + c * v, l + d * u};
}

// Fills every sample of a YUV frame with one colour, whatever its layout.
void paint(TestFrame& frame, int y, int cb, int cr) {
    const AVFrame& f = *frame.get();
    const auto* d = ffmpeg::FfmpegRuntime::instance().fn().av_pix_fmt_desc_get(
        static_cast<AVPixelFormat>(f.format));
    const int cw = -(-f.width >> d->log2_chroma_w), ch = -(-f.height >> d->log2_chroma_h);
    const bool wide = d->comp[0].depth > 8;
    const int shift = d->comp[0].shift;
    const auto put = [&](int plane, int width, int rows, const std::function<int(int, int)>& v) {
        wide ? frame.fill<uint16_t>(plane, width, rows,
                                    [&](int x, int r) { return v(x, r) << shift; })
             : frame.fill(plane, width, rows, v);
    };
    if (f.format == AV_PIX_FMT_YUYV422) {
        put(0, 2 * f.width, f.height, [&](int x, int) {
            return x % 4 == 1 ? cb : x % 4 == 3 ? cr : y;
        });
        return;
    }
    put(0, f.width, f.height, [&](int, int) { return y; });
    if (d->comp[1].plane == d->comp[2].plane) {
        put(1, 2 * cw, ch, [&](int x, int) { return x % 2 ? cr : cb; });
    } else {
        put(1, cw, ch, [&](int, int) { return cb; });
        put(2, cw, ch, [&](int, int) { return cr; });
    }
}

// MatrixToRgbFloat on its fast 8-bit, 10-bit and NV12 rows and on the
// generic reader gives the absolute BT.601, BT.709 and BT.2020 results in
// both ranges, from the plan's described colour. The frames carry the
// opposite tags: the old kernels took matrix and range from them.
TEST_F(ColourConversionTest, MatrixUsesTheDescribedColourOnEveryRow) {
    const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_NV12,
                                     AV_PIX_FMT_YUYV422, AV_PIX_FMT_P010LE};
    for (const AVPixelFormat format : formats) {
        for (const int matrix : {6, 1, 9}) {
            for (const bool full : {false, true}) {
                const int depth =
                    format == AV_PIX_FMT_YUV420P10LE || format == AV_PIX_FMT_P010LE ? 10 : 8;
                const int scale = 1 << (depth - 8);
                const int y = 120 * scale, cb = 70 * scale, cr = 190 * scale;
                SCOPED_TRACE(std::to_string(format) + " matrix " + std::to_string(matrix) +
                             (full ? " full" : " limited"));
                TestFrame frame(format, 18, 2, full ? AVCOL_RANGE_MPEG : AVCOL_RANGE_JPEG,
                                matrix == 1 ? AVCOL_SPC_BT470BG : AVCOL_SPC_BT709);
                paint(frame, y, cb, cr);
                TargetPlan plan = planFor("BGrx", K::MatrixToRgbFloat, format);
                plan.matrix = matrix;
                plan.fullRange = full;
                PackedBuffer packed(18, 2, 18 * 16);
                ASSERT_EQ(convertFrame(plan, frame.get(), packed.destination).status,
                          ConvertStatus::Ok);
                const Rgb want = expectedRgb(matrix, full, depth, y, cb, cr);
                for (int x : {0, 17}) {
                    EXPECT_NEAR(packed.at<float>(x, 0, 0, 4), want.b, 1e-5);
                    EXPECT_NEAR(packed.at<float>(x, 0, 1, 4), want.g, 1e-5);
                    EXPECT_NEAR(packed.at<float>(x, 0, 2, 4), want.r, 1e-5);
                }
            }
        }
    }
}

// libswscale's conversions of the Swscale plans, with the described colour
// applied, against the same formulas; within one 8-bit level.
TEST_F(ColourConversionTest, SwscalePlansConvertWithTheDescribedColour) {
    constexpr int W = 9, H = 4;  // odd width: the last chroma column counts
    const int y = 1800, cb = 1700, cr = 2500, alpha = 2047;  // 12-bit, inside the RGB gamut
    TestFrame frame(AV_PIX_FMT_YUVA444P12LE, W, H, AVCOL_RANGE_JPEG, AVCOL_SPC_BT470BG);
    paint(frame, y, cb, cr);
    frame.fill<uint16_t>(3, W, H, [&](int, int) { return alpha; });
    const Rgb rgb = expectedRgb(1, false, 12, y, cb, cr);
    const double luma = (y - 256) / 3504.0, u = (cb - 2048) / 3584.0, v = (cr - 2048) / 3584.0;
    constexpr double kLevel = 1.0 / 255;

    for (const int64_t rowBytes : {int64_t{W * 16}, int64_t{-W * 16}}) {
        TargetPlan toRgb = planFor("BGra", K::Swscale, AV_PIX_FMT_YUVA444P12LE);
        toRgb.matrix = 1;
        PackedBuffer packed(W, H, rowBytes);
        const ConvertResult r = convertFrame(toRgb, frame.get(), packed.destination);
        ASSERT_EQ(r.status, ConvertStatus::Ok) << r.reason;
        EXPECT_FALSE(r.greyFallback);
        for (int x : {0, W - 1}) {
            const int bottom = H - 1;  // bottom-up: the first frame row is the last host row
            EXPECT_NEAR(packed.at<float>(x, bottom, 0, 4), rgb.b, kLevel) << x;
            EXPECT_NEAR(packed.at<float>(x, bottom, 1, 4), rgb.g, kLevel) << x;
            EXPECT_NEAR(packed.at<float>(x, bottom, 2, 4), rgb.r, kLevel) << x;
            EXPECT_NEAR(packed.at<float>(x, bottom, 3, 4), alpha / 4095.0, kLevel) << x;
        }

        TargetPlan toYuv = planFor("vUYa", K::Swscale, AV_PIX_FMT_YUVA444P12LE);
        toYuv.matrix = 1;
        PackedBuffer floats(W, H, rowBytes);
        ASSERT_EQ(convertFrame(toYuv, frame.get(), floats.destination).status, ConvertStatus::Ok);
        // Float YUV is full range: luma 0..1, chroma centred on 0.5.
        const double want[4] = {0.5 + v, 0.5 + u, luma, alpha / 4095.0};
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(floats.at<float>(W - 1, 0, i, 4), want[i], kLevel) << i;
        }
    }

    TargetPlan to8 = planFor("VUYA", K::Swscale, AV_PIX_FMT_YUVA444P12LE);
    PackedBuffer bytes(W, H, W * 4);
    ASSERT_EQ(convertFrame(to8, frame.get(), bytes.destination).status, ConvertStatus::Ok);
    const int want8[4] = {cr >> 4, cb >> 4, y >> 4, alpha >> 4};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(bytes.at<uint8_t>(W - 1, H - 1, i, 4), want8[i], 1) << i;
    }
}

// A format whose name promises another matrix than the clip's (float VUYX
// and v210 know only 601 and 709, the p0 P010 family only BT.709) gets the
// picture re-encoded under its own matrix; it was copied, and the host read
// a BT.2020 or 601 picture as BT.709.
TEST_F(ColourConversionTest, FormatsPromisingAnotherMatrixAreReencoded) {
    constexpr int W = 8, H = 4;
    const int y = 500, cb = 400, cr = 700;  // 10-bit limited, inside the RGB gamut
    TestFrame frame(AV_PIX_FMT_YUV420P10LE, W, H);
    paint(frame, y, cb, cr);
    const Rgb rgb = expectedRgb(9, false, 10, y, cb, cr);
    // BT.709 encoding of the same RGB, full-range float.
    const double luma = 0.2126 * rgb.r + 0.7152 * rgb.g + 0.0722 * rgb.b;
    const double u = (rgb.b - luma) / 1.8556, v = (rgb.r - luma) / 1.5748;
    for (const ConversionKind kind : {K::FloatNormalize, K::Swscale}) {
        TargetPlan plan = planFor("VUx7", kind, AV_PIX_FMT_YUV420P10LE);
        plan.matrix = 9;
        PackedBuffer packed(W, H, W * 16);
        const ConvertResult r = convertFrame(plan, frame.get(), packed.destination);
        ASSERT_EQ(r.status, ConvertStatus::Ok) << r.reason;
        const double want[3] = {0.5 + v, 0.5 + u, luma};
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(packed.at<float>(W - 1, H - 1, i, 4), want[i], 1.0 / 255)
                << enumName(kind) << " " << i;
        }
    }
}

// A 12-bit 4:2:0 frame reaches the host's P010 planes through libswscale.
TEST_F(ColourConversionTest, SwscaleWritesP010Planes) {
    constexpr int W = 7, H = 5;
    TestFrame frame(AV_PIX_FMT_YUV420P12LE, W, H);
    paint(frame, 2000, 1000, 3000);
    std::vector<uint16_t> luma(W * H, 0xEEEE), chroma(8 * 3, 0xEEEE);
    DestinationBuffers destination;
    destination.width = W;
    destination.height = H;
    destination.planes[0] = {reinterpret_cast<uint8_t*>(luma.data()), W * 2};
    destination.planes[1] = {reinterpret_cast<uint8_t*>(chroma.data()), 16};
    const ConvertResult r =
        convertFrame(planFor("p010", K::Swscale, AV_PIX_FMT_YUV420P12LE), frame.get(), destination);
    ASSERT_EQ(r.status, ConvertStatus::Ok) << r.reason;
    EXPECT_EQ(r.route.route, DeliveryRoute::Kernel);
    for (const uint16_t word : luma) {
        EXPECT_NEAR(word >> 6, 500, 1);
    }
    for (std::size_t i = 0; i < chroma.size(); ++i) {
        EXPECT_NEAR(chroma[i] >> 6, i % 2 ? 750 : 250, 1) << i;
    }
}

// A plain copy is only taken when the frame stores its components in the
// host's order; an RGBA or UYVY frame meeting a bgra or yuy2 plan (after a
// decoder fallback) is converted, not copied with swapped components.
TEST_F(ColourConversionTest, CopiesOnlyMatchingComponentOrders) {
    TestFrame rgba(AV_PIX_FMT_RGBA, 3, 2);
    rgba.fill(0, 12, 2, [](int x, int) { return (x % 4 + 1) * 50; });  // R 50, G 100, B 150, A 200
    PackedBuffer bgra(3, 2, 12);
    ASSERT_EQ(
        convertFrame(planFor("bgra", K::PlaneCopy, AV_PIX_FMT_BGRA), rgba.get(), bgra.destination)
            .status,
        ConvertStatus::Ok);
    const uint8_t wantBgra[4] = {150, 100, 50, 200};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bgra.at<uint8_t>(2, 1, i, 4), wantBgra[i]) << i;
    }

    TestFrame uyvy(AV_PIX_FMT_UYVY422, 4, 2);
    uyvy.fill(0, 8, 2, [](int x, int) { return x % 4 == 0 ? 90 : x % 4 == 2 ? 170 : 60 + x; });
    PackedBuffer yuy2(4, 2, 8);
    ASSERT_EQ(convertFrame(planFor("yuy2", K::PackedCopy, AV_PIX_FMT_YUYV422), uyvy.get(),
                           yuy2.destination)
                  .status,
              ConvertStatus::Ok);
    const uint8_t wantYuyv[8] = {61, 90, 63, 170, 65, 90, 67, 170};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(yuy2.at<uint8_t>(0, 1, i, 8), wantYuyv[i]) << i;
    }
}

// 10-bit packed RGB: blue in bits 0-9, green 10-19, red 20-29, bottom-up,
// from planar and packed 10-bit RGB and rescaled from 16 bits.
TEST_F(ColourConversionTest, Pack10RgbPacksTenBitWords) {
    const uint32_t want = 1023u | 512u << 10 | 3u << 20;  // B 1023, G 512, R 3
    TestFrame planar(AV_PIX_FMT_GBRP10LE, 2, 2);
    planar.fill<uint16_t>(0, 2, 2, [](int, int) { return 512; });   // G
    planar.fill<uint16_t>(1, 2, 2, [](int, int) { return 1023; });  // B
    planar.fill<uint16_t>(2, 2, 2, [](int, int) { return 3; });     // R
    TestFrame packed10(AV_PIX_FMT_X2RGB10LE, 2, 2);
    packed10.fill<uint32_t>(0, 2, 2, [&](int, int) { return static_cast<int>(want | 3u << 30); });
    TestFrame wide(AV_PIX_FMT_RGB48LE, 2, 2);
    wide.fill<uint16_t>(0, 6, 2, [](int x, int) {
        return x % 3 == 0 ? 192 : x % 3 == 1 ? 32800 : 65535;
    });
    for (const TestFrame* frame : {&planar, &packed10, &wide}) {
        SCOPED_TRACE(frame->get()->format);
        PackedBuffer out(2, 2, -8);
        const ConvertResult r = convertFrame(planFor("RGB1", K::Pack10Rgb, frame->get()->format),
                                             frame->get(), out.destination);
        ASSERT_EQ(r.status, ConvertStatus::Ok) << r.reason;
        EXPECT_FALSE(r.greyFallback);
        for (int y = 0; y < 2; ++y) {
            EXPECT_EQ(out.at<uint32_t>(1, y, 0, 1), want);
        }
    }
}

// Grey stays only as the reported fallback of a conversion that fails.
TEST_F(ColourConversionTest, FailedConversionsFallBackToReportedGrey) {
    TestFrame yuv(AV_PIX_FMT_YUV420P10LE, 3, 2);
    const struct {
        const char format[5];
        ConversionKind kind;
    } cases[] = {{"RGB1", K::Pack10Rgb}, {"RGB1", K::Swscale}};
    for (const auto& c : cases) {
        PackedBuffer packed(3, 2, -16);
        const ConvertResult r = convertFrame(planFor(c.format, c.kind, AV_PIX_FMT_YUV420P10LE),
                                             yuv.get(), packed.destination);
        ASSERT_EQ(r.status, ConvertStatus::Ok);
        EXPECT_TRUE(r.greyFallback);
        EXPECT_EQ(packed.bytes, std::vector<uint8_t>(32, 128)) << enumName(c.kind);
    }
}

// v210 rows are padded to 128 bytes; the padding after the last group is
// written as zeros, not left as the host gave it.
TEST_F(ColourConversionTest, V210RowPaddingIsZero) {
    TestFrame frame(AV_PIX_FMT_YUV422P10LE, 7, 2);
    paint(frame, 500, 500, 500);
    PackedBuffer packed(7, 2, 128, 0xEE);
    ASSERT_EQ(convertFrame(planFor("v210", K::PackV210, AV_PIX_FMT_YUV422P10LE), frame.get(),
                           packed.destination)
                  .status,
              ConvertStatus::Ok);
    for (int y = 0; y < 2; ++y) {
        for (int i = 32; i < 128; ++i) {
            ASSERT_EQ(packed.row(y)[i], 0) << "row " << y << " byte " << i;
        }
    }
}

// A range that throws, on the calling thread or a worker, is handed back to
// the caller once every range has finished with the caller's data; the
// process goes on.
TEST(ConversionPoolFailureTest, ThrowingRangesReachTheCallerAfterAllFinish) {
    ConversionPool& pool = ConversionPool::create(3);
    struct Context {
        std::atomic<int> finished{0};
        int32_t throwAt;
    };
    const RowRanges ranges = splitRows(1080, 1, pool.workers());
    ASSERT_GT(ranges.count, 2);
    for (const int32_t throwAt : {ranges.ranges[0].begin, ranges.ranges[2].begin}) {
        Context context{0, throwAt};
        EXPECT_THROW(pool.run(
                         [](void* c, int32_t begin, int32_t) {
                             auto& context = *static_cast<Context*>(c);
                             if (begin == context.throwAt) {
                                 throw std::bad_alloc();
                             }
                             ++context.finished;
                         },
                         &context, ranges),
                     std::bad_alloc);
        EXPECT_EQ(context.finished.load(), ranges.count - 1);
    }
}

}  // namespace
}  // namespace kestrova
