#include "video/prefetcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "fixtures.h"

namespace kestrova {
namespace {

TEST(PrefetchLookaheadTest, FillsAboutHalfTheBudget) {
    ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available());
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    ffmpeg::FramePtr frame(fn.av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = 1920;
    frame->height = 1080;
    ASSERT_GE(fn.av_frame_get_buffer(frame.get(), 0), 0);
    const uint64_t hd = estimateFrameBytes(frame.get());
    ASSERT_GT(hd, 3000000u);

    const std::tuple<uint64_t, uint64_t, int32_t> cases[] = {
        {134217728, hd, 16}, {16777216, hd, 2}, {1, hd, 2},
        {134217728, 0, 16},  {100, 10, 5},  // (100 / 2) / 10
    };
    for (const auto& [budget, bytes, lookahead] : cases) {
        EXPECT_EQ(prefetchLookahead(budget, bytes), lookahead) << budget << " / " << bytes;
    }
}

TEST(PrefetchRequestTest, FollowsTheDirectionOfTravel) {
    PrefetchRequest request;
    // A request with the direction and cursor after it, or (-1, cursor): the
    // worker has prefetched up to that cursor.
    const std::tuple<int64_t, int64_t, int32_t> steps[] = {
        {10, 11, 1}, {-1, 15, 0},  // the worker has prefetched 11 to 14
        {11, 15, 1}, {12, 15, 1},  // sequential: the cursor stays ahead
        {14, 15, 1},               // a jump resets the cursor
        {5, 4, -1},                // reversed
        {-1, 1, 0},  {4, 1, -1},  {3, 1, -1},
        {2, 1, -1},  {1, 0, -1},  // the cursor is no longer ahead
    };
    for (const auto& [n, cursor, direction] : steps) {
        SCOPED_TRACE(n);
        if (n < 0) {
            request.cursor = cursor;
            continue;
        }
        request.notify(n);
        EXPECT_EQ(request.direction, direction);
        EXPECT_EQ(request.cursor, cursor);
    }
    EXPECT_EQ(request.limit(16), 0);  // 1 - 16, not below 0
    request.notify(30);
    EXPECT_EQ(request.limit(16), 46);
    EXPECT_TRUE(request.beyond(47, 46));
    EXPECT_FALSE(request.beyond(46, 46));
}

// Several playing threads overtake one another; only a second step back in
// a row, or a jump back beyond the jitter, turns the prefetcher round.
TEST(PrefetchRequestTest, StragglersOfForwardPlayDoNotReverseIt) {
    PrefetchRequest request;
    for (const int64_t n : {10, 12, 11, 13, 15, 14, 16}) {
        request.notify(n);
        EXPECT_EQ(request.direction, 1) << n;
    }
    EXPECT_EQ(request.lastRequested, 16);
    EXPECT_EQ(request.cursor, 17);
    request.notify(15);  // reverse play: the first step back may be a straggler
    EXPECT_EQ(request.direction, 1);
    request.notify(14);
    EXPECT_EQ(request.direction, -1);
    EXPECT_EQ(request.cursor, 13);
    request.notify(30);  // a jump the other way turns it at once
    EXPECT_EQ(request.direction, 1);
    EXPECT_EQ(request.cursor, 31);
}

class PrefetcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available());
        ClipDescription clip;
        ASSERT_EQ(clip.probe(path_).status, ProbeStatus::Ok);
        ASSERT_FALSE(clip.videoStreams().empty());
        stream_ = clip.videoStreams()[0]->index;
    }
    bool start() { return prefetcher_.start(path_, stream_, 0, &cache_, &cacheMutex_); }
    std::vector<int64_t> cached() {
        std::lock_guard lock(cacheMutex_);
        std::vector<int64_t> held;
        for (int64_t n = -20; n < 100; ++n) {
            if (cache_.contains(n)) {
                held.push_back(n);
            }
        }
        return held;
    }
    // Polls until the prefetcher has decoded `total` frames in all.
    bool waitForTotal(int64_t total) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (prefetcher_.prefetchedTotal() < total) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    static std::vector<int64_t> range(int64_t first, int64_t last) {
        std::vector<int64_t> frames;
        for (int64_t n = first; n <= last; ++n) {
            frames.push_back(n);
        }
        return frames;
    }

    // 75 frames, so every window below lies inside the clip.
    std::string path_ = test::fixturePath("h264_closed.mkv");
    int32_t stream_ = 0;
    FrameCache cache_;
    std::mutex cacheMutex_;
    Prefetcher prefetcher_;
};

