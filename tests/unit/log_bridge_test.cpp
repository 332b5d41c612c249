#include "support/log_bridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "test_support.h"

namespace kestrova {
namespace {

struct KeyCase {
    const char* message;
    const char* key;
};

void PrintTo(const KeyCase& c, std::ostream* out) {
    *out << '"' << c.message << '"';
}

class RepeatKey : public testing::TestWithParam<KeyCase> {};

TEST_P(RepeatKey, NumbersAndAddressesCollapse) {
    EXPECT_EQ(repeatKey(GetParam().message), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, RepeatKey,
    testing::Values(KeyCase{"", ""}, KeyCase{"no numbers here", "no numbers here"},
                    KeyCase{"[h264 @ 0x55d0c1a2b3c0] ref 12 missing", "[h# @ #] ref # missing"},
                    KeyCase{"0X1F", "#"}, KeyCase{"0x1fz9", "#z#"},
                    KeyCase{"pts 0x", "pts #x"},  // no hex digit: just a digit run
                    KeyCase{"0xg", "#xg"}, KeyCase{"q=3.25", "q=#.#"},
                    KeyCase{"10x5", "#x#"},  // the "0" belongs to the run "10"
                    KeyCase{"0x0x1", "#x#"}, KeyCase{"00x1a", "#x#a"}));

TEST(LogBridgeLevels, FfmpegLevelsMapAtEveryBoundary) {
    const std::vector<std::pair<int, LogLevel>> cases = {
        {-8, LogLevel::Error}, {0, LogLevel::Error},    {8, LogLevel::Error},
        {16, LogLevel::Error}, {17, LogLevel::Warning}, {24, LogLevel::Warning},
        {25, LogLevel::Info},  {32, LogLevel::Info},    {33, LogLevel::Debug},
        {40, LogLevel::Debug}, {41, LogLevel::Trace},   {48, LogLevel::Trace},
        {56, LogLevel::Trace}};
    for (const auto& [ffmpegLevel, expected] : cases) {
        EXPECT_EQ(logLevelFromFfmpeg(ffmpegLevel), expected) << ffmpegLevel;
    }
}

TEST(LogBridgeLevels, ThresholdsMapToFfmpegLevels) {
    const std::vector<std::pair<int32_t, int>> cases = {{0, -8}, {1, 16}, {2, 24},  {3, 32},
                                                        {4, 40}, {5, 48}, {-1, 32}, {6, 32}};
    for (const auto& [threshold, expected] : cases) {
        EXPECT_EQ(ffmpegLevelFromThreshold(threshold), expected) << threshold;
    }
}

TEST(LogBridgeLevels, UnknownProresProfileWarningIsDropped) {
    const char* text = "[prores @ 0x1234] Unknown prores profile 9";
    EXPECT_FALSE(diagnosticLevel(24, text).has_value());
    // Only FFmpeg's warning level: the same text as an error still counts.
    EXPECT_EQ(diagnosticLevel(16, text), LogLevel::Error);
    EXPECT_EQ(diagnosticLevel(23, text), LogLevel::Warning);
    EXPECT_EQ(diagnosticLevel(24, "[prores @ 0x1234] other warning"), LogLevel::Warning);
}

TEST(LogBridgeLevels, DemotionScopeAffectsErrorsAndWarningsOnThisThreadOnly) {
    EXPECT_EQ(diagnosticLevel(16, "broken"), LogLevel::Error);
    {
        DiagnosticDemotionScope outer;
        { DiagnosticDemotionScope inner; }
        EXPECT_EQ(diagnosticLevel(16, "broken"), LogLevel::Debug);
        EXPECT_EQ(diagnosticLevel(24, "odd"), LogLevel::Debug);
        EXPECT_EQ(diagnosticLevel(32, "note"), LogLevel::Info);
        EXPECT_EQ(diagnosticLevel(48, "detail"), LogLevel::Trace);

        std::optional<LogLevel> onOtherThread;
        std::thread([&] { onOtherThread = diagnosticLevel(16, "broken"); }).join();
        EXPECT_EQ(onOtherThread, LogLevel::Error);
    }
    EXPECT_EQ(diagnosticLevel(16, "broken"), LogLevel::Error);
}

struct Line {
    LogLevel level;
    std::string text;
    bool operator==(const Line&) const = default;
};

void PrintTo(const Line& line, std::ostream* out) {
    *out << static_cast<int>(line.level) << " \"" << line.text << "\"";
}

class Suppressor : public testing::Test {
  protected:
    // Lines written without the suppressor's mutex may arrive from several threads.
    std::mutex linesMutex;
    std::vector<Line> lines;
    RepeatSuppressor suppressor{[this](LogLevel level, std::string_view text) {
        std::lock_guard<std::mutex> lock(linesMutex);
        lines.push_back({level, std::string(text)});
    }};

    void fillTableWithDistinctKeys() {
        for (size_t i = 0; i < RepeatSuppressor::kTableCapacity; ++i) {
            suppressor.report(std::string("distinct message ") + char('a' + i), LogLevel::Warning);
        }
        lines.clear();
    }
};

TEST_F(Suppressor, NumberedRepeatsWrittenAtOneToThreeAndPowersOfTen) {
    for (int i = 1; i <= 25; ++i) {
        suppressor.report("[mpeg2video @ 0xdead] ac-tex damaged at " + std::to_string(i),
                          LogLevel::Warning);
    }
    const std::vector<Line> written = {
        {LogLevel::Warning, "[mpeg2video @ 0xdead] ac-tex damaged at 1"},
        {LogLevel::Warning, "[mpeg2video @ 0xdead] ac-tex damaged at 2"},
        {LogLevel::Warning, "[mpeg2video @ 0xdead] ac-tex damaged at 3"},
        {LogLevel::Warning,
         "[mpeg2video @ 0xdead] ac-tex damaged at 10 (10th occurrence; further repeats "
         "suppressed)"}};
    EXPECT_EQ(lines, written);

    lines.clear();
    suppressor.finish();
    const std::vector<Line> summary = {
        {LogLevel::Warning,
         "(FFmpeg message seen 25 times total: [mpeg#video @ #] ac-tex damaged at #)"}};
    EXPECT_EQ(lines, summary);
}

TEST_F(Suppressor, SummaryOnlyWhereTheLastCountWentUnwritten) {
    const std::vector<std::pair<int, bool>> cases = {{1, false}, {3, false},  {4, true},
                                                     {9, true},  {10, false}, {11, true},
                                                     {99, true}, {100, false}};
    const auto text = [](size_t index) { return std::string("kind ") + char('a' + index); };
    for (size_t k = 0; k < cases.size(); ++k) {
        for (int i = 0; i < cases[k].first; ++i) {
            suppressor.report(text(k), LogLevel::Error);
        }
    }
    // The hundredth of the last kind was written with its count.
    EXPECT_EQ(lines.back().text,
              text(cases.size() - 1) + " (100th occurrence; further repeats suppressed)");
    lines.clear();
    suppressor.finish();
    std::vector<Line> expected;
    for (size_t k = 0; k < cases.size(); ++k) {
        if (cases[k].second) {
            expected.push_back({LogLevel::Error, "(FFmpeg message seen " +
                                                     std::to_string(cases[k].first) +
                                                     " times total: " + text(k) + ")"});
        }
    }
    EXPECT_EQ(lines, expected);
}

TEST_F(Suppressor, SameTextAtTwoLevelsIsTwoEntries) {
    for (int i = 0; i < 4; ++i) {
        suppressor.report("same text", LogLevel::Warning);
        suppressor.report("same text", LogLevel::Error);
    }
    EXPECT_EQ(lines.size(), 6u);
    lines.clear();
    suppressor.finish();
    const std::vector<Line> summaries = {
        {LogLevel::Warning, "(FFmpeg message seen 4 times total: same text)"},
        {LogLevel::Error, "(FFmpeg message seen 4 times total: same text)"}};
    EXPECT_EQ(lines, summaries);
}

TEST_F(Suppressor, SummaryShowsAtMostAHundredCharactersOfTheKey) {
    const std::string longText(150, 'k');
    for (int i = 0; i < 5; ++i) {
        suppressor.report(longText, LogLevel::Warning);
    }
    lines.clear();
    suppressor.finish();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "(FFmpeg message seen 5 times total: " + std::string(100, 'k') + ")");
}

TEST_F(Suppressor, FullTableFoldsBackToBackRepeatsUntilADifferentMessage) {
    fillTableWithDistinctKeys();
    for (int i = 0; i < 5; ++i) {
        suppressor.report("seventeenth 7", LogLevel::Error);
    }
    suppressor.report("eighteenth", LogLevel::Warning);
    const std::vector<Line> expected = {
        {LogLevel::Error, "seventeenth 7"},
        {LogLevel::Error, "(previous FFmpeg message repeated 4 more times)"},
        {LogLevel::Warning, "eighteenth"}};
    EXPECT_EQ(lines, expected);
}

TEST_F(Suppressor, FullTableWritesPendingRepeatsAtFinish) {
    fillTableWithDistinctKeys();
    for (int i = 0; i < 5; ++i) {
        suppressor.report("seventeenth", LogLevel::Warning);
    }
    suppressor.finish();
    const std::vector<Line> expected = {
        {LogLevel::Warning, "seventeenth"},
        {LogLevel::Warning, "(previous FFmpeg message repeated 4 more times)"}};
    EXPECT_EQ(lines, expected);
}

TEST_F(Suppressor, FullTableComparesWholeTextAndLevel) {
    fillTableWithDistinctKeys();
    suppressor.report("value 1", LogLevel::Warning);
    suppressor.report("value 1", LogLevel::Warning);
    suppressor.report("value 2", LogLevel::Warning);  // same key, different text
    suppressor.report("value 2", LogLevel::Error);    // same text, different level
    // A key already in the table at another level is not counted there.
    suppressor.report("distinct message a", LogLevel::Error);
    const std::vector<Line> expected = {
        {LogLevel::Warning, "value 1"},
        {LogLevel::Warning, "(previous FFmpeg message repeated 1 more time)"},
        {LogLevel::Warning, "value 2"},
        {LogLevel::Error, "value 2"},
        {LogLevel::Error, "distinct message a"}};
    EXPECT_EQ(lines, expected);
}

TEST_F(Suppressor, FinishStartsAFreshSession) {
    fillTableWithDistinctKeys();
    suppressor.report("overflow", LogLevel::Warning);
    suppressor.report("overflow", LogLevel::Warning);
    suppressor.finish();
    lines.clear();
    for (int i = 0; i < 4; ++i) {
        suppressor.report("distinct message a", LogLevel::Warning);
        suppressor.report("overflow", LogLevel::Warning);
    }
    // Both are counted in the emptied table again: three lines each.
    EXPECT_EQ(lines.size(), 6u);
}

TEST_F(Suppressor, CountsRepeatsFromManyThreadsExactly) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 250; ++i) {
                suppressor.report("thread " + std::to_string(t) + " packet " + std::to_string(i),
                                  LogLevel::Warning);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // 1, 2, 3, 10, 100 and 1000, whatever the interleaving.
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const Line& line) {
                                return line.text.ends_with(
                                    " (1000th occurrence; further repeats suppressed)");
                            }),
              1);
    lines.clear();
    suppressor.finish();
    EXPECT_TRUE(lines.empty());
}

