// The asynchronous importer on compressed video: keyframe snapping, the
// frame cache shared by concurrent requests, and frames that are delivered
// without being remembered. FFmpeg decodes these on threads of its own,
// which the thread sanitizer cannot see, so they stay out of its pass.
#include <gtest/gtest.h>

#include <future>
#include <vector>

#include "async_test_support.h"

namespace kestrova::moduletest {
namespace {

class AsyncDecodeTest : public ClipModuleTest {
  protected:
    void SetUp() override {
        ClipModuleTest::SetUp();
        host().ppix().setCacheEnabled(false);
    }
};

// Keyframes every 12 frames, from the container's own index.
TEST_F(AsyncDecodeTest, SnapsRenderTimesToKeyframesTwelveFramesApart) {
    AsyncClip clip(host(), fixturePath("h264_closed.mp4"));
    ASSERT_TRUE(clip.importer);
    const hostsim::RenderTimeAnswer between =
        hostsim::selectEfficientRenderTime(clip.importer, clip.ticks(30));
    EXPECT_EQ(between.result, host::imNoErr);
    EXPECT_EQ(between.timeTicks, clip.ticks(24));
    const hostsim::RenderTimeAnswer on =
        hostsim::selectEfficientRenderTime(clip.importer, clip.ticks(24));
    EXPECT_EQ(on.result, host::imNoErr);
    EXPECT_EQ(on.timeTicks, clip.ticks(24));
    EXPECT_EQ(clip.close(), host::imNoErr);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "aiSelectEfficientRenderTime: snapped frame 30 -> keyframe 24"), 1)
        << text;
    EXPECT_EQ(occurrences(text, "snapped frame 24"), 0) << text;
}

// Eight requests for one frame at once: the first decodes it, the others
// wait for the decoder and find it in the cache, so it is stored once.
TEST_F(AsyncDecodeTest, ConcurrentRequestsForOneFrameDecodeItOnce) {
    AsyncClip clip(host(), fixturePath("h264_closed.mp4"));
    ASSERT_TRUE(clip.importer);
    // Ascending and far apart, so no prefetch run reaches the next one.
    const std::vector<int64_t> frames = {9, 30, 51, 74};
    for (const int64_t n : frames) {
        std::promise<void> go;
        std::shared_future<void> ready = go.get_future().share();
        std::vector<std::future<hostsim::AsyncFrameAnswer>> requests;
        for (int t = 0; t < 8; ++t) {
            requests.push_back(std::async(std::launch::async, [&, ready] {
                ready.wait();
                return clip.frame(n);
            }));
        }
        go.set_value();
        for (auto& request : requests) {
            const hostsim::AsyncFrameAnswer answer = request.get();
            EXPECT_EQ(answer.result, host::imNoErr) << n;
            host().ppix().dispose(answer.ppix);
        }
        // Stop the prefetcher, so it does not store the next frame asked for.
        EXPECT_EQ(hostsim::asyncFlush(clip.importer), host::imNoErr);
    }
    EXPECT_EQ(clip.close(), host::imNoErr);
    const std::string text = log();
    for (const int64_t n : frames) {
        EXPECT_EQ(occurrences(text, "FrameCache: stored frame " + std::to_string(n) + " ("), 1)
            << "frame " << n;
        EXPECT_EQ(occurrences(text, "aiGetFrame: SUCCESS frame " + std::to_string(n) + " "), 8);
    }
}

struct CachingCase {
    std::string fixture;
    bool exact;
};

class AsyncCachingTest : public AsyncDecodeTest,
                         public ::testing::WithParamInterface<CachingCase> {};

// A stream without timestamps only yields frames assumed to be the one asked
// for: they are delivered, but never stored as that frame.
TEST_P(AsyncCachingTest, CachesOnlyExactFrames) {
    AsyncClip clip(host(), fixturePath(GetParam().fixture));
    ASSERT_TRUE(clip.importer);
    EXPECT_EQ(hostsim::asyncFlush(clip.importer), host::imNoErr);
    for (int repeat = 0; repeat < 2; ++repeat) {
        const hostsim::AsyncFrameAnswer answer = clip.frame(10);
        EXPECT_EQ(answer.result, host::imNoErr);
        host().ppix().dispose(answer.ppix);
        hostsim::asyncFlush(clip.importer);
    }
    EXPECT_EQ(clip.close(), host::imNoErr);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "aiGetFrame: SUCCESS frame 10 "), 2) << text;
    EXPECT_EQ(occurrences(text, "FrameCache: stored frame 10 ("), GetParam().exact ? 1 : 0) << text;
}

INSTANTIATE_TEST_SUITE_P(Streams, AsyncCachingTest,
                         ::testing::Values(CachingCase{"h264_closed.mp4", true},
                                           CachingCase{"h264_elementary.h264", false}),
                         FixtureTestName());

}  // namespace
}  // namespace kestrova::moduletest
