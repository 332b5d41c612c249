#include "video/field_probe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ffmpeg/ffmpeg_ptr.h"
#include "fixtures.h"
#include "test_support.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

// `interlaced` of `count` samples are interlaced, the first `topFirst` of
// those top field first; repeat flags follow `repeats` cyclically.
std::vector<FieldProbeSample> makeSamples(int count, int interlaced, int topFirst,
                                          const std::vector<int>& repeats = {}) {
    std::vector<FieldProbeSample> samples(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        samples[i].interlaced = i < interlaced;
        samples[i].topFieldFirst = i < topFirst;
        if (!repeats.empty()) {
            samples[i].repeatPict = repeats[static_cast<std::size_t>(i) % repeats.size()];
        }
    }
    return samples;
}

struct ClassifyCase {
    const char* name;
    std::vector<FieldProbeSample> samples;
    FieldOrder order;
    bool uncertain;
    int32_t cadence;
};

class FieldClassifyTest : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(FieldClassifyTest, OrderCertaintyAndCadence) {
    const ClassifyCase& c = GetParam();
    const FieldProbeResult result = classifyFieldSamples(c.samples);
    EXPECT_EQ(result.fieldOrder, c.order);
    EXPECT_EQ(result.uncertain, c.uncertain);
    EXPECT_EQ(result.cadence, c.cadence);
    EXPECT_EQ(result.pulldown, c.cadence != 0);
    EXPECT_EQ(result.sampleCount, static_cast<int32_t>(c.samples.size()));
    EXPECT_EQ(result.interlacedCount + result.progressiveCount, result.sampleCount);
    EXPECT_EQ(result.topFirstCount + result.bottomFirstCount, result.interlacedCount);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, FieldClassifyTest,
    ::testing::Values(
        ClassifyCase{"AllTopFirst", makeSamples(30, 30, 30), FieldOrder::UpperFirst, false, 0},
        ClassifyCase{"AllBottomFirst", makeSamples(30, 30, 0), FieldOrder::LowerFirst, false, 0},
        ClassifyCase{"TwoThirdsInterlaced", makeSamples(30, 20, 20), FieldOrder::Progressive, true,
                     0},
        ClassifyCase{"FewInterlaced", makeSamples(30, 7, 7), FieldOrder::Progressive, false, 0},
        ClassifyCase{"EvenSplit", makeSamples(24, 24, 12), FieldOrder::UpperFirst, true, 0},
        ClassifyCase{"Period5", makeSamples(30, 0, 0, {0, 0, 1, 0, 1}), FieldOrder::Progressive,
                     false, 1},
        ClassifyCase{"Period4", makeSamples(24, 0, 0, {1, 0, 0, 1}), FieldOrder::Progressive, false,
                     2},
        ClassifyCase{"Period4Shifted", makeSamples(24, 0, 0, {1, 1, 0, 0}), FieldOrder::Progressive,
                     false, 2},
        ClassifyCase{"Period5TooShort", makeSamples(9, 0, 0, {0, 0, 1, 0, 1}),
                     FieldOrder::Progressive, false, 0},
        ClassifyCase{"RepeatsWithoutPattern", makeSamples(30, 0, 0, {1, 0, 1, 1, 0, 0, 0, 1, 0, 1}),
                     FieldOrder::Progressive, false, 0}),
    [](const ::testing::TestParamInfo<ClassifyCase>& info) { return info.param.name; });

TEST(FieldClassifyEmptyTest, NoSamplesIsTheFailureResult) {
    const FieldProbeResult result = classifyFieldSamples({});
    EXPECT_EQ(result.fieldOrder, FieldOrder::Unknown);
    EXPECT_TRUE(result.uncertain);
    EXPECT_EQ(result.sampleCount, 0);
    EXPECT_EQ(result.cadence, 0);
}

