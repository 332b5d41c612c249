// The asynchronous importer as a playing host sees it: creation, the entry's
// selectors, requests from several threads, flushes, and a close that waits
// for the requests still inside. Raw video decodes on the calling thread
// alone, so these run under the thread sanitizer too.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "async_scheduler.h"
#include "async_test_support.h"
#include "picture_view.h"

namespace kestrova::moduletest {
namespace {

using namespace std::chrono_literals;

const std::string kRawClip = "raw_nv12.nut";  // 8 frames
constexpr int64_t kRawFrames = 8;

class AsyncImporterTest : public ClipModuleTest {
  protected:
    // Frames come from the module, never from the host's cache.
    void SetUp() override {
        ClipModuleTest::SetUp();
        host().ppix().setCacheEnabled(false);
    }
    uint64_t hashOf(host::PPixHand ppix) {
        const hostsim::PPixBuffer* buffer = host().ppix().find(ppix);
        return buffer ? hostsim::visibleHash(*buffer) : 0;
    }
};

TEST_F(AsyncImporterTest, DeliversTheSamePicturesAsTheSynchronousPath) {
    AsyncClip clip(host(), fixturePath(kRawClip));
    ASSERT_TRUE(clip.importer);
    for (int64_t n = kRawFrames - 1; n >= 0; --n) {
        const hostsim::AsyncFrameAnswer async = clip.frame(n);
        const hostsim::SourceVideoAnswer sync =
            hostsim::getSourceVideo(host(), clip.clip(), clip.ticks(n), {});
        ASSERT_EQ(async.result, host::imNoErr) << n;
        ASSERT_EQ(sync.result, host::imNoErr) << n;
        EXPECT_EQ(hashOf(async.ppix), hashOf(sync.ppix)) << "frame " << n;
        host().ppix().dispose(async.ppix);
        host().ppix().dispose(sync.ppix);
    }
    EXPECT_EQ(clip.close(), host::imNoErr);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imCreateAsyncImporter: created for"), 1) << text;
    EXPECT_EQ(occurrences(text, "aiClose: async instance for"), 1) << text;
}

// Creation builds what the host has not asked for yet; a clip without video
// has nothing to play.
TEST_F(AsyncImporterTest, CreationWithoutDescriptionAndWithoutVideo) {
    {
        OpenClip clip(host(), fixturePath(kRawClip));  // no imGetInfo8, no formats
        const hostsim::AsyncImporter importer = hostsim::createAsyncImporter(host(), clip.clip());
        ASSERT_TRUE(importer);
        const hostsim::AsyncFrameAnswer frame = hostsim::asyncGetFrame(importer, 0, {});
        EXPECT_EQ(frame.result, host::imNoErr);
        host().ppix().dispose(frame.ppix);
        EXPECT_EQ(hostsim::asyncClose(importer), host::imNoErr);
    }
    {
        OpenClip audio(host(), fixturePath("pcm_s16le.wav"));
        const hostsim::AsyncImporter importer = hostsim::createAsyncImporter(host(), audio.clip());
        EXPECT_EQ(importer.result, host::imFailure);
        EXPECT_EQ(importer.instance, nullptr);
    }
    EXPECT_EQ(hostsim::createAsyncImporter(host(), nullptr).result, host::imFailure);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imCreateAsyncImporter: no video streams in"), 1) << text;
}

struct SelectorCase {
    host::Selector selector;
    host::Result withInstance;
    host::Result withoutInstance;
};

class AsyncSelectorTest : public AsyncImporterTest,
                          public ::testing::WithParamInterface<SelectorCase> {};

TEST_P(AsyncSelectorTest, AnswersAsTheHostExpects) {
    AsyncClip clip(host(), fixturePath(kRawClip));
    ASSERT_TRUE(clip.importer);
    EXPECT_EQ(hostsim::asyncRecordSelector(clip.importer, GetParam().selector),
              GetParam().withInstance);
    hostsim::AsyncImporter none = clip.importer;
    none.instance = nullptr;
    EXPECT_EQ(hostsim::asyncRecordSelector(none, GetParam().selector), GetParam().withoutInstance);
}

// aiGetFrame without an output location fails like one without an instance.
INSTANTIATE_TEST_SUITE_P(Selectors, AsyncSelectorTest,
                         ::testing::Values(SelectorCase{host::aiInitiateAsyncRead, 0, 2},
                                           SelectorCase{host::aiCancelAsyncRead, 0, 0},
                                           SelectorCase{host::aiGetFrame, 2, 2},
                                           SelectorCase{host::aiContinueToWaitForAsyncIO, 0, 0},
                                           SelectorCase{host::aiSelectEfficientRenderTime, 0, 1},
                                           SelectorCase{8, 1, 1}, SelectorCase{99, 1, 1},
                                           SelectorCase{-1, 1, 1}));

TEST_F(AsyncImporterTest, MinimumSpeedForEfficientTimesIsTwo) {
    AsyncClip clip(host(), fixturePath(kRawClip));
    const hostsim::PlaybackSpeedAnswer speed =
        hostsim::minPlaybackSpeedForEfficientTime(clip.importer);
    EXPECT_EQ(speed.result, host::imNoErr);
    EXPECT_EQ(speed.speed, 2.0);
}

// The synchronous path fills the host's frame cache; the async path finds
// the frame there without decoding.
TEST_F(AsyncImporterTest, SharesTheHostFrameCacheWithTheSynchronousPath) {
    host().ppix().setCacheEnabled(true);
    AsyncClip clip(host(), fixturePath(kRawClip));
    const hostsim::SourceVideoAnswer sync =
        hostsim::getSourceVideo(host(), clip.clip(), clip.ticks(3), {});
    ASSERT_EQ(sync.result, host::imNoErr);
    const hostsim::HostCacheStats before = host().ppix().cacheStats();
    const hostsim::AsyncFrameAnswer async = clip.frame(3);
    ASSERT_EQ(async.result, host::imNoErr);
    EXPECT_EQ(async.ppix, sync.ppix);  // the very frame the host cached
    EXPECT_EQ(host().ppix().cacheStats().hits, before.hits + 1);
    host().ppix().dispose(async.ppix);
    host().ppix().dispose(sync.ppix);
    EXPECT_EQ(clip.close(), host::imNoErr);
    EXPECT_EQ(occurrences(log(), "aiGetFrame: SUCCESS frame 3"), 0);
}

// A request that comes once aiClose has set the closing flag is refused
// without reaching the decoder, while the close waits for the request
// already inside.
TEST_F(AsyncImporterTest, RefusesRequestsOnceClosing) {
    AsyncClip clip(host(), fixturePath(kRawClip));
    host().holdCallback(hostsim::Callback::CreatePPix);
    auto inside = std::async(std::launch::async, [&] { return clip.frame(1); });
    ASSERT_TRUE(host().waitForHeldCall(hostsim::Callback::CreatePPix, 10s));
    auto closing = std::async(std::launch::async, [&] { return clip.close(); });
    std::this_thread::sleep_for(50ms);  // aiClose is draining now
    const hostsim::AsyncFrameAnswer refused = clip.frame(5);
    EXPECT_EQ(refused.result, host::aiClosing);
    EXPECT_EQ(refused.ppix, nullptr);
    EXPECT_EQ(hostsim::asyncRecordSelector(clip.importer, host::aiInitiateAsyncRead),
              host::aiClosing);
    EXPECT_EQ(hostsim::selectEfficientRenderTime(clip.importer, 0).result, host::aiNotHandled);
    host().releaseCallback(hostsim::Callback::CreatePPix);
    const hostsim::AsyncFrameAnswer delivered = inside.get();
    EXPECT_EQ(delivered.result, host::imNoErr);
    host().ppix().dispose(delivered.ppix);
    EXPECT_EQ(closing.get(), host::imNoErr);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "aiGetFrame: frame 5 "), 0) << text;
    EXPECT_EQ(occurrences(text, "aiClose: async instance for"), 1) << text;
}

