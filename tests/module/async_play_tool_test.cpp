// kestrova-host play --async: playback and scrubbing through the async entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clip_test_support.h"

namespace kestrova::moduletest {
namespace {

// The integer member `name` of a one-line JSON object, or -2 when absent.
long long member(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const auto at = json.find(key);
    return at == std::string::npos ? -2 : std::stoll(json.substr(at + key.size()));
}

struct PlayCase {
    std::string name;
    std::vector<std::string> options;
    long long frames;
    bool hostCacheHits;
    // Forward play from the first request is the foreground decoder's alone:
    // a prefetcher woken there would decode the same frames a second time.
    bool neverPrefetches;
};

class AsyncPlayToolTest : public ::testing::TestWithParam<PlayCase> {};

TEST_P(AsyncPlayToolTest, ReportsEveryFrameDelivered) {
    TempFolder appData;
    std::vector<std::string> arguments = {
        "--appdata", appData.str(), "play", "--json",
        "--async",   "--frames",    "30",   fixturePath("h264_closed.mkv")};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const ToolRun run = runTool(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err << run.out;
    EXPECT_EQ(member(run.out, "frames"), GetParam().frames) << run.out;
    EXPECT_EQ(member(run.out, "failed"), 0) << run.out;
    if (GetParam().neverPrefetches) {
        EXPECT_EQ(member(run.out, "prefetched"), 0) << run.out;
    } else {
        EXPECT_GE(member(run.out, "prefetched"), 0) << run.out;
    }
    EXPECT_EQ(member(run.out, "hostCacheHits") > 0, GetParam().hostCacheHits) << run.out;
}

// A scrub over 30 frames: 0 to 29, 9 to 21 again, then 29 back to 0; the
// frames seen before come from the host's cache.
INSTANTIATE_TEST_SUITE_P(
    Patterns, AsyncPlayToolTest,
    ::testing::Values(PlayCase{"InOrder", {}, 30, false, true},
                      PlayCase{"ThreeThreads", {"--threads", "3"}, 30, false, false},
                      PlayCase{"Scrub", {"--scrub", "--threads", "2"}, 73, true, false}),
    [](const auto& info) { return info.param.name; });

TEST(AsyncPlayToolUsageTest, ThreadsAndScrubNeedAsync) {
    for (const char* option : {"--scrub", "--threads=2"}) {
        const ToolRun run = runTool({"play", option, fixturePath("h264_closed.mkv")});
        EXPECT_EQ(run.exitCode, 1) << option;
    }
    EXPECT_EQ(
        runTool({"play", "--async", "--threads", "0", fixturePath("h264_closed.mkv")}).exitCode, 1);
}

}  // namespace
}  // namespace kestrova::moduletest
