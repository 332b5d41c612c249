#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "convert_fixtures.h"
#include "pixels/row_copy.h"

namespace kestrova {
namespace {

using test::planFor;
using test::TestFrame;
using K = ConversionKind;
using R = DeliveryRoute;

class ConvertRouteTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
};

TEST_F(ConvertRouteTest, ResolvesByDestinationFamilyThenKind) {
    const struct {
        const char format[5];
        ConversionKind kind;
        int32_t actual;
        DeliveryRoute route;
        const char* reason;
    } cases[] = {
        {"Yv17", K::PlaneCopy, AV_PIX_FMT_YUV420P, R::PlanarToPlanar, ""},
        {"yv12", K::PlaneCopy, AV_PIX_FMT_NV12, R::BiplanarToPlanar8, ""},
        {"yv12", K::PlaneCopy, AV_PIX_FMT_NV21, R::Unsupported,
         "semi-planar source has V before U; no de-interleave kernel"},
        {"yv12", K::PlaneCopy, AV_PIX_FMT_YUV422P, R::Unsupported,
         "planar 4:2:0 8u destination needs an 8-bit 4:2:0 YUV source"},
        {"nv12", K::PlaneCopy, AV_PIX_FMT_NV12, R::BiplanarToBiplanar, ""},
        {"Nv12", K::PlaneCopy, AV_PIX_FMT_NV12, R::Unsupported,
         "source and destination disagree on chroma order"},
        {"Nv12", K::PlaneCopy, AV_PIX_FMT_NV21, R::BiplanarToBiplanar, ""},
        {"nv12", K::InterleaveBiplanar, AV_PIX_FMT_YUV420P, R::PlanarToBiplanar8, ""},
        {"Nv12", K::InterleaveBiplanar, AV_PIX_FMT_YUV420P, R::Unsupported,
         "no planar-to-NV21 interleave kernel"},
        {"P010", K::InterleaveBiplanar, AV_PIX_FMT_YUV420P10LE, R::Planar10ToBiplanar10, ""},
        {"p010", K::PlaneCopy, AV_PIX_FMT_P010LE, R::BiplanarToBiplanar, ""},
        {"p010", K::PlaneCopy, AV_PIX_FMT_NV12, R::Unsupported,
         "semi-planar source is not 10 bits in the high bits (P010)"},
        {"p010", K::PlaneCopy, AV_PIX_FMT_YUV420P12LE, R::Unsupported,
         "planar source is not 10 bits in the low bits (yuv420p10le)"},
        {"p010", K::PlaneCopy, AV_PIX_FMT_RGB24, R::Unsupported,
         "biplanar 4:2:0 10u destination needs a 4:2:0 YUV source"},
        {"badf", K::PlaneCopy, AV_PIX_FMT_YUV420P, R::Unsupported,
         "plan has no destination format"},
        {"BGra", K::MatrixToRgbFloat, AV_PIX_FMT_PAL8, R::Unsupported,
         "source pixel format has no usable plane layout"},
        {"BGra", K::MatrixToRgbFloat, AV_PIX_FMT_YUV420P10LE, R::Kernel, ""},
        {"BGra", K::MatrixToRgbFloat, AV_PIX_FMT_NV12, R::Kernel, ""},
        {"BGra", K::MatrixToRgbFloat, AV_PIX_FMT_P010LE, R::Kernel, ""},
        {"BGrx", K::MatrixToRgbFloat, AV_PIX_FMT_GBRP10LE, R::Kernel, ""},
        {"v210", K::PackV210, AV_PIX_FMT_YUV420P10LE, R::Unsupported,
         "PackV210 needs three planes of 4:2:2 above 8 bits"},
        {"bgra", K::PlaneCopy, AV_PIX_FMT_YUV420P, R::Unsupported,
         "PlaneCopy needs a single packed plane"},
        {"vuya", K::InterleaveVuya, AV_PIX_FMT_YUV410P, R::Unsupported,
         "InterleaveVuya needs 8-bit planar YUV at 4:4:4, 4:2:2 or 4:2:0"},
        {"Bgra", K::Scale16u, AV_PIX_FMT_RGB24, R::Unsupported,
         "Scale16u needs one packed 16-bit plane"},
        {"BGra", K::PlanarRgbFloat, AV_PIX_FMT_GBRP, R::Unsupported,
         "PlanarRgbFloat needs planar float RGB (GBRP[A]F32)"},
        {"RGB1", K::Pack10Rgb, AV_PIX_FMT_GBRP10LE, R::Kernel, ""},
        {"BGra", static_cast<K>(12), AV_PIX_FMT_YUV420P, R::Unsupported, "unknown conversion kind"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " from format " + std::to_string(c.actual));
        const RouteResult r = resolveRoute(planFor(c.format, c.kind, c.actual), c.actual);
        EXPECT_EQ(enumName(r.route), std::string(enumName(c.route)));
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_EQ(r.actualFormat, c.actual);
    }
}

TEST_F(ConvertRouteTest, FlagsALayoutOtherThanThePlansSource) {
    const TargetPlan plan = planFor("Yv17", K::PlaneCopy, AV_PIX_FMT_YUV420P);
    EXPECT_FALSE(resolveRoute(plan, AV_PIX_FMT_YUVJ420P).layoutDiffers);
    EXPECT_TRUE(resolveRoute(plan, AV_PIX_FMT_NV12).layoutDiffers);
    EXPECT_FALSE(resolveRoute(planFor("Yv17", K::PlaneCopy, -1), AV_PIX_FMT_NV12).layoutDiffers);
}

TEST_F(ConvertRouteTest, RefusesBadInputWithItsReason) {
    TestFrame frame(AV_PIX_FMT_YUV420P, 4, 4);
    test::PackedBuffer packed(4, 4, 16);
    const TargetPlan planar = planFor("Yv17", K::PlaneCopy, AV_PIX_FMT_YUV420P);
    const TargetPlan kernel = planFor("BGra", K::MatrixToRgbFloat, AV_PIX_FMT_YUV420P);
    DestinationBuffers empty = packed.destination;
    empty.packed = {};
    DestinationBuffers zeroSized = packed.destination;
    zeroSized.height = 0;

    const struct {
        const TargetPlan* plan;
        const AVFrame* frame;
        const DestinationBuffers* destination;
        ConvertStatus status;
        const char* reason;
    } cases[] = {
        {&kernel, nullptr, &packed.destination, ConvertStatus::BadFrame, "no frame to deliver"},
        {&kernel, frame.get(), &zeroSized, ConvertStatus::BadDestination,
         "destination has non-positive dimensions"},
        {&planar, frame.get(), &packed.destination, ConvertStatus::BadDestination,
         "destination buffers for the resolved route were not supplied"},
        {&kernel, frame.get(), &empty, ConvertStatus::BadDestination,
         "destination buffers for the resolved route were not supplied"},
    };
    for (const auto& c : cases) {
        const ConvertResult result = convertFrame(*c.plan, c.frame, *c.destination);
        EXPECT_EQ(result.status, c.status) << c.reason;
        EXPECT_EQ(result.reason, c.reason);
    }

    const TargetPlan nv21 = planFor("yv12", K::PlaneCopy, AV_PIX_FMT_NV21);
    TestFrame nv21Frame(AV_PIX_FMT_NV21, 4, 4);
    const ConvertResult refused = convertFrame(nv21, nv21Frame.get(), packed.destination);
    EXPECT_EQ(refused.status, ConvertStatus::BadDestination);
    EXPECT_EQ(refused.reason, "semi-planar source has V before U; no de-interleave kernel");

    frame.frame->data[2] = nullptr;
    const ConvertResult missing = convertFrame(kernel, frame.get(), packed.destination);
    EXPECT_EQ(missing.status, ConvertStatus::BadFrame);
    EXPECT_EQ(missing.reason, "frame is missing a plane its own pixel format requires");
}

// Host planes of `width` x `height` with `pad` spare bytes per row, filled with 0xEE.
struct HostPlanes {
    std::vector<uint8_t> bytes[3];
    DestinationBuffers destination;
    HostPlanes(int width, int height, const int64_t (&rowBytes)[3]) {
        destination.width = width;
        destination.height = height;
        for (int p = 0; p < 3; ++p) {
            bytes[p].assign(static_cast<size_t>(rowBytes[p] * height), 0xEE);
            destination.planes[p] = {bytes[p].data(), rowBytes[p]};
        }
    }
    uint8_t at(int plane, int x, int y) const {
        return bytes[plane][y * destination.planes[plane].rowBytes + x];
    }
    uint16_t word(int plane, int x, int y) const {
        uint16_t v;
        std::memcpy(&v, &bytes[plane][y * destination.planes[plane].rowBytes + 2 * x], 2);
        return v;
    }
};

TEST_F(ConvertRouteTest, CopyRoutesMoveSamplesAndClearPastTheFrameEdge) {
    // The destination is larger than the 6x4 frame: the rest is cleared, as
    // on the kernel route, rather than left as the host gave it.
    TestFrame yuv(AV_PIX_FMT_YUV420P, 6, 4);
    for (int p = 0; p < 3; ++p) {
        yuv.fill(p, p ? 3 : 6, p ? 2 : 4, [p](int x, int y) { return 40 * p + 10 * y + x; });
    }
    HostPlanes planar(8, 6, {8, 4, 4});
    ASSERT_EQ(convertFrame(planFor("Yv17", K::PlaneCopy, AV_PIX_FMT_YUV420P), yuv.get(),
                           planar.destination)
                  .status,
              ConvertStatus::Ok);
    EXPECT_EQ(planar.at(0, 5, 3), 35);
    EXPECT_EQ(planar.at(0, 6, 3), 0);
    EXPECT_EQ(planar.at(0, 0, 4), 0);
    EXPECT_EQ(planar.at(2, 2, 1), 92);
    EXPECT_EQ(planar.at(2, 3, 1), 0);
    EXPECT_EQ(planar.at(1, 0, 2), 0);

    HostPlanes nv12(6, 4, {6, 6, 6});
    ASSERT_EQ(convertFrame(planFor("nv12", K::InterleaveBiplanar, AV_PIX_FMT_YUV420P), yuv.get(),
                           nv12.destination)
                  .status,
              ConvertStatus::Ok);
    EXPECT_EQ(nv12.at(1, 4, 1), 52);  // U[2]
    EXPECT_EQ(nv12.at(1, 5, 1), 92);  // V[2]

    // And back: the first byte of each pair is U.
    TestFrame semi(AV_PIX_FMT_NV12, 6, 4);
    semi.fill(1, 6, 2, [](int x, int y) { return 100 + 10 * y + x; });
    HostPlanes split(6, 4, {6, 3, 3});
    ASSERT_EQ(
        convertFrame(planFor("yv12", K::PlaneCopy, AV_PIX_FMT_NV12), semi.get(), split.destination)
            .status,
        ConvertStatus::Ok);
    EXPECT_EQ(split.at(1, 2, 1), 114);
    EXPECT_EQ(split.at(2, 2, 1), 115);
}

TEST_F(ConvertRouteTest, TenBitRoutesPlaceSamplesInTheHighBits) {
    TestFrame low(AV_PIX_FMT_YUV420P10LE, 4, 2);
    low.fill<uint16_t>(0, 4, 2, [](int, int) { return 1023; });
    low.fill<uint16_t>(1, 2, 1, [](int x, int) { return 64 + x; });
    low.fill<uint16_t>(2, 2, 1, [](int x, int) { return 512 + x; });
    HostPlanes p010(4, 2, {8, 8, 8});
    ASSERT_EQ(convertFrame(planFor("P010", K::InterleaveBiplanar, AV_PIX_FMT_YUV420P10LE),
                           low.get(), p010.destination)
                  .route.route,
              R::Planar10ToBiplanar10);
    EXPECT_EQ(p010.word(0, 3, 1), 65472);
    EXPECT_EQ(p010.word(1, 2, 0), 65 << 6);
    EXPECT_EQ(p010.word(1, 3, 0), 513 << 6);

    TestFrame high(AV_PIX_FMT_P010LE, 4, 2);
    high.fill<uint16_t>(0, 4, 2, [](int x, int y) { return (x + 4 * y) << 6; });
    high.fill<uint16_t>(1, 4, 1, [](int x, int) { return (100 + x) << 6; });
    HostPlanes copy(4, 2, {8, 8, 8});
    ASSERT_EQ(
        convertFrame(planFor("p010", K::PlaneCopy, AV_PIX_FMT_P010LE), high.get(), copy.destination)
            .route.route,
        R::BiplanarToBiplanar);
    EXPECT_EQ(std::memcmp(copy.bytes[0].data(), high.row(0, 0), 8), 0);
    EXPECT_EQ(std::memcmp(copy.bytes[0].data() + 8, high.row(0, 1), 8), 0);
    EXPECT_EQ(std::memcmp(copy.bytes[1].data(), high.row(1, 0), 8), 0);
}

// A 7x5 picture has 4x3 chroma samples: every route writes the last chroma
// column and row, which halving the size used to leave stale.
TEST_F(ConvertRouteTest, OddSizesKeepTheLastChromaColumnAndRow) {
    constexpr int W = 7, H = 5, CW = 4, CH = 3;
    const auto value = [](int plane, int x, int y) { return 30 + 60 * plane + 10 * y + x; };
    TestFrame planar(AV_PIX_FMT_YUV420P, W, H);
    TestFrame planar10(AV_PIX_FMT_YUV420P10LE, W, H);
    for (int p = 0; p < 3; ++p) {
        const int w = p ? CW : W, h = p ? CH : H;
        planar.fill(p, w, h, [&](int x, int y) { return value(p, x, y); });
        planar10.fill<uint16_t>(p, w, h, [&](int x, int y) { return 4 * value(p, x, y); });
    }
    TestFrame semi(AV_PIX_FMT_NV12, W, H);
    TestFrame semi10(AV_PIX_FMT_P010LE, W, H);
    semi.fill(0, W, H, [&](int x, int y) { return value(0, x, y); });
    semi.fill(1, 2 * CW, CH, [&](int x, int y) { return value(1 + x % 2, x / 2, y); });
    semi10.fill<uint16_t>(0, W, H, [&](int x, int y) { return value(0, x, y) << 8; });
    semi10.fill<uint16_t>(1, 2 * CW, CH,
                          [&](int x, int y) { return value(1 + x % 2, x / 2, y) << 8; });
    // Expected host samples: 8-bit, or the 10-bit word of the 8-bit value.
    const struct {
        const char format[5];
        ConversionKind kind;
        const TestFrame* frame;
        DeliveryRoute route;
        bool threePlanes;
        bool words;
    } cases[] = {
        {"Yv17", K::PlaneCopy, &planar, R::PlanarToPlanar, true, false},
        {"yv12", K::PlaneCopy, &semi, R::BiplanarToPlanar8, true, false},
        {"nv12", K::InterleaveBiplanar, &planar, R::PlanarToBiplanar8, false, false},
        {"nv12", K::PlaneCopy, &semi, R::BiplanarToBiplanar, false, false},
        {"P010", K::InterleaveBiplanar, &planar10, R::Planar10ToBiplanar10, false, true},
        {"p010", K::PlaneCopy, &semi10, R::BiplanarToBiplanar, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + enumName(c.route));
        const int64_t sample = c.words ? 2 : 1;
        const int64_t chromaRow = c.threePlanes ? CW : 2 * CW * sample;
        HostPlanes host(W, H, {W * sample, chromaRow, chromaRow});
        const ConvertResult r = convertFrame(planFor(c.format, c.kind, c.frame->get()->format),
                                             c.frame->get(), host.destination);
        ASSERT_EQ(r.status, ConvertStatus::Ok) << r.reason;
        ASSERT_EQ(r.route.route, c.route);
        const auto got = [&](int plane, int index, int y) {
            return c.words ? host.word(plane, index, y) >> 8 : host.at(plane, index, y);
        };
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                ASSERT_EQ(got(0, x, y), value(0, x, y)) << "luma " << x << "," << y;
            }
        }
        for (int y = 0; y < CH; ++y) {
            for (int x = 0; x < CW; ++x) {
                const int u = c.threePlanes ? got(1, x, y) : got(1, 2 * x, y);
                const int v = c.threePlanes ? got(2, x, y) : got(1, 2 * x + 1, y);
                ASSERT_EQ(u, value(1, x, y)) << "U " << x << "," << y;
                ASSERT_EQ(v, value(2, x, y)) << "V " << x << "," << y;
            }
        }
    }
}

TEST(RowCopyTest, BothModesCopyExactlyTheRowAtEveryAlignment) {
    std::vector<uint8_t> source(300);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    for (const int64_t picture : {int64_t{0}, RowCopy::kStreamingBytes}) {
        for (int64_t offset = 0; offset < 17; ++offset) {
            for (const int64_t bytes : {0, 1, 15, 16, 63, 64, 65, 130, 257}) {
                std::vector<uint8_t> want(320, 0xEE), got(want);
                std::copy_n(source.begin(), bytes, want.begin() + offset);
                RowCopy{picture}(got.data() + offset, source.data(), bytes);
                ASSERT_EQ(got, want) << picture << " " << offset << " " << bytes;
            }
        }
    }
}

}  // namespace
}  // namespace kestrova
