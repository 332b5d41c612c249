#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "audio/byte_rate_peaks.h"
#include "audio/peak_windows.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace kestrova {
namespace {

TEST(PeakWindowTest, SamplesPerPointRoundHalvesAway) {
    struct Case {
        double sampleRate, pointsPerSecond;
        int64_t window;
    };
    for (const Case& c : {Case{48000, 200, 240},
                          {44100, 200, 221},
                          {22050, 200, 110},
                          {441, 2, 221},
                          {48000, 96000, 1},
                          {48000, 1e30, 1},
                          {48000, std::nan(""), 1},
                          {48000, 0.0, int64_t{1} << 53}}) {
        EXPECT_EQ(samplesPerWindow(c.sampleRate, c.pointsPerSecond), c.window)
            << c.sampleRate << " / " << c.pointsPerSecond;
    }
    EXPECT_EQ(firstSampleOfPoint(10, 48000, 200), 2400);
    EXPECT_EQ(firstSampleOfPoint(3, 44100, 200), 661);  // 661.5 truncated
    EXPECT_EQ(firstSampleOfPoint(-3, 44100, 200), 0);
    EXPECT_EQ(firstSampleOfPoint(int64_t{1} << 62, 48000, 1e-300), int64_t{1} << 53);
}

// Folding is the same whatever the block boundaries: windows carry over.
TEST(PeakWindowTest, FoldsAcrossBlocksAndClampsOvers) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> left = {0.5f, -0.2f, 0.1f, 2.0f, nan, -3.0f, 0.25f};
    const std::vector<float> right = {0, 0, 0, 0.3f, 0.3f, 0.3f, -0.5f};
    for (int64_t split : {0, 1, 2, 3, 5, 7}) {
        SCOPED_TRACE(split);
        PeakWindowFolder folder(2, 3);
        std::vector<std::vector<PeakPoint>> got;
        const PeakEmitter emit = [&got](const std::vector<PeakPoint>& point) {
            got.push_back(point);
        };
        const float* first[] = {left.data(), right.data()};
        const float* second[] = {left.data() + split, right.data() + split};
        folder.fold(first, split, emit);
        folder.fold(second, 7 - split, emit);
        ASSERT_EQ(got.size(), 2u);
        folder.finish(emit);
        ASSERT_EQ(got.size(), 3u) << "the partial window of one sample";
        const PeakPoint expected[3][2] = {{{-0.2f, 0.5f}, {0, 0}},
                                          {{-1.0f, 1.0f}, {0.3f, 0.3f}},  // NaN skipped
                                          {{0.25f, 0.25f}, {-0.5f, -0.5f}}};
        for (std::size_t p = 0; p < 3; ++p) {
            for (std::size_t c = 0; c < 2; ++c) {
                EXPECT_EQ(got[p][c].minimum, expected[p][c].minimum) << p << "/" << c;
                EXPECT_EQ(got[p][c].maximum, expected[p][c].maximum) << p << "/" << c;
            }
        }
        folder.finish(emit);
        EXPECT_EQ(got.size(), 3u) << "nothing left to finish";
    }
}

// A stand-in stream of `length` samples per channel: sample n of channel c
// is (n % 100) / 100 - c. Records every read.
struct FakeStream {
    int64_t length;
    std::vector<std::pair<int64_t, int64_t>> reads;
    int64_t deliverAtMost = std::numeric_limits<int64_t>::max();

    SampleReader reader(int32_t channels) {
        return [this, channels](int64_t start, int64_t count, float* const* planes) {
            reads.emplace_back(start, count);
            const int64_t got =
                std::min({count, std::max<int64_t>(0, length - start), deliverAtMost});
            for (int32_t c = 0; c < channels; ++c) {
                for (int64_t i = 0; i < count; ++i) {
                    planes[c][i] = i < got ? float((start + i) % 100) / 100 - float(c) : 0.0f;
                }
            }
            return got;
        };
    }
};