void callBridge(void* context, int level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    logBridgeCallback(context, level, format, arguments);
    va_end(arguments);
}

// The bridge as FFmpeg drives it, writing into a real log file. Needs the
// FFmpeg libraries in the "ffmpeg" folder beside the test binary.
class InstalledBridge : public testing::Test {
  protected:
    void SetUp() override {
        Logger::close();
        Logger::setLevel(3);
    }
    void TearDown() override {
        uninstallLogBridge();
        Logger::close();
        Logger::setLevel(3);
    }
    bool install() {
        installLogBridge();
        return ffmpeg::FfmpegRuntime::instance().available();
    }
    int ffmpegLevel() const { return ffmpeg::FfmpegRuntime::instance().fn().av_log_get_level(); }
    std::string logText() {
        Logger::close();
        return test::readFile(dir_.path() / "Kestrova" / "logs" / "Kestrova.log");
    }

    test::TempDir dir_;
    test::ScopedEnv env_{"LOCALAPPDATA", dir_.str().c_str()};
    static AVClass probeClass() {
        AVClass probe{};
        probe.class_name = "probe";
        return probe;
    }
    const AVClass class_ = probeClass();
    const AVClass* context_ = &class_;  // what FFmpeg expects a context to start with
};

TEST_F(InstalledBridge, EveryLineCarriesTheContextPrefix) {
    if (!install()) {
        GTEST_SKIP() << "FFmpeg is not available beside the test binary";
    }
    EXPECT_EQ(ffmpegLevel(), 32);
    // A message without a newline would clear a prefix flag kept across calls.
    callBridge(&context_, 16, "first %d", 1);
    callBridge(&context_, 24, "second\r\n\n");
    callBridge(nullptr, 32, "\r\n");  // nothing left once the line end is stripped
    const std::string text = logText();
    EXPECT_NE(text.find("[ERR ] [t"), std::string::npos);
    EXPECT_NE(text.find("[WARN] [t"), std::string::npos);
    const std::string prefix = "] [probe @ 0x";
    ASSERT_NE(text.find(prefix), std::string::npos);
    EXPECT_NE(text.find(prefix, text.find(prefix) + 1), std::string::npos);
    EXPECT_NE(text.find("] first 1\n"), std::string::npos);
    EXPECT_NE(text.find("] second\n"), std::string::npos);
    EXPECT_EQ(text.find("] \n"), std::string::npos) << text;
}

