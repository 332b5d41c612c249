// Decoder selection as a user meets it: the first clip of a codec and size
// is measured and remembered in decoder-choice.cache, later processes read
// the verdict back, and a changed force setting measures again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "clip_test_support.h"
#include "host/build_identity.h"

namespace kestrova::moduletest {
namespace {

namespace fs = std::filesystem;

class DecoderChoiceTest : public ::testing::Test {
  protected:
    // One frame of the H.264 fixture (codec 27, 320x240) under `prefs`;
    // returns the log of that run.
    std::string requestFrame(const std::string& prefs) {
        fs::create_directories(appData_.path() / "Kestrova");
        std::ofstream(appData_.path() / "Kestrova" / "kestrova.prefs") << prefs;
        fs::remove(test::logFileIn(appData_));
        const ToolRun run = runTool(
            {"--appdata", appData_.str(), "frames", fixturePath("h264_closed.mkv"), "--at", "3"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return readFile(test::logFileIn(appData_));
    }
    std::vector<std::string> cacheLines() const {
        return lines(readFile(appData_.path() / "Kestrova" / "decoder-choice.cache"));
    }

    TempFolder appData_;
};

TEST_F(DecoderChoiceTest, MeasuredOnceThenReadBack) {
    const std::string first = requestFrame("logLevel=3\n");
    EXPECT_EQ(occurrences(first, "decoder selection for 320x240 h264: software "), 1) << first;
    EXPECT_EQ(occurrences(first, "decoder selection examination took "), 1) << first;
    const std::vector<std::string> written = cacheLines();
    ASSERT_EQ(written.size(), 4u);
    const std::string identity = std::string("1 ") + kVersion + " " + kPlatform + " autohw ";
    EXPECT_EQ(written[0].rfind(identity, 0), 0u) << written[0];
    if (occurrences(first, "decoder selection: using software") == 1) {
        EXPECT_EQ(written[3].rfind("27 320 240 0 0 ", 0), 0u) << written[3];
    }

    const std::string second = requestFrame("logLevel=3\n");
    EXPECT_EQ(occurrences(second, "decoder selection: loaded 1 measured verdict(s) from "), 1)
        << second;
    EXPECT_EQ(occurrences(second, "decoder selection examination"), 0) << second;
    EXPECT_EQ(cacheLines(), written);
}

TEST_F(DecoderChoiceTest, ForcingHardwareDiscardsTheVerdicts) {
    requestFrame("logLevel=3\n");
    const std::string forced = requestFrame("logLevel=3\nforceHardwareDecoding=1\n");
    EXPECT_EQ(occurrences(forced, "decoder selection: discarding "), 1) << forced;
    EXPECT_EQ(occurrences(forced, "decoder selection examination took "), 1) << forced;
    ASSERT_FALSE(cacheLines().empty());
    EXPECT_NE(cacheLines()[0].find(" forcehw "), std::string::npos) << cacheLines()[0];
}

TEST_F(DecoderChoiceTest, NothingMeasuredWithHardwareDecodingOff) {
    const std::string log = requestFrame("logLevel=3\nenableHardwareDecoding=0\n");
    EXPECT_EQ(occurrences(log, "decoder selection"), 0) << log;
    EXPECT_FALSE(fs::exists(appData_.path() / "Kestrova" / "decoder-choice.cache"));
}

}  // namespace
}  // namespace kestrova::moduletest
