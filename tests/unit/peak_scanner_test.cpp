#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "audio/byte_rate_peaks.h"
#include "audio/peak_scanner.h"
#include "audio/peak_windows.h"
#include "containers/clip_description.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "fixtures.h"
#include "support/little_endian.h"

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

// ---- scans through the audio decoder ----

// A probed file and a decoder on one of its audio streams.
struct OpenAudio {
    ClipDescription clip;
    AudioDecoder decoder;

    bool open(const std::string& path, int audioOrdinal = 0) {
        const ProbeResult probed = clip.probe(path);
        if (probed.status != ProbeStatus::Ok ||
            clip.audioStreams().size() <= static_cast<std::size_t>(audioOrdinal)) {
            ADD_FAILURE() << path << ": " << statusName(probed.status) << " " << probed.detail;
            return false;
        }
        return decoder.open(clip, clip.audioStreams()[std::size_t(audioOrdinal)]->index, 0);
    }
};

// A mono 32-bit float WAV at 48 kHz whose samples alternate +2.5 and -2.5.
void writeLoudFloatWav(const std::string& path, uint32_t samples) {
    std::string bytes = "RIFF";
    appendLittleEndian(bytes, uint32_t{36 + samples * 4});
    bytes += "WAVEfmt ";
    appendLittleEndian(bytes, uint32_t{16});
    appendLittleEndian(bytes, uint16_t{3});  // IEEE float
    appendLittleEndian(bytes, uint16_t{1});
    appendLittleEndian(bytes, uint32_t{48000});
    appendLittleEndian(bytes, uint32_t{48000 * 4});
    appendLittleEndian(bytes, uint16_t{4});
    appendLittleEndian(bytes, uint16_t{32});
    bytes += "data";
    appendLittleEndian(bytes, samples * 4);
    for (uint32_t i = 0; i < samples; ++i) {
        appendLittleEndian(bytes, i % 2 ? -2.5f : 2.5f);
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

class PeakScannerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
    test::LogCapture log_;
};

class PeakScannerPcmTest : public PeakScannerTest,
                           public ::testing::WithParamInterface<std::string> {};

// Two seconds of 0.3 sines in stereo, whatever the sample format.
TEST_P(PeakScannerPcmTest, WholeStreamAtTwoHundredPointsPerSecond) {
    OpenAudio audio;
    ASSERT_TRUE(audio.open(test::fixturePath(GetParam())));
    PeakCache cache;
    ASSERT_TRUE(PeakScanner::buildCache(audio.decoder, 7, 200, cache));
    EXPECT_EQ(cache.streamIndex(), 7);
    EXPECT_EQ(cache.channels(), 2);
    EXPECT_EQ(cache.pointCount(), 400);
    for (int32_t c = 0; c < 2; ++c) {
        for (std::size_t i = 0; i < 400; ++i) {
            // Each window of 240 samples holds at least one full period of
            // 440 Hz (109 samples), so every point reaches the peaks.
            EXPECT_NEAR(cache.points(c)[i].maximum, 0.3, 0.01) << c << "/" << i;
            EXPECT_NEAR(cache.points(c)[i].minimum, -0.3, 0.01) << c << "/" << i;
        }
    }
    EXPECT_EQ(log_.count("PeakScanner::buildCache: built 2 ch x 400 points at 200 Hz for stream 7"),
              1);
}

INSTANTIATE_TEST_SUITE_P(Formats, PeakScannerPcmTest,
                         ::testing::Values("pcm_s16le.wav", "pcm_s24le.wav", "pcm_f32le.wav",
                                           "pcm_u8.wav", "pcm_s16be.aif"),
                         [](const auto& info) { return test::safeName(info.param); });

TEST_F(PeakScannerTest, FloatOversAreClampedToFullScale) {
    test::TempDir dir;
    const std::string path = dir.str() + "/overs.wav";
    writeLoudFloatWav(path, 4800 + 100);  // 20 full windows and a partial one
    OpenAudio audio;
    ASSERT_TRUE(audio.open(path));
    PeakCache cache;
    ASSERT_TRUE(PeakScanner::buildCache(audio.decoder, 0, 200, cache));
    ASSERT_EQ(cache.pointCount(), 21);
    for (const PeakPoint& point : cache.points(0)) {
        EXPECT_EQ(point.minimum, -1.0f);
        EXPECT_EQ(point.maximum, 1.0f);
    }
    float maxima[3], minima[3];
    float* maximaPlanes[] = {maxima};
    float* minimaPlanes[] = {minima};
    ASSERT_TRUE(PeakScanner::scanRange(audio.decoder, 19, 200, 3, 1, maximaPlanes, minimaPlanes));
    EXPECT_EQ(std::vector<float>(maxima, maxima + 3), (std::vector<float>{1, 1, 0}));
    EXPECT_EQ(std::vector<float>(minima, minima + 3), (std::vector<float>{-1, -1, 0}));
}

// A range scan gives exactly what the whole-stream cache answers for it.
TEST_F(PeakScannerTest, RangeScanMatchesTheCache) {
    OpenAudio audio;
    ASSERT_TRUE(audio.open(test::fixturePath("pcm_s16le.wav")));
    PeakCache cache;
    ASSERT_TRUE(PeakScanner::buildCache(audio.decoder, 0, 200, cache));
    struct Range {
        int64_t start;
        double rate;
        int32_t count;
    };
    for (const Range& r : {Range{0, 200, 10}, {123, 200, 40}, {50, 100, 30}, {190, 100, 20}}) {
        SCOPED_TRACE(r.start);
        std::vector<float> scanMax(std::size_t(r.count) * 2, 9), scanMin(scanMax);
        std::vector<float> cacheMax(scanMax), cacheMin(scanMax);
        const auto planes = [&r](std::vector<float>& v) {
            return std::vector<float*>{v.data(), v.data() + r.count};
        };
        auto sMax = planes(scanMax), sMin = planes(scanMin), cMax = planes(cacheMax),
             cMin = planes(cacheMin);
        ASSERT_TRUE(PeakScanner::scanRange(audio.decoder, r.start, r.rate, r.count, 2, sMax.data(),
                                           sMin.data()));
        ASSERT_TRUE(cache.query(r.start, r.rate, r.count, 2, cMax.data(), cMin.data()));
        EXPECT_EQ(scanMax, cacheMax);
        EXPECT_EQ(scanMin, cacheMin);
    }
}

TEST_F(PeakScannerTest, RangeBeyondTheStreamIsZeroAndSaysSo) {
    OpenAudio audio;
    ASSERT_TRUE(audio.open(test::fixturePath("pcm_s16le.wav")));
    std::vector<float> maxima(4, 9), minima(4, 9);
    float* maximaPlanes[] = {maxima.data(), nullptr, nullptr};
    float* minimaPlanes[] = {minima.data(), nullptr, nullptr};
    ASSERT_TRUE(PeakScanner::scanRange(audio.decoder, 500, 200, 4, 3, maximaPlanes, minimaPlanes));
    EXPECT_EQ(maxima, std::vector<float>(4, 0.0f));
    EXPECT_EQ(minima, std::vector<float>(4, 0.0f));
    EXPECT_EQ(log_.count("PeakScanner: no samples decoded at pos 120000, filling zeros"), 1);

    EXPECT_FALSE(PeakScanner::scanRange(audio.decoder, 0, 200, 0, 1, maximaPlanes, minimaPlanes));
    EXPECT_FALSE(PeakScanner::scanRange(audio.decoder, 0, 0, 4, 1, maximaPlanes, minimaPlanes));
    EXPECT_FALSE(PeakScanner::scanRange(audio.decoder, 0, 200, 4, 1, nullptr, minimaPlanes));
    AudioDecoder closed;
    PeakCache cache;
    EXPECT_FALSE(PeakScanner::scanRange(closed, 0, 200, 4, 1, maximaPlanes, minimaPlanes));
    EXPECT_FALSE(PeakScanner::buildCache(closed, 0, 200, cache));
    EXPECT_FALSE(PeakScanner::buildCache(audio.decoder, 0, 0, cache));
    EXPECT_TRUE(cache.empty());
}

// Three audio streams (stereo, mono, 5.1) from one pass; the video stream
// listed among them is left out.
TEST_F(PeakScannerTest, ApproximateBuildOfSeveralStreamsInOnePass) {
    ClipDescription clip;
    ASSERT_EQ(clip.probe(test::fixturePath("multi_2v3a.mkv")).status, ProbeStatus::Ok);
    const std::vector<ApproxPeakStream> listed = {{2, 2}, {0, 2}, {3, 1}, {4, 6}, {9, 2}};
    std::vector<PeakCache> caches;
    ASSERT_TRUE(PeakScanner::buildApproxCacheMulti(clip, listed, 200, caches));
    ASSERT_EQ(caches.size(), listed.size());
    EXPECT_TRUE(caches[1].empty());
    EXPECT_TRUE(caches[4].empty());
    for (std::size_t i : {0u, 2u, 3u}) {
        SCOPED_TRACE(i);
        const PeakCache& cache = caches[i];
        EXPECT_EQ(cache.streamIndex(), listed[i].streamIndex);
        EXPECT_EQ(cache.channels(), listed[i].channels);
        EXPECT_EQ(cache.pointsPerSecond(), 200.0f);
        EXPECT_GE(cache.pointCount(), 395);  // two seconds
        EXPECT_LE(cache.pointCount(), 420);
        float loudest = 0;
        for (int32_t c = 0; c < cache.channels(); ++c) {
            for (const PeakPoint& point : cache.points(c)) {
                EXPECT_EQ(point.minimum, -point.maximum);
                EXPECT_GE(point.maximum, 0.0f);
                EXPECT_LE(point.maximum, 1.0f);
                loudest = std::max(loudest, point.maximum);
            }
        }
        EXPECT_EQ(loudest, 1.0f);
    }
    EXPECT_EQ(log_.count("PeakScanner::buildApproxCacheMulti: 3 audio stream(s) built from ONE "
                         "demux pass"),
              1);
    EXPECT_EQ(log_.count("(approximate, demux-only)"), 3);

    // The demuxer is back at the start: a decoder reads the first samples.
    AudioDecoder decoder;
    ASSERT_TRUE(decoder.open(clip, 3, 0));
    std::vector<float> samples(480);
    float* planes[] = {samples.data()};
    EXPECT_EQ(decoder.read(0, 480, planes).samples, 480);
}

}  // namespace
}  // namespace kestrova
