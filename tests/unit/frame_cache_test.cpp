#include "video/frame_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "fixtures.h"

namespace kestrova {
namespace {

const ffmpeg::FfmpegFunctions& fn() {
    return ffmpeg::FfmpegRuntime::instance().fn();
}

// A reference-counted YUV 4:2:0 frame.
ffmpeg::FramePtr makeFrame(int width, int height) {
    ffmpeg::FramePtr frame(fn().av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    EXPECT_GE(fn().av_frame_get_buffer(frame.get(), 0), 0);
    return frame;
}

class FrameCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available());
        unit_ = estimateFrameBytes(makeFrame(64, 32).get());
        ASSERT_GT(unit_, 64u * 32u);
    }
    // Stores a fresh 64x32 frame under each index.
    void storeAll(const std::vector<int64_t>& indices) {
        for (int64_t n : indices) {
            ASSERT_EQ(cache_.store(n, makeFrame(64, 32).get()), unit_) << n;
        }
    }
    std::vector<int64_t> cached(int64_t upTo) const {
        std::vector<int64_t> held;
        for (int64_t n = 0; n <= upTo; ++n) {
            if (cache_.contains(n)) {
                held.push_back(n);
            }
        }
        return held;
    }

    FrameCache cache_;
    uint64_t unit_ = 0;
};

TEST_F(FrameCacheTest, EstimateWithoutBufferCountsRows) {
    std::vector<uint8_t> pixels(4096);
    AVFrame frame{};
    frame.width = 60;
    frame.height = 11;
    frame.data[0] = frame.data[1] = frame.data[2] = pixels.data();
    frame.linesize[0] = 64;
    frame.linesize[1] = frame.linesize[2] = 32;
    EXPECT_EQ(estimateFrameBytes(&frame), 64u * 11 + 2u * 5 * 32);
    frame.linesize[0] = 0;  // a plane without rows adds nothing
    EXPECT_EQ(estimateFrameBytes(&frame), 2u * 5 * 32);
    frame.height = 0;
    EXPECT_EQ(estimateFrameBytes(&frame), 0u);

    // Borrowed planes are copied, so the cache owns what it keeps.
    frame.height = 11;
    frame.linesize[0] = 64;
    frame.format = AV_PIX_FMT_YUV420P;
    EXPECT_GT(cache_.store(3, &frame), 0u);
    EXPECT_NE(cache_.lookup(3)->data[0], pixels.data());
}

TEST_F(FrameCacheTest, BudgetRefusals) {
    test::LogCapture log;
    cache_.setBudget(0);
    EXPECT_EQ(cache_.store(1, makeFrame(64, 32).get()), 0u);
    EXPECT_EQ(log.count("FrameCache: frame 1 (" + std::to_string(unit_) +
                        " bytes) exceeds budget (0), skipping"),
              1);

    // Larger than the whole budget: refused without evicting what is there.
    cache_.setBudget(2 * unit_);
    storeAll({1, 2});
    EXPECT_EQ(cache_.store(3, makeFrame(256, 256).get()), 0u);
    EXPECT_EQ(cached(3), (std::vector<int64_t>{1, 2}));
    EXPECT_EQ(cache_.totalBytes(), 2 * unit_);
}

TEST_F(FrameCacheTest, StoringAnIndexAgainReplacesIt) {
    storeAll({5});
    const ffmpeg::FramePtr larger = makeFrame(128, 64);
    const uint64_t bytes = cache_.store(5, larger.get());
    EXPECT_EQ(bytes, estimateFrameBytes(larger.get()));
    EXPECT_EQ(cache_.size(), 1u);
    EXPECT_EQ(cache_.totalBytes(), bytes);
    EXPECT_EQ(cache_.lookup(5)->width, 128);
    EXPECT_EQ(cache_.lookup(5)->data[0], larger->data[0]);  // a reference, not a copy
}

TEST_F(FrameCacheTest, EvictsLeastRecentlyUsed) {
    cache_.setBudget(3 * unit_);
    storeAll({1, 2, 3});
    ASSERT_NE(cache_.lookup(1), nullptr);               // 2 is now the oldest
    const ffmpeg::FramePtr kept = cache_.lookupRef(3);  // the caller's own reference
    ASSERT_NE(kept, nullptr);
    storeAll({4});
    EXPECT_EQ(cached(4), (std::vector<int64_t>{1, 3, 4}));
    cache_.setBudget(2 * unit_);  // 1 is now the oldest
    EXPECT_EQ(cached(4), (std::vector<int64_t>{3, 4}));
    EXPECT_EQ(cache_.lookup(1), nullptr);
    EXPECT_EQ(cache_.lookupRef(2), nullptr);
    EXPECT_EQ(cache_.hits(), 2u);
    EXPECT_EQ(cache_.misses(), 2u);

    cache_.clear();
    EXPECT_EQ(cache_.size(), 0u);
    EXPECT_EQ(cache_.totalBytes(), 0u);
    EXPECT_EQ(kept->width, 64);  // still valid after the cache let go
    EXPECT_NE(kept->buf[0], nullptr);
}

}  // namespace
}  // namespace kestrova