TEST_F(InstalledBridge, DroppedAndDemotedMessagesNeverReachTheLog) {
    if (!install()) {
        GTEST_SKIP() << "FFmpeg is not available beside the test binary";
    }
    {
        DiagnosticDemotionScope expectingComplaints;
        callBridge(nullptr, 16, "demoted error\n");
    }
    Logger::setLevel(5);
    callBridge(nullptr, 24, "Unknown prores profile 7\n");
    callBridge(nullptr, 16, "kept error\n");
    const std::string text = logText();
    EXPECT_EQ(text.find("demoted error"), std::string::npos);
    EXPECT_EQ(text.find("prores"), std::string::npos);
    EXPECT_NE(text.find("[ERR ] [t"), std::string::npos);
    EXPECT_NE(text.find("] kept error\n"), std::string::npos);
}

TEST_F(InstalledBridge, ThresholdOffQuietsFfmpeg) {
    Logger::setLevel(0);
    if (!install()) {
        GTEST_SKIP() << "FFmpeg is not available beside the test binary";
    }
    EXPECT_EQ(ffmpegLevel(), -8);
    Logger::setLevel(5);  // FFmpeg's own level still filters first
    callBridge(nullptr, 16, "fatal\n");
    EXPECT_EQ(logText().find("fatal"), std::string::npos);
}

TEST_F(InstalledBridge, UninstallWritesTheSummaries) {
    if (!install()) {
        GTEST_SKIP() << "FFmpeg is not available beside the test binary";
    }
    for (int i = 0; i < 5; ++i) {
        callBridge(nullptr, 24, "packet %d damaged\n", i);
    }
    uninstallLogBridge();
    const std::string text = logText();
    EXPECT_NE(text.find("] packet 2 damaged\n"), std::string::npos);
    EXPECT_EQ(text.find("] packet 3 damaged\n"), std::string::npos);
    EXPECT_NE(text.find("] (FFmpeg message seen 5 times total: packet # damaged)\n"),
              std::string::npos);
}

}  // namespace
}  // namespace kestrova
