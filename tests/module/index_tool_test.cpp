// kestrova-index: the accelerator file it writes is the one the importer
// loads, and random access through it gives exactly the frames that in-order
// requests give. Files whose demuxer cannot resume reading at a byte
// position get no file and a clear refusal.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "clip_test_support.h"

namespace kestrova::moduletest {
namespace {

namespace fs = std::filesystem;

// Enough frames to cross several keyframes of every fixture.
constexpr int64_t kFramesChecked = 60;

std::vector<test::FixtureEntry> videoFixtures() {
    return fixturesOfKind("video");
}

ToolRun runIndex(const std::vector<std::string>& arguments) {
    return runProgram(kIndexToolPath, arguments);
}

class IndexToolExactnessTest : public ::testing::TestWithParam<test::FixtureEntry> {};

TEST_P(IndexToolExactnessTest, ShuffledAccessThroughTheIndexIsExact) {
    const test::FixtureEntry& fixture = GetParam();
    TempFolder media, appData;
    const fs::path copy = media.path() / fixture.name;
    fs::copy_file(fixturePath(fixture.name), copy);
    const fs::path accelerator = fs::path(copy).replace_extension("kstidx");

    const ToolRun indexed = runIndex({copy.string()});
    // Containers without an index of their own are what the file is for;
    // others may be refused when their demuxer cannot resume at a byte position.
    const std::string extension = copy.extension().string();
    const bool withoutContainerIndex =
        extension == ".ts" || extension == ".mpg" || extension == ".h264";
    if (!withoutContainerIndex && indexed.exitCode == 1) {
        EXPECT_NE(indexed.err.find("cannot resume reading at a keyframe's byte position"),
                  std::string::npos)
            << indexed.err;
        EXPECT_FALSE(fs::exists(accelerator));
        return;
    }
    ASSERT_EQ(indexed.exitCode, 0) << indexed.err;
    EXPECT_NE(indexed.out.find("keyframe entries for stream"), std::string::npos) << indexed.out;
    EXPECT_NE(indexed.out.find(accelerator.string()), std::string::npos) << indexed.out;
    EXPECT_EQ(indexed.err, "") << "no progress bar unless standard error is a terminal";
    ASSERT_TRUE(fs::exists(accelerator));

    const int64_t frames = fixture.frames > 0 ? std::min(fixture.frames, kFramesChecked) : 24;
    const std::string range = "0:" + std::to_string(frames);
    const ToolRun inOrder = runTool({"--appdata", appData.str(), "frames",
                                     fixturePath(fixture.name), "--range", range, "--hash"});
    if (inOrder.exitCode == 3) {
        GTEST_SKIP() << "the importer leaves MOV and MP4 with standard codecs to the host";
    }
    ASSERT_EQ(inOrder.exitCode, 0) << inOrder.err;
    const ToolRun shuffled =
        runTool({"--appdata", appData.str(), "--log-level", "4", "frames", copy.string(), "--range",
                 range, "--hash", "--shuffle", "11"});
    ASSERT_EQ(shuffled.exitCode, 0) << shuffled.err;
    EXPECT_EQ(shuffled.out, inOrder.out);
    EXPECT_EQ(occurrences(readFile(test::logFileIn(appData)),
                          "loaded seek index from " + accelerator.string()),
              1);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, IndexToolExactnessTest, ::testing::ValuesIn(videoFixtures()),
                         [](const auto& info) { return test::safeName(info.param.name); });

TEST(IndexToolTest, OutNamesAnotherPlace) {
    TempFolder folder;
    const fs::path out = folder.path() / "elsewhere.kstidx";
    const ToolRun run = runIndex({"--out", out.string(), fixturePath("h264_closed.ts")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(out));
    EXPECT_FALSE(fs::exists(fixturePath("h264_closed.kstidx")));
}

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
    const char* message;
};

const UsageCase kUsageCases[] = {
    {"NoFile", {}, 2, "no media file given"},
    {"UnknownOption", {"--fast", "clip.ts"}, 2, "unknown option '--fast'"},
    {"StreamNotANumber", {"clip.ts", "--stream", "one"}, 2, "--stream needs a stream number"},
    {"StreamWithoutValue", {"clip.ts", "--stream"}, 2, "--stream needs a value"},
    {"TwoFiles", {"a.ts", "b.ts"}, 2, "unexpected argument 'b.ts'"},
    {"MissingFile", {"/nonexistent/clip.ts"}, 1, "cannot read /nonexistent/clip.ts"},
    {"AudioStream", {"@h264_closed.ts", "--stream", "1"}, 1, "stream 1 is not a video stream"},
    {"NoSuchStream", {"@h264_closed.ts", "--stream=9"}, 1, "stream 9 is not a video stream"},
    {"AudioOnlyFile", {"@aac.m4a"}, 1, "the file has no video stream"},
};

class IndexToolUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(IndexToolUsageTest, RefusesWithAClearMessage) {
    TempFolder folder;
    std::vector<std::string> arguments;
    for (const std::string& argument : GetParam().arguments) {
        // "@name": a private copy of a fixture, so nothing lands beside the fixtures.
        if (argument.front() == '@') {
            const fs::path copy = folder.path() / argument.substr(1);
            fs::copy_file(fixturePath(argument.substr(1)), copy);
            arguments.push_back(copy.string());
        } else {
            arguments.push_back(argument);
        }
    }
    const ToolRun run = runIndex(arguments);
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(Refusals, IndexToolUsageTest, ::testing::ValuesIn(kUsageCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrova::moduletest