struct FoldCase {
    const char* name;
    int64_t length, window, first, limit, block;
    int64_t points;       // points emitted
    int64_t reads;        // reads made
    int64_t emptyReadAt;  // -1: every read delivered something
};

class FoldStreamTest : public ::testing::TestWithParam<FoldCase> {};

TEST_P(FoldStreamTest, ReadsUntilTheLimitOrAShortRead) {
    const FoldCase& c = GetParam();
    FakeStream stream{c.length, {}};
    PeakWindowFolder folder(2, c.window);
    int64_t points = 0;
    const FoldRun run = foldStream(stream.reader(2), 2, c.first, c.limit, c.block, folder,
                                   [&points](const std::vector<PeakPoint>& point) {
                                       ASSERT_EQ(point.size(), 2u);
                                       ++points;
                                   });
    EXPECT_EQ(points, c.points);
    EXPECT_EQ(static_cast<int64_t>(stream.reads.size()), c.reads);
    EXPECT_EQ(run.emptyReadAt, c.emptyReadAt);
    ASSERT_FALSE(stream.reads.empty());
    EXPECT_EQ(stream.reads.front().first, c.first);
    for (std::size_t i = 1; i < stream.reads.size(); ++i) {
        EXPECT_EQ(stream.reads[i].first, stream.reads[i - 1].first + stream.reads[i - 1].second)
            << "reads follow each other";
    }
}

constexpr int64_t kAll = std::numeric_limits<int64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Streams, FoldStreamTest,
    ::testing::Values(
        // 2 s at 48 kHz, 200 points per second, blocks of 256 windows: the
        // second read comes up short and ends the scan.
        FoldCase{"two_seconds_48k", 96000, 240, 0, kAll, 240 * 256, 400, 2, -1},
        FoldCase{"partial_last_window", 1000, 240, 0, kAll, 240 * 256, 5, 1, -1},
        FoldCase{"exact_end_needs_an_empty_read", 480, 240, 0, kAll, 240, 2, 3, 480},
        FoldCase{"range_stops_at_limit", 96000, 240, 2400, 240 * 10, 240 * 64, 10, 1, -1},
        FoldCase{"range_in_small_blocks", 96000, 240, 0, 240 * 10, 240 * 3, 10, 4, -1},
        FoldCase{"range_past_the_end", 96000, 240, 96000, 2400, 240 * 64, 0, 1, 96000},
        FoldCase{"range_crossing_the_end", 1000, 240, 900, 2400, 240 * 64, 1, 1, -1}),
    [](const ::testing::TestParamInfo<FoldCase>& info) { return std::string(info.param.name); });

TEST(FoldStreamValuesTest, PointsFollowTheSamplesAcrossReads) {
    FakeStream stream{1000, {}};
    PeakWindowFolder folder(2, 150);
    std::vector<std::vector<PeakPoint>> got;
    foldStream(stream.reader(2), 2, 0, kAll, 64, folder,
               [&got](const std::vector<PeakPoint>& point) { got.push_back(point); });
    ASSERT_EQ(got.size(), 7u);  // six windows of 150 and one of 100
    // Window 1 holds samples 150..299: values 0.5..0.99, then 0..0.99.
    EXPECT_FLOAT_EQ(got[1][0].minimum, 0.0f);
    EXPECT_FLOAT_EQ(got[1][0].maximum, 0.99f);
    EXPECT_FLOAT_EQ(got[1][1].minimum, -1.0f);
    // The last window, samples 900..999.
    EXPECT_FLOAT_EQ(got[6][0].minimum, 0.0f);
    EXPECT_NEAR(got[6][1].maximum, -0.01f, 1e-6);
}

// ---- approximate peaks from packet sizes ----

// 200 points per second in a 1/48000 time base: windows of 240 ticks.
constexpr int64_t kWindow = 240;
constexpr int64_t kMany = 1'000'000;

