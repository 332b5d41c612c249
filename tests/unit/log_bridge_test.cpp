#include "support/log_bridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "test_support.h"

namespace kestrova {
namespace {

TEST(RepeatKey, NumbersAndAddressesCollapse) {
    EXPECT_EQ(repeatKey(""), "");
    EXPECT_EQ(repeatKey("[h264 @ 0x55d0c1a2b3c0] ref 12 missing"), "[h# @ #] ref # missing");
    // "0x" makes a hex number only when a hex digit follows, even at the very
    // end; otherwise digit runs collapse on their own ("10x5": "10", "x", "5").
    EXPECT_EQ(repeatKey("0X1F 0x1fz9 0xg q=3.25 10x5 0x0x1 00x1a pts 0x"),
              "# #z# #xg q=#.# #x# #x# #x#a pts #x");
}

TEST(LogBridgeLevels, LevelsMapBothWaysAtEveryBoundary) {
    const std::pair<int, LogLevel> cases[] = {{16, LogLevel::Error},   {17, LogLevel::Warning},
                                              {24, LogLevel::Warning}, {25, LogLevel::Info},
                                              {33, LogLevel::Debug},   {41, LogLevel::Trace}};
    for (const auto& [ffmpegLevel, expected] : cases) {
        EXPECT_EQ(logLevelFromFfmpeg(ffmpegLevel), expected) << ffmpegLevel;
    }
    // Log thresholds back to FFmpeg levels; out of range counts as the default.
    const std::pair<int32_t, int> thresholds[] = {{0, -8}, {1, 16}, {5, 48}, {-1, 32}, {6, 32}};
    for (const auto& [threshold, expected] : thresholds) {
        EXPECT_EQ(ffmpegLevelFromThreshold(threshold), expected) << threshold;
    }
}

TEST(LogBridgeLevels, ProresProfileWarningDroppedAndDemotionScoped) {
    const char* text = "[prores @ 0x1234] Unknown prores profile 9";
    EXPECT_FALSE(diagnosticLevel(24, text).has_value());
    // Only FFmpeg's warning level: the same text as an error still counts.
    EXPECT_EQ(diagnosticLevel(16, text), LogLevel::Error);
    EXPECT_EQ(diagnosticLevel(24, "[prores @ 0x1234] other warning"), LogLevel::Warning);
    {  // Demotion affects errors and warnings on this thread only.
        DiagnosticDemotionScope outer;
        { DiagnosticDemotionScope inner; }
        EXPECT_EQ(diagnosticLevel(16, "broken"), LogLevel::Debug);
        EXPECT_EQ(diagnosticLevel(24, "odd"), LogLevel::Debug);
        EXPECT_EQ(diagnosticLevel(32, "note"), LogLevel::Info);

        std::optional<LogLevel> onOtherThread;
        std::thread([&] { onOtherThread = diagnosticLevel(16, "broken"); }).join();
        EXPECT_EQ(onOtherThread, LogLevel::Error);
    }
    EXPECT_EQ(diagnosticLevel(16, "broken"), LogLevel::Error);
}

using Line = std::pair<LogLevel, std::string>;
using Lines = std::vector<Line>;
constexpr LogLevel kError = LogLevel::Error;
constexpr LogLevel kWarning = LogLevel::Warning;

class Suppressor : public testing::Test {
  protected:
    // Lines written without the suppressor's mutex may arrive from several threads.
    std::mutex linesMutex;
    Lines lines;
    RepeatSuppressor suppressor{[this](LogLevel level, std::string_view text) {
        std::lock_guard<std::mutex> lock(linesMutex);
        lines.emplace_back(level, std::string(text));
    }};

