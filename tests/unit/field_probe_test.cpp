#include "video/field_probe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
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

TEST(FieldClassifyTest, OrderCertaintyAndCadence) {
    using O = FieldOrder;
    const struct {
        const char* name;
        std::vector<FieldProbeSample> samples;
        FieldOrder order;
        bool uncertain;
        int32_t cadence;
    } cases[] = {
        {"Empty", {}, O::Unknown, true, 0},
        {"AllTopFirst", makeSamples(30, 30, 30), O::UpperFirst, false, 0},
        {"AllBottomFirst", makeSamples(30, 30, 0), O::LowerFirst, false, 0},
        {"TwoThirdsInterlaced", makeSamples(30, 20, 20), O::Progressive, true, 0},
        {"FewInterlaced", makeSamples(30, 7, 7), O::Progressive, false, 0},
        {"EvenSplit", makeSamples(24, 24, 12), O::UpperFirst, true, 0},
        {"Period5", makeSamples(30, 0, 0, {0, 0, 1, 0, 1}), O::Progressive, false, 1},
        {"Period4", makeSamples(24, 0, 0, {1, 0, 0, 1}), O::Progressive, false, 2},
        {"Period5TooShort", makeSamples(9, 0, 0, {0, 0, 1, 0, 1}), O::Progressive, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FieldProbeResult result = classifyFieldSamples(c.samples);
        EXPECT_EQ(result.fieldOrder, c.order);
        EXPECT_EQ(result.uncertain, c.uncertain);
        EXPECT_EQ(result.cadence, c.cadence);
        EXPECT_EQ(result.pulldown, c.cadence != 0);
        EXPECT_EQ(result.sampleCount, static_cast<int32_t>(c.samples.size()));
        EXPECT_EQ(result.interlacedCount + result.progressiveCount, result.sampleCount);
        EXPECT_EQ(result.topFirstCount + result.bottomFirstCount, result.interlacedCount);
    }
}

class FieldProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available());
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

TEST_F(FieldProbeTest, MemoAnswersUntilTheFileChanges) {
    const fs::path copy = dir_.path() / "memo.ts";
    fs::copy_file(test::fixturePath("mpeg2_tff.ts"), copy);
    const std::string path = copy.string();
    const FieldProbeResult first = FieldProbe::probe(path, 0, 20);  // stream 0 is the video
    ASSERT_GT(first.sampleCount, 0);
    EXPECT_EQ(memoLinesFor(path, 0), 0);
    EXPECT_EQ(FieldProbe::probe(path, 0, 20).sampleCount, first.sampleCount);
    EXPECT_EQ(memoLinesFor(path, 0), 1);
    // A new modification time is new content as far as the memo knows.
    fs::last_write_time(copy, fs::last_write_time(copy) + std::chrono::seconds(30));
    EXPECT_EQ(FieldProbe::probe(path, 0, 20).fieldOrder, first.fieldOrder);
    EXPECT_EQ(memoLinesFor(path, 0), 1);
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
