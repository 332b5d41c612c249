#include "pixels/divergence_tracker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "fixtures.h"

namespace kestrova {
namespace {

DivergenceEvent event(int32_t expected, int32_t actual, int64_t frame) {
    DivergenceEvent e;
    e.expected = expected;
    e.actual = actual;
    e.route = DeliveryRoute::Kernel;
    e.frame = frame;
    e.clipName = "clip.mkv";
    return e;
}

class DivergenceTrackerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
    DivergenceTracker tracker_;
};

TEST_F(DivergenceTrackerTest, AlternatingPairsLogOnlyEarlyAndPowerOfTenTransitions) {
    std::vector<std::string> logged;
    for (int64_t frame = 0; frame < 2000; ++frame) {
        const bool a = frame % 2 == 0;
        std::string message;
        if (tracker_.record(event(AV_PIX_FMT_NV12, a ? AV_PIX_FMT_YUV420P : -1, frame), &message)) {
            logged.push_back(message.substr(message.find("(transition")));
        }
    }
    const std::vector<std::string> transitions = {"1", "2", "3", "10", "100", "1000"};
    ASSERT_EQ(logged.size(), 2 * transitions.size());
    for (std::size_t i = 0; i < logged.size(); ++i) {
        EXPECT_EQ(logged[i], "(transition " + transitions[i / 2] + ")") << i;
    }
    EXPECT_EQ(tracker_.summary("clip.mkv"),
              (std::vector<std::string>{
                  "pixel format divergence summary for clip.mkv: expected nv12, actual yuv420p: "
                  "first frame 0, 1000 occurrences, 1000 transitions, 6 logged",
                  "pixel format divergence summary for clip.mkv: expected nv12, actual none: "
                  "first frame 1, 1000 occurrences, 1000 transitions, 6 logged"}));
}

TEST_F(DivergenceTrackerTest, RepeatsAreCountedNotLogged) {
    test::LogCapture log;
    int loggedCount = 0;
    std::string message;
    for (int64_t frame = 40; frame < 60; ++frame) {
        DivergenceEvent e = event(AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12, frame);
        e.fromCache = true;
        e.hwFallbackActive = true;
        loggedCount += tracker_.record(e, loggedCount == 0 ? &message : nullptr) ? 1 : 0;
    }
    EXPECT_EQ(loggedCount, 1);
    EXPECT_EQ(message,
              "pixel format divergence for clip.mkv: expected yuv420p, actual nv12, frame 40, hw "
              "fallback active, source=cached, route=Kernel (transition 1)");
    tracker_.report("");
    EXPECT_EQ(log.count("WARN"), 1);
    EXPECT_EQ(log.count("pixel format divergence summary for <unknown clip>: expected yuv420p, "
                        "actual nv12: first frame 40, 20 occurrences, 1 transitions, 1 logged"),
              1);
}

TEST_F(DivergenceTrackerTest, AFifthPairIsOnlyCounted) {
    EXPECT_TRUE(tracker_.summary("clip.mkv").empty());
    for (int32_t actual = 0; actual < 4; ++actual) {
        EXPECT_TRUE(tracker_.record(event(AV_PIX_FMT_P010LE, actual, actual), nullptr));
    }
    std::string message = "untouched";
    EXPECT_FALSE(tracker_.record(event(AV_PIX_FMT_P010LE, 99999, 9), &message));
    EXPECT_FALSE(tracker_.record(event(AV_PIX_FMT_P010LE, 99999, 10), &message));
    EXPECT_EQ(message, "untouched");
    const std::vector<std::string> lines = tracker_.summary("clip.mkv");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines.back(),
              "pixel format divergence summary for clip.mkv: 2 further events in more than 4 "
              "distinct format pairs were counted but not tracked individually");
}

TEST_F(DivergenceTrackerTest, UnsupportedRouteNamesTheReason) {
    const struct {
        std::string reason;
        std::string ending;
    } cases[] = {
        {"", ", no delivery route: no reason given"},
        {"no kernel for p416", ", no delivery route: no kernel for p416"},
    };
    for (const auto& c : cases) {
        DivergenceTracker tracker;
        DivergenceEvent e = event(-1, 99999, 3);
        e.route = DeliveryRoute::Unsupported;
        e.reason = c.reason;
        e.clipName.clear();
        std::string message;
        ASSERT_TRUE(tracker.record(e, &message));
        EXPECT_EQ(message,
                  "pixel format divergence for <unknown clip>: expected none, actual unknown, "
                  "frame 3, hw fallback not active, source=decoded, route=Unsupported "
                  "(transition 1)" +
                      c.ending);
    }
}

}  // namespace
}  // namespace kestrova