// A close that waits 300 ms warns once while it waits and once when done.
TEST_F(AsyncImporterTest, SlowDrainWarnsAndThenFrees) {
    AsyncClip clip(host(), fixturePath(kRawClip));
    host().holdCallback(hostsim::Callback::CreatePPix);
    auto inside = std::async(std::launch::async, [&] { return clip.frame(2); });
    ASSERT_TRUE(host().waitForHeldCall(hostsim::Callback::CreatePPix, 10s));
    auto closing = std::async(std::launch::async, [&] { return clip.close(); });
    std::this_thread::sleep_for(300ms);
    host().releaseCallback(hostsim::Callback::CreatePPix);
    host().ppix().dispose(inside.get().ppix);
    EXPECT_EQ(closing.get(), host::imNoErr);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "aiClose: still draining 1 in-flight request(s) after"), 1) << text;
    EXPECT_EQ(occurrences(text, "aiClose: drain finished after"), 1) << text;
    EXPECT_EQ(occurrences(text, "aiClose: async instance for"), 1) << text;
}

// A request that never leaves: after 10 s the close gives up and leaks the
// instance, which the late request can still finish in.
TEST_F(AsyncImporterTest, StuckRequestLeaksTheInstanceAfterTenSeconds) {
    AsyncClip clip(host(), fixturePath(kRawClip));
    host().holdCallback(hostsim::Callback::CreatePPix);
    auto inside = std::async(std::launch::async, [&] { return clip.frame(2); });
    ASSERT_TRUE(host().waitForHeldCall(hostsim::Callback::CreatePPix, 10s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(clip.close(), host::imNoErr);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 10s);
    host().releaseCallback(hostsim::Callback::CreatePPix);
    const hostsim::AsyncFrameAnswer late = inside.get();
    EXPECT_EQ(late.result, host::imNoErr);
    host().ppix().dispose(late.ppix);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "aiClose: 1 request(s) still in flight after 10 s"), 1) << text;
    EXPECT_EQ(occurrences(text, "intentionally leaking the async instance"), 1) << text;
    EXPECT_EQ(occurrences(text, "aiClose: async instance for"), 0) << text;
}