    void report(const std::string& text, LogLevel level, int times = 1) {
        for (int i = 0; i < times; ++i) {
            suppressor.report(text, level);
        }
    }
    // What finish() writes.
    Lines finish() {
        lines.clear();
        suppressor.finish();
        return std::exchange(lines, {});
    }
};

TEST_F(Suppressor, SummaryOnlyWhereTheLastCountWentUnwritten) {
    const std::string longText(150, 'k');
    const std::tuple<std::string, LogLevel, int> kinds[] = {
        {"three", kError, 3},   {"four", kError, 4},   {"ten", kError, 10},
        {"eleven", kError, 11}, {"four", kWarning, 4}, {longText, kWarning, 5},
        {"cent", kError, 100}};
    for (const auto& [text, level, times] : kinds) {
        report(text, level, times);
    }
    // The first three and every power of ten are written.
    EXPECT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines.back().second, "cent (100th occurrence; further repeats suppressed)");
    // The same text at another level is another entry; a summary shows at
    // most a hundred characters of the key.
    EXPECT_EQ(
        finish(),
        (Lines{{kError, "(FFmpeg message seen 4 times total: four)"},
               {kError, "(FFmpeg message seen 11 times total: eleven)"},
               {kWarning, "(FFmpeg message seen 4 times total: four)"},
               {kWarning, "(FFmpeg message seen 5 times total: " + std::string(100, 'k') + ")"}}));
}

TEST_F(Suppressor, FullTableFoldsOnlyBackToBackRepeatsOfTheWholeText) {
    for (size_t i = 0; i < RepeatSuppressor::kTableCapacity; ++i) {
        report(std::string("distinct message ") + char('a' + i), kWarning);
    }
    lines.clear();
    report("seventeenth 7", kError, 5);
    report("value 1", kWarning, 2);
    report("value 2", kWarning);  // same key, different text
    report("value 2", kError);    // same text, different level
    // A key already in the table at another level is not counted there.
    report("distinct message a", kError);
    report("last", kWarning, 3);
    EXPECT_EQ(lines, (Lines{{kError, "seventeenth 7"},
                            {kError, "(previous FFmpeg message repeated 4 more times)"},
                            {kWarning, "value 1"},
                            {kWarning, "(previous FFmpeg message repeated 1 more time)"},
                            {kWarning, "value 2"},
                            {kError, "value 2"},
                            {kError, "distinct message a"},
                            {kWarning, "last"}}));
    EXPECT_EQ(finish(), (Lines{{kWarning, "(previous FFmpeg message repeated 2 more times)"}}));
}

TEST_F(Suppressor, CountsRepeatsFromManyThreadsExactly) {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 250; ++i) {
                report("thread " + std::to_string(t) + " packet " + std::to_string(i), kWarning);
            }
        });
    }
    threads.clear();
    // 1, 2, 3, 10, 100 and 1000, whatever the interleaving.
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const Line& line) {
                                return line.second.ends_with(
                                    " (1000th occurrence; further repeats suppressed)");
                            }),
              1);
    EXPECT_TRUE(finish().empty());
}

void callBridge(void* context, int level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    logBridgeCallback(context, level, format, arguments);
    va_end(arguments);
}

// The bridge as FFmpeg drives it, writing into a real log file.
TEST(InstalledBridge, WritesPrefixedLinesAndTheSummariesAtUninstall) {
    const ffmpeg::FfmpegRuntime& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        GTEST_SKIP() << "FFmpeg is not available beside the test binary";
    }
    const test::TempDir dir;
    const test::ScopedEnv env("LOCALAPPDATA", dir.str().c_str());
    AVClass probe{};
    probe.class_name = "probe";
    const AVClass* context = &probe;  // what FFmpeg expects a context to start with
    Logger::close();

    Logger::setLevel(3);
    installLogBridge();
    EXPECT_EQ(runtime.fn().av_log_get_level(), 32);
    // A message without a newline would clear a prefix flag kept across calls.
    callBridge(&context, 16, "first %d", 1);
    callBridge(&context, 24, "second\r\n\n");
    callBridge(nullptr, 32, "\r\n");  // nothing left once the line end is stripped
    Logger::setLevel(5);
    for (int i = 0; i < 5; ++i) {
        callBridge(nullptr, 24, "packet %d damaged\n", i);
    }
    uninstallLogBridge();
    Logger::close();
    Logger::setLevel(3);

    const std::string text = test::readFile(test::logFileIn(dir));
    for (const char* present :
         {"[ERR ] [t", "[WARN] [t", "] first 1\n", "] second\n", "] packet 2 damaged\n",
          "] (FFmpeg message seen 5 times total: packet # damaged)\n"}) {
        EXPECT_NE(text.find(present), std::string::npos) << present;
    }
    for (const char* absent : {"] \n", "] packet 3 damaged\n"}) {
        EXPECT_EQ(text.find(absent), std::string::npos) << absent << "\n" << text;
    }
    const std::size_t prefix = text.find("] [probe @ 0x");
    EXPECT_NE(prefix, std::string::npos);
    EXPECT_NE(text.find("] [probe @ 0x", prefix + 1), std::string::npos);
}

}  // namespace
}  // namespace kestrova