std::vector<float> amplitudes(const ByteRatePeaks& peaks) {
    std::vector<float> out;
    for (const PeakPoint& point : peaks.points()) {
        EXPECT_EQ(point.minimum, -point.maximum);
        out.push_back(point.maximum);
    }
    return out;
}

TEST(ByteRatePeaksTest, PacketRateCoversEveryWindowItOverlaps) {
    ByteRatePeaks peaks(kWindow, 0, kMany);
    peaks.add(0, AV_NOPTS_VALUE, 1024, 4000);  // windows 0..4 at 3.90625 bytes per tick
    EXPECT_EQ(peaks.loudest(), 3.90625);
    EXPECT_EQ(amplitudes(peaks), std::vector<float>(5, 1.0f));
    peaks.add(1024, AV_NOPTS_VALUE, 1024, 2000);  // windows 4..8 at half the rate
    EXPECT_EQ(peaks.windows(), 9);
    EXPECT_EQ(amplitudes(peaks), (std::vector<float>{1, 1, 1, 1, 1, 0.5f, 0.5f, 0.5f, 0.5f}));
}

TEST(ByteRatePeaksTest, PlacementAndDegenerateInputs) {
    struct Case {
        const char* name;
        int64_t pts, dts, duration, size;
        std::vector<float> expected;
    };
    // Each case follows one loud packet of rate 2 over window 0; the stream
    // starts at tick 1000.
    const Case cases[] = {
        {"pts_placed_after_start", 1000 + 480, AV_NOPTS_VALUE, 240, 240, {1, 0, 0.5f}},
        {"dts_when_no_pts", AV_NOPTS_VALUE, 1000 + 240, 240, 240, {1, 0.5f}},
        {"no_duration_is_one_window", 1000 + 480, AV_NOPTS_VALUE, 0, 240, {1, 0, 0.5f}},
        {"empty_packet_ignored", 1000 + 480, AV_NOPTS_VALUE, 240, 0, {1}},
        {"long_before_start_ignored", 0, AV_NOPTS_VALUE, 240, 240, {1}},
        {"overflowing_timestamp_ignored", INT64_MIN + 1, AV_NOPTS_VALUE, 240, 240, {1}},
        {"quieter_overlap_keeps_louder", 1000, AV_NOPTS_VALUE, 480, 240, {1, 0.25f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteRatePeaks peaks(kWindow, 1000, kMany);
        peaks.add(1000, AV_NOPTS_VALUE, 120, 240);
        peaks.add(c.pts, c.dts, c.duration, c.size);
        EXPECT_EQ(amplitudes(peaks), c.expected);
        EXPECT_FALSE(peaks.truncated());
    }
}

TEST(ByteRatePeaksTest, PacketWithoutTimestampsStartsAtTickZero) {
    ByteRatePeaks peaks(kWindow, 0, kMany);
    peaks.add(AV_NOPTS_VALUE, AV_NOPTS_VALUE, 240, 480);
    peaks.add(240, AV_NOPTS_VALUE, 240, 240);
    EXPECT_EQ(amplitudes(peaks), (std::vector<float>{1, 0.5f}));
}

TEST(ByteRatePeaksTest, WindowsBeyondTheLimitAreDropped) {
    ByteRatePeaks peaks(kWindow, 0, 10);
    peaks.add(8 * kWindow, AV_NOPTS_VALUE, 4 * kWindow, 100);  // windows 8..11
    peaks.add(20 * kWindow, AV_NOPTS_VALUE, kWindow, 100000);  // wholly beyond
    EXPECT_TRUE(peaks.truncated());
    EXPECT_EQ(peaks.windows(), 10);
    EXPECT_EQ(peaks.points()[9].maximum, 1.0f);
}

TEST(ByteRatePeaksTest, NoPacketsNoPoints) {
    ByteRatePeaks peaks(kWindow, 0, kMany);
    EXPECT_EQ(peaks.windows(), 0);
    EXPECT_TRUE(peaks.points().empty());
}

}  // namespace
}  // namespace kestrova
