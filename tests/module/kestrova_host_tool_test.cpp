// The kestrova-host program, run as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <ostream>

#include "module_test_support.h"

namespace kestrova::moduletest {
namespace {

// --log-level rewrites only that line of the preferences before the run.
TEST(KestrovaHostToolTest, FormatsListsOneLinePerFamilyAtTheLogLevelAsked) {
    TempFolder appData;
    std::filesystem::create_directories(appData.path() / "Kestrova");
    const std::filesystem::path prefs = appData.path() / "Kestrova" / "kestrova.prefs";
    std::ofstream(prefs, std::ios::binary) << "frameCacheMiB=256\n logLevel = 1 # quiet\n# note\n";
    const ToolRun run =
        runTool({"--appdata", appData.path().string(), "--log-level", "4", "formats"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> rows = lines(run.out);
    ASSERT_GE(rows.size(), 120u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string& row = rows[i];
        EXPECT_EQ(row.rfind(std::to_string(i) + "\tK", 0), 0u) << row;
        EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 4) << row;
        EXPECT_NE(row.find(" (Kestrova)\t"), std::string::npos) << row;
    }
    EXPECT_EQ(readFile(prefs), "frameCacheMiB=256\n# note\nlogLevel=4\n");
    EXPECT_NE(readFile(test::logFileIn(appData)).find("[DBG ]"), std::string::npos);
}

TEST(KestrovaHostToolTest, FormatsWithoutFfmpegExitsTwoAndSaysWhy) {
    std::string error;
    auto copy = hostsim::ModuleCopy::create(kModulePath, hostsim::FfmpegFolder::Missing, error);
    ASSERT_NE(copy, nullptr) << error;
    TempFolder appData;
    const ToolRun run = runTool(
        {"--module", copy->modulePath().string(), "--appdata", appData.path().string(), "formats"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("imInit answered 5"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("FFmpeg unavailable (NotLocated)"), std::string::npos) << run.err;
}

TEST(KestrovaHostToolTest, ReportPrintsThePathAndTheReport) {
    TempFolder appData;
    const ToolRun run = runTool({"report", "--appdata", appData.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::filesystem::path report = appData.path() / "Kestrova" / "SUPPORTED-CODECS.md";
    const std::string contents = readFile(report);
    ASSERT_FALSE(contents.empty());
    EXPECT_EQ(lines(contents).front(), "# Kestrova - supported formats on this system");
    EXPECT_EQ(run.out, report.string() + "\n" + contents);
}

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
    const char* expected;  // in standard output for 0, standard error otherwise
};
void PrintTo(const UsageCase& c, std::ostream* out) {
    *out << c.name;
}

class KestrovaHostUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(KestrovaHostUsageTest, AnswersWithoutStartingTheImporter) {
    const ToolRun run = runTool(GetParam().arguments);
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << run.out << run.err;
    const std::string& shown = GetParam().exitCode == 0 ? run.out : run.err;
    EXPECT_NE(shown.find(GetParam().expected), std::string::npos) << shown;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KestrovaHostUsageTest,
    ::testing::Values(
        UsageCase{"CommandHelp", {"report", "--help"}, 0, "Usage: kestrova-host [options] report"},
        UsageCase{"NoCommand", {}, 1, "no command given"},
        UsageCase{"UnknownOption", {"formats", "--fast"}, 1, "unknown option --fast"},
        UsageCase{"LogLevelOutOfRange", {"--log-level", "9", "formats"}, 1, "from 0 to 5"},
        UsageCase{"RangeBackwards", {"frames", "x", "--range", "5:2"}, 1, "A < B"},
        UsageCase{"AtAndRange", {"frames", "x", "--at", "1", "--range", "0:2"}, 1, "not both"},
        // For audio --range is START:COUNT, so a start beyond the count is fine.
        UsageCase{"AudioRangeWithoutCount", {"--range", "5:0", "audio", "x"}, 1, "COUNT > 0"},
        UsageCase{"AudioRangeAndSequential",
                  {"audio", "x", "--range", "9:2", "--sequential"},
                  1,
                  "not both"},
        UsageCase{"AudioChunkOverTheLimit",
                  {"audio", "x", "--chunk", "268435457"},
                  1,
                  "from 1 to 268435456"},
        UsageCase{"PeakRateNotPositive", {"peaks", "x", "--rate", "0"}, 1, "above 0"},
        UsageCase{"PeaksHelp", {"help", "peaks"}, 0, "Usage: kestrova-host [options] peaks FILE"}));

}  // namespace
}  // namespace kestrova::moduletest