// The demuxer's choice of video stream, -1 when there is none.
int videoStreamOf(const std::string& path) {
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    AVFormatContext* raw = nullptr;
    if (fn.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        return -1;
    }
    ffmpeg::FormatContextPtr format(raw);
    if (fn.avformat_find_stream_info(format.get(), nullptr) < 0) {
        return -1;
    }
    return fn.av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
}

class FieldProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ffmpeg::FfmpegRuntime::instance().available()) {
            GTEST_SKIP() << "FFmpeg runtime not available";
        }
        FieldProbe::clearMemo();
    }
    void TearDown() override { FieldProbe::clearMemo(); }
    int memoLinesFor(const std::string& path, int stream) {
        return log_.count("FieldProbe: served stream " + std::to_string(stream) + " of " + path +
                          " from the probe memo");
    }

    test::TempDir dir_;
    test::LogCapture log_;
};

struct FixtureCase {
    const char* file;
    FieldOrder order;
};

class FieldProbeFixtureTest : public FieldProbeTest,
                              public ::testing::WithParamInterface<FixtureCase> {};

TEST_P(FieldProbeFixtureTest, DecodedFlagsGiveTheFieldOrder) {
    const std::string path = test::fixturePath(GetParam().file);
    if (!fs::exists(path)) {
        GTEST_SKIP() << "fixture missing: " << path;
    }
    const int stream = videoStreamOf(path);
    ASSERT_GE(stream, 0);
    const FieldProbeResult result = FieldProbe::probe(path, stream, 30);
    EXPECT_EQ(result.fieldOrder, GetParam().order);
    EXPECT_FALSE(result.uncertain);
    EXPECT_GT(result.sampleCount, 0);
    EXPECT_LE(result.sampleCount, 30);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FieldProbeFixtureTest,
                         ::testing::Values(FixtureCase{"mpeg2_tff.ts", FieldOrder::UpperFirst},
                                           FixtureCase{"h264_closed.mkv", FieldOrder::Progressive}),
                         [](const ::testing::TestParamInfo<FixtureCase>& info) {
                             return std::string(info.param.file).substr(0, 4);
                         });

TEST_F(FieldProbeTest, MemoAnswersUntilTheFileChanges) {
    const std::string source = test::fixturePath("mpeg2_tff.ts");
    if (!fs::exists(source)) {
        GTEST_SKIP() << "fixture missing: " << source;
    }
    const fs::path copy = dir_.path() / "memo.ts";
    fs::copy_file(source, copy);
    const std::string path = copy.string();
    const int stream = videoStreamOf(path);
    ASSERT_GE(stream, 0);

    const FieldProbeResult first = FieldProbe::probe(path, stream, 20);
    ASSERT_GT(first.sampleCount, 0);
    EXPECT_EQ(memoLinesFor(path, stream), 0);

    const FieldProbeResult second = FieldProbe::probe(path, stream, 20);
    EXPECT_EQ(second.fieldOrder, first.fieldOrder);
    EXPECT_EQ(second.sampleCount, first.sampleCount);
    EXPECT_EQ(memoLinesFor(path, stream), 1);

    // A new modification time is new content as far as the memo knows.
    fs::last_write_time(copy, fs::last_write_time(copy) + std::chrono::seconds(30));
    const FieldProbeResult third = FieldProbe::probe(path, stream, 20);
    EXPECT_EQ(third.fieldOrder, first.fieldOrder);
    EXPECT_EQ(memoLinesFor(path, stream), 1);
}

TEST_F(FieldProbeTest, FailuresAreNotRemembered) {
    const fs::path junk = dir_.path() / "junk.ts";
    std::ofstream(junk, std::ios::binary) << std::string(4096, '\x5a');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const FieldProbeResult result = FieldProbe::probe(junk.string(), 0, 10);
        EXPECT_EQ(result.fieldOrder, FieldOrder::Unknown);
        EXPECT_EQ(result.sampleCount, 0);
    }
    EXPECT_EQ(memoLinesFor(junk.string(), 0), 0);
    EXPECT_EQ(FieldProbe::probe("", 0, 10).sampleCount, 0);
}

}  // namespace
}  // namespace kestrova