TEST_F(PrefetcherTest, FillsAheadInTheDirectionOfTravel) {
    ASSERT_TRUE(start());
    prefetcher_.notify(10);
    ASSERT_TRUE(waitForTotal(16));
    EXPECT_EQ(cached(), range(11, 26));

    prefetcher_.notify(5);  // backwards, stopping at frame 0
    ASSERT_TRUE(waitForTotal(21));
    std::vector<int64_t> expected = range(0, 4);
    const std::vector<int64_t> ahead = range(11, 26);
    expected.insert(expected.end(), ahead.begin(), ahead.end());
    EXPECT_EQ(cached(), expected);

    prefetcher_.notify(4);  // the frames ahead are cached already
    prefetcher_.stop(false);
    EXPECT_EQ(prefetcher_.prefetchedTotal(), 21);
}

// A stream without timestamps yields only nearest frames: none is cached
// under the number asked for, where the host would later be served it as if
// it were that frame.
TEST_F(PrefetcherTest, CachesOnlyExactFrames) {
    test::LogCapture log;
    path_ = test::fixturePath("h264_elementary.h264");
    ASSERT_TRUE(start());
    prefetcher_.notify(0);  // a run over frames 1 to 16
    const std::string last = "Prefetcher: frame 16 is not exact, not cached";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (log.count(last) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    prefetcher_.stop(false);
    EXPECT_EQ(log.count("is not exact, not cached"), 16);
    EXPECT_TRUE(cached().empty());
    EXPECT_EQ(prefetcher_.prefetchedTotal(), 0);
}

TEST_F(PrefetcherTest, StopStartAndFinalStop) {
    test::LogCapture log;
    EXPECT_FALSE(prefetcher_.start(path_, stream_, 0, nullptr, &cacheMutex_));
    EXPECT_FALSE(prefetcher_.start(path_, stream_, 0, &cache_, nullptr));
    ASSERT_TRUE(start());
    EXPECT_TRUE(start());  // already running: no second thread
    prefetcher_.notify(70);
    ASSERT_TRUE(waitForTotal(4));  // 71 to 74; the rest lies past the end
    prefetcher_.stop(false);
    EXPECT_FALSE(prefetcher_.started());

    ASSERT_TRUE(start());
    prefetcher_.notify(40);
    ASSERT_TRUE(waitForTotal(20));
    prefetcher_.stop(true);
    EXPECT_FALSE(start());
    prefetcher_.stop(true);  // nothing left to stop, nothing logged

    const std::string text = log.text();
    EXPECT_EQ(test::occurrences(text, "Prefetcher: started for " + path_ + " stream " +
                                          std::to_string(stream_) + " (max lookahead=16)"),
              2);
    EXPECT_EQ(test::occurrences(
                  text, "Prefetcher: stopped for " + path_ + " (prefetched 4 frames total)"),
              1);
    EXPECT_EQ(test::occurrences(
                  text, "Prefetcher: stopped for " + path_ + " (prefetched 20 frames total)"),
              1);
}

TEST_F(PrefetcherTest, UnreadableMediaEndsTheThreadUntilStopped) {
    test::LogCapture log;
    path_ = test::fixturePath("no_such_clip.mkv");
    ASSERT_TRUE(start());
    prefetcher_.notify(0);
    const std::string failure = "Prefetcher: cannot open " + path_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (log.count(failure) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(log.count(failure), 1);
    EXPECT_TRUE(prefetcher_.started());  // no restart until a stop
    EXPECT_TRUE(start());
    prefetcher_.stop(false);
    EXPECT_EQ(log.count("Prefetcher: started for"), 1);
    EXPECT_EQ(log.count("(prefetched 0 frames total)"), 1);
}

}  // namespace
}  // namespace kestrova