// Requests from several threads with a flush and then the close arriving
// while frames are in flight: every request is answered, and delivered
// unless the close refused it.
TEST_F(AsyncImporterTest, ThreadsPlayThroughFlushAndClose) {
    AsyncClip clip(host(), fixturePath(kRawClip));
    hostsim::AsyncPlayback playback;
    for (int round = 0; round < 40; ++round) {
        for (int64_t n = 0; n < kRawFrames; ++n) {
            playback.frames.push_back(n);
        }
    }
    playback.threads = 4;
    playback.rateNum = clip.info.frameRateNum;
    playback.rateDen = clip.info.frameRateDen;
    playback.flushAfter = 40;
    playback.closeAfter = 200;
    clip.closed = true;
    const hostsim::AsyncPlaybackReport report = hostsim::playAsync(clip.importer, host(), playback);
    EXPECT_TRUE(report.flushed);
    EXPECT_TRUE(report.closed);
    EXPECT_EQ(report.flushResult, host::imNoErr);
    EXPECT_EQ(report.closeResult, host::imNoErr);
    EXPECT_GE(report.requested, 200);
    EXPECT_EQ(report.delivered + report.refused + report.failed, report.requested);
    EXPECT_GE(report.delivered, 200 - 4);
    EXPECT_EQ(host().ppix().live(), 0u);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "aiClose: async instance for"), 1) << text;
}

// A flush stops the prefetcher and keeps the frames cached; the next request
// starts the prefetcher again.
TEST_F(AsyncImporterTest, FlushKeepsTheCacheAndTheNextRequestPrefetchesAgain) {
    AsyncClip clip(host(), fixturePath(kRawClip));
    for (int repeat = 0; repeat < 2; ++repeat) {
        const hostsim::AsyncFrameAnswer answer = clip.frame(0);
        EXPECT_EQ(answer.result, host::imNoErr);
        host().ppix().dispose(answer.ppix);
        EXPECT_EQ(hostsim::asyncFlush(clip.importer), host::imNoErr);
    }
    EXPECT_EQ(clip.close(), host::imNoErr);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "Prefetcher: started for"), 2) << text;
    EXPECT_EQ(occurrences(text, "FrameCache: stored frame 0 ("), 1) << text;
    EXPECT_EQ(occurrences(text, "aiGetFrame: SUCCESS frame 0 "), 2) << text;
}

}  // namespace
}  // namespace kestrova::moduletest
