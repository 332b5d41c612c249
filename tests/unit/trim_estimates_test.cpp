#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "fileops/keyframe_snap.h"
#include "fileops/remux_table.h"
#include "fileops/size_estimate.h"

namespace kestrova::fileops {
namespace {

// Ten seconds kept, in host units of 1/25 s.
SizeInputs tenSeconds() {
    SizeInputs inputs;
    inputs.duration = 250;
    inputs.scale = 25;
    inputs.sampleSize = 1;
    inputs.fileSize = 10'000'000;
    inputs.durationMicros = 100'000'000;
    return inputs;
}

TEST(SizeEstimate, UsesTheContainerBitRateFirst) {
    SizeInputs inputs = tenSeconds();
    inputs.containerBitRate = 8'000'000;
    inputs.streamBitRates = {1'000'000};
    const SizeEstimate estimate = estimateTrimmedSize(inputs);
    EXPECT_EQ(estimate.bitRate, 8'000'000);
    EXPECT_EQ(estimate.bytes, 10'000'000);
    EXPECT_DOUBLE_EQ(estimate.seconds, 10.0);
}

TEST(SizeEstimate, FallsBackToThePositiveStreamRates) {
    SizeInputs inputs = tenSeconds();
    inputs.streamBitRates = {3'000'000, -5, 0, 1'000'000};
    EXPECT_EQ(estimateTrimmedSize(inputs).bytes, 5'000'000);
}

TEST(SizeEstimate, FallsBackToSizeOverDuration) {
    // 10 MB over 100 s is 800 kbit/s: ten seconds of it are 1 MB.
    EXPECT_EQ(estimateTrimmedSize(tenSeconds()).bytes, 1'000'000);
}

TEST(SizeEstimate, WithoutAnyRateAnswersTheWholeFile) {
    SizeInputs inputs = tenSeconds();
    inputs.durationMicros = 0;
    EXPECT_EQ(estimateTrimmedSize(inputs).bytes, 10'000'000);
    inputs.fileSize.reset();
    EXPECT_EQ(estimateTrimmedSize(inputs).bytes, 0);
}

TEST(SizeEstimate, AnUnusableHostTimeBaseKeepsNothing) {
    SizeInputs inputs = tenSeconds();
    inputs.containerBitRate = 8'000'000;
    inputs.scale = 0;
    EXPECT_EQ(estimateTrimmedSize(inputs).bytes, 0);
}

TEST(SizeEstimate, HugeNumbersFromAFileClampInsteadOfOverflowing) {
    SizeInputs inputs = tenSeconds();
    inputs.containerBitRate = std::numeric_limits<int64_t>::max();
    inputs.duration = std::numeric_limits<int32_t>::max();
    inputs.scale = 1;
    inputs.sampleSize = std::numeric_limits<int32_t>::max();
    EXPECT_GT(estimateTrimmedSize(inputs).bytes, 0);

    SizeInputs rates = tenSeconds();
    rates.streamBitRates = {std::numeric_limits<int64_t>::max(),
                            std::numeric_limits<int64_t>::max()};
    EXPECT_GT(estimateTrimmedSize(rates).bytes, 0);
}

TEST(KeyframeSnap, MovesTheInPointBackToTheKeyframeAndKeepsTheOutPoint) {
    const std::vector<int64_t> keyframes = {0, 48, 96, 144};
    const TrimSpan span = snapToKeyframe(keyframes, {100, 50});
    EXPECT_EQ(span.in, 96);
    EXPECT_EQ(span.duration, 54);
    const TrimSpan onKeyframe = snapToKeyframe(keyframes, {144, 10});
    EXPECT_EQ(onKeyframe.in, 144);
    EXPECT_EQ(onKeyframe.duration, 10);
}

TEST(KeyframeSnap, NeverMovesTheInPointForward) {
    // The first keyframe comes after the in point: the request stands.
    const TrimSpan span = snapToKeyframe({10, 20}, {4, 8});
    EXPECT_EQ(span.in, 4);
    EXPECT_EQ(span.duration, 8);
    EXPECT_EQ(snapToKeyframe({}, {33, 7}).in, 33);
}

TEST(KeyframeSnap, ALongerDurationSaturates) {
    const TrimSpan span = snapToKeyframe(
        {0}, {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()});
    EXPECT_EQ(span.in, 0);
    EXPECT_EQ(span.duration, std::numeric_limits<int32_t>::max());
}

TEST(RemuxTable, MatchesWholeDemuxerNamesOnly) {
    EXPECT_STREQ(muxerForDemuxer("matroska,webm"), "matroska");
    EXPECT_STREQ(muxerForDemuxer("mov,mp4,m4a,3gp,3g2,mj2"), "mov");
    EXPECT_EQ(muxerForDemuxer("matroska"), nullptr);
    EXPECT_EQ(muxerForDemuxer("wav"), nullptr);
    EXPECT_EQ(muxerForDemuxer(""), nullptr);
}

TEST(RemuxTable, IsoMediaIsWrittenAsIsoMediaAndQuickTimeAsQuickTime) {
    constexpr const char* kIso = "mov,mp4,m4a,3gp,3g2,mj2";
    EXPECT_STREQ(trimMuxerFor(kIso, "isom"), "mp4");
    EXPECT_STREQ(trimMuxerFor(kIso, "qt  "), "mov");
    EXPECT_STREQ(trimMuxerFor(kIso, ""), "mov");
    EXPECT_STREQ(trimMuxerFor("matroska,webm", "isom"), "matroska");
    EXPECT_EQ(trimMuxerFor("wav", "isom"), nullptr);
}

}  // namespace
}  // namespace kestrova::fileops
