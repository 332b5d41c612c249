#include "pixels/target_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "host/frame_delivery.h"
#include "pixels/host_formats.h"

namespace kestrova {
namespace {

using K = ConversionKind;

struct Expected {
    const char* format;
    K kind;
    int32_t score;
    bool tagged = false;
};

struct Source {
    AVPixelFormat format;
    int32_t primaries = 1, transfer = 1, matrix = 1;
    bool fullRange = false, interlaced = false;
    int32_t siting = 0;
};

SourcePixelInfo describe(const Source& s) {
    SourcePixelInfo info;
    describeSourceFormat(info, s.format);
    info.primaries = s.primaries;
    info.transfer = s.transfer;
    info.matrix = s.matrix;
    info.fullRange = s.fullRange;
    info.interlaced = s.interlaced;
    info.chromaSiting = s.siting;
    info.hdr = s.transfer == 16 || s.transfer == 18;
    return info;
}

uint32_t code(const char* text) {
    char chars[5] = {text[0], text[1], text[2], text[3], 0};
    return fourCC(chars);
}

std::string listText(const std::vector<TargetPlan>& plans) {
    std::string text;
    for (const TargetPlan& p : plans) {
        text += printableFourCC(p.format) + "/" + enumName(p.kind) + "/" + std::to_string(p.score) +
                (p.hdrTagged ? "/tagged" : "") + " ";
    }
    return text;
}

class TargetPlanTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
};

TEST_F(TargetPlanTest, CandidateListsFollowTheSourcePicture) {
    constexpr int32_t kPq = 16, kHlg = 18, kLinear = 8, kBt2020 = 9, kBt601 = 6;
    const struct {
        const char* name;
        Source source;
        std::vector<Expected> plans;
    } cases[] = {
        {"8-bit 4:2:0 709",
         {AV_PIX_FMT_YUV420P},
         {{"Yv17", K::PlaneCopy, 100},
          {"nv12", K::InterleaveBiplanar, 80},
          {"BGrx", K::MatrixToRgbFloat, 10}}},
        {"left siting, interlaced, full range, 601",
         {AV_PIX_FMT_YUV420P, 6, 6, kBt601, true, true, 1},
         {{"yvif", K::PlaneCopy, 100},
          {"nvi1", K::InterleaveBiplanar, 80},
          {"BGrx", K::MatrixToRgbFloat, 10}}},
        {"NV12",
         {AV_PIX_FMT_NV12},
         {{"nv12", K::PlaneCopy, 100},
          {"Yv17", K::PlaneCopy, 70},
          {"BGrx", K::MatrixToRgbFloat, 10}}},
        {"10-bit 4:2:0 PQ",
         {AV_PIX_FMT_YUV420P10LE, kBt2020, kPq, kBt2020},
         {{"PO10", K::InterleaveBiplanar, 95, true},
          {"VUx7", K::FloatNormalize, 40},
          {"BGrx", K::MatrixToRgbFloat, 10}}},
        {"10-bit 4:2:0 SDR",
         {AV_PIX_FMT_YUV420P10LE},
         {{"p010", K::InterleaveBiplanar, 95},
          {"VUx7", K::FloatNormalize, 40},
          {"BGrx", K::MatrixToRgbFloat, 10}}},
        {"10-bit planar RGB HLG",
         {AV_PIX_FMT_GBRP10LE, kBt2020, kHlg, 0},
         {{"@HL1", K::Pack10Rgb, 90, true}, {"BGrx", K::MatrixToRgbFloat, 10}}},
        {"16-bit RGBA",
         {AV_PIX_FMT_RGBA64LE, 1, 1, 0},
         {{"Bgra", K::Scale16u, 85}, {"BGra", K::FloatNormalize, 80}}},
        {"planar float RGBA, linear",
         {AV_PIX_FMT_GBRAPF32LE, 1, kLinear, 0},
         {{"BGaL", K::PlanarRgbFloat, 95}, {"BGra", K::MatrixToRgbFloat, 10}}},
        {"12-bit 4:2:2 SDR",
         {AV_PIX_FMT_YUV422P12LE},
         {{"VUx7", K::Swscale, 30}, {"BGrx", K::MatrixToRgbFloat, 10}}},
        {"12-bit 4:2:0 SDR",
         {AV_PIX_FMT_YUV420P12LE},
         {{"p010", K::Swscale, 35}, {"VUx7", K::Swscale, 30}, {"BGrx", K::MatrixToRgbFloat, 10}}},
        {"12-bit 4:2:0 BT.2020 SDR",
         {AV_PIX_FMT_YUV420P12LE, kBt2020, 14, kBt2020},
         {{"P010", K::Swscale, 35}, {"BGrx", K::MatrixToRgbFloat, 32}, {"VUx7", K::Swscale, 30}}},
        {"8-bit 4:1:1",
         {AV_PIX_FMT_YUV411P},
         {{"vux7", K::Swscale, 25}, {"BGrx", K::MatrixToRgbFloat, 10}}},
        {"8-bit RGB24", {AV_PIX_FMT_RGB24, 1, 13, 0}, {{"BGrx", K::FloatNormalize, 90}}},
        {"4:4:4 with alpha 601",
         {AV_PIX_FMT_YUVA444P, 6, 6, kBt601},
         {{"vuya", K::InterleaveVuya, 85}, {"BGra", K::MatrixToRgbFloat, 10}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<TargetPlan> plans = buildCandidateList(describe(c.source));
        ASSERT_EQ(plans.size(), c.plans.size()) << listText(plans);
        for (std::size_t i = 0; i < plans.size(); ++i) {
            EXPECT_EQ(printableFourCC(plans[i].format), printableFourCC(code(c.plans[i].format)))
                << listText(plans);
            EXPECT_EQ(plans[i].kind, c.plans[i].kind) << listText(plans);
            EXPECT_EQ(plans[i].score, c.plans[i].score);
            EXPECT_EQ(plans[i].hdrTagged, c.plans[i].tagged) << listText(plans);
            EXPECT_EQ(plans[i].sourceFormat, c.source.format);
        }
    }
}

TEST_F(TargetPlanTest, CompletionAddsBgraOnlyWhenNothingUsableIsOffered) {
    std::vector<TargetPlan> hlgOnly{{fourCC("@HL1"), K::Pack10Rgb, 90, false, true, 5, "x"}};
    SourcePixelInfo source;
    source.pixelFormat = 5;
    completeCandidateList(hlgOnly, source);
    ASSERT_EQ(hlgOnly.size(), 2u);
    EXPECT_EQ(hlgOnly.back().format, fourCC("bgra"));
    EXPECT_EQ(hlgOnly.back().kind, K::Swscale);
    EXPECT_EQ(hlgOnly.back().sourceFormat, 5);

    std::vector<TargetPlan> usable = buildCandidateList(describe({AV_PIX_FMT_YUV420P}));
    completeCandidateList(usable, describe({AV_PIX_FMT_YUV420P}));
    EXPECT_EQ(usable.size(), 3u);
}

TEST_F(TargetPlanTest, NegotiationKeepsHdrClipsOutOfEightBitSdrFormats) {
    const auto plan = [](uint32_t format) {
        TargetPlan p;
        p.format = format;
        return p;
    };
    const std::vector<TargetPlan> plans{plan(fourCC("bgra")), plan(fourCC("BGra")),
                                        plan(fourCC("vuya"))};
    const auto chosen = [&](const char* desired, bool hdr) {
        const uint32_t wish = desired ? code(desired) : 0;
        return printableFourCC(chooseNegotiatedPlan(plans, wish, hdr)->format);
    };
    EXPECT_EQ(chosen("vuya", false), printableFourCC(fourCC("vuya")));
    EXPECT_EQ(chosen("Yv12", false), printableFourCC(fourCC("bgra")));
    EXPECT_EQ(chosen(nullptr, false), printableFourCC(fourCC("bgra")));
    EXPECT_EQ(chosen("vuya", true), printableFourCC(fourCC("BGra")));
    EXPECT_EQ(chosen(nullptr, true), printableFourCC(fourCC("BGra")));
    const std::vector<TargetPlan> sdrOnly{plan(fourCC("bgra"))};
    EXPECT_EQ(chooseNegotiatedPlan(sdrOnly, 0, true)->format, fourCC("bgra"));
    EXPECT_EQ(chooseNegotiatedPlan({}, 0, true), nullptr);
}

// The negotiated plan of an HDR clip is one delivery accepts, whatever the
// host wishes for; before, only the 8-bit SDR formats were avoided, so these
// clips negotiated v211, RGB1, Bgra and yv12 and every frame was refused.
TEST_F(TargetPlanTest, HdrNegotiationPicksADeliverablePlan) {
    const struct {
        Source source;
        const char* chosen;
    } cases[] = {
        {{AV_PIX_FMT_YUV422P10LE, 9, 18, 9}, "VUx7"}, {{AV_PIX_FMT_GBRP10LE, 9, 16, 0}, "BGrx"},
        {{AV_PIX_FMT_RGBA64LE, 9, 16, 0}, "BGra"},    {{AV_PIX_FMT_RGB48LE, 9, 16, 0}, "BGrx"},
        {{AV_PIX_FMT_YUV420P, 9, 16, 9}, "BGrx"},     {{AV_PIX_FMT_BGRA, 9, 16, 0}, "BGra"},
        {{AV_PIX_FMT_YUV420P10LE, 9, 16, 9}, "PO10"},
    };
    for (const auto& c : cases) {
        std::vector<TargetPlan> plans = buildCandidateList(describe(c.source));
        completeCandidateList(plans, describe(c.source));
        SCOPED_TRACE(listText(plans));
        for (uint32_t wish : {0u, plans.front().format}) {
            const TargetPlan* chosen = chooseNegotiatedPlan(plans, wish, true);
            ASSERT_NE(chosen, nullptr);
            EXPECT_TRUE(hdrDeliveryAllowed(*chosen));
            EXPECT_EQ(chosen->format, code(c.chosen));
        }
    }
}

// Chroma order and row order of the layouts are covered by the route and
// kernel tests; here only what the log prints.
TEST(HostFormatTest, PrintableText) {
    EXPECT_EQ(printableFourCC(fourCC("bgra")), "argb");
    EXPECT_EQ(printableFourCC(0x01020304u), "0x1020304");
    EXPECT_EQ(printableFourCC(kBadFormat), "fdab");
}

TEST(FrameTimeTest, TimesRoundToTheNearestFrame) {
    constexpr int64_t T = 254016000000;
    const int64_t frameTicks = T / 25;
    EXPECT_EQ(host::frameNumberAt(0, 25, 1, T), 0);
    EXPECT_EQ(host::frameNumberAt(frameTicks * 7, 25, 1, T), 7);
    EXPECT_EQ(host::frameNumberAt(frameTicks / 2, 25, 1, T), 1);  // exactly half rounds up
    EXPECT_EQ(host::frameNumberAt(frameTicks / 2 - 1, 25, 1, T), 0);
    EXPECT_EQ(host::frameNumberAt(-frameTicks * 3, 25, 1, T), 0);
    EXPECT_EQ(host::frameNumberAt(frameTicks, 0, 1, T), 0);
    EXPECT_EQ(host::frameNumberAt(INT64_MAX, 30000, 1, 1), INT64_MAX);
    EXPECT_EQ(host::frameNumberAt(T * 1001 / 30000 * 10, 30000, 1001, T), 10);
}

}  // namespace
}  // namespace kestrova
