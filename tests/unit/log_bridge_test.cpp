#include "support/log_bridge.h"

#include <gtest/gtest.h>

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

using enum LogLevel;

TEST(RepeatKey, NumbersAndAddressesCollapse) {
    EXPECT_EQ(repeatKey("[h264 @ 0x55d0c1a2b3c0] ref 12"), "[h# @ #] ref #");
    // "0x" makes a hex number only when a hex digit follows, even at the very
    // end; otherwise digit runs collapse on their own ("10x5": "10", "x", "5").
    EXPECT_EQ(repeatKey("0X1F 0x1fz9 0xg q=3.25 10x5 0x0x1 00x1a pts 0x"),
              "# #z# #xg q=#.# #x# #x# #x#a pts #x");
}

TEST(LogBridgeLevels, LevelsMapBothWaysAtEveryBoundary) {
    const std::pair<int, LogLevel> cases[] = {{16, Error}, {17, Warning}, {24, Warning},
                                              {25, Info},  {33, Debug},   {41, Trace}};
    for (const auto& [ffmpegLevel, expected] : cases) {
        EXPECT_EQ(logLevelFromFfmpeg(ffmpegLevel), expected) << ffmpegLevel;
    }
    // Log thresholds back to FFmpeg levels; out of range counts as the default.
    for (const auto& [threshold, expected] :
         {std::pair{0, -8}, {1, 16}, {5, 48}, {-1, 32}, {6, 32}}) {
        EXPECT_EQ(ffmpegLevelFromThreshold(threshold), expected) << threshold;
    }
}

TEST(LogBridgeLevels, ProresProfileWarningDroppedAndDemotionScoped) {
    const char* text = "[prores @ 0x1234] Unknown prores profile 9";
    EXPECT_FALSE(diagnosticLevel(24, text).has_value());
    // Only FFmpeg's warning level: the same text as an error still counts.
    EXPECT_EQ(diagnosticLevel(16, text), Error);
    {  // Demotion affects errors and warnings on this thread only.
        DiagnosticDemotionScope outer;
        { DiagnosticDemotionScope inner; }
        EXPECT_EQ(diagnosticLevel(16, "broken"), Debug);
        EXPECT_EQ(diagnosticLevel(24, "odd"), Debug);
        EXPECT_EQ(diagnosticLevel(32, "note"), Info);
        std::optional<LogLevel> onOtherThread;
        std::thread([&] { onOtherThread = diagnosticLevel(16, "broken"); }).join();
        EXPECT_EQ(onOtherThread, Error);
    }
    EXPECT_EQ(diagnosticLevel(16, "broken"), Error);
}

using Lines = std::vector<std::pair<LogLevel, std::string>>;

class Suppressor : public testing::Test {
  protected:
    Lines lines;
    std::mutex linesMutex;
    RepeatSuppressor suppressor{[this](LogLevel level, std::string_view text) {
        std::lock_guard lock(linesMutex);
        lines.emplace_back(level, text);
    }};

    void report(const std::string& text, LogLevel level, int times = 1) {
        while (times-- > 0) {
            suppressor.report(text, level);
        }
    }
    Lines finish() { return lines.clear(), suppressor.finish(), std::exchange(lines, {}); }
};

TEST_F(Suppressor, CountsRepeatsFromManyThreadsExactly) {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 250; ++i) {
                report("thread " + std::to_string(t) + " packet " + std::to_string(i), Warning);
            }
        });
    }
    threads.clear();
    // 1, 2, 3, 10, 100 and 1000, whatever the interleaving.
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_TRUE(lines.back().second.ends_with(" (1000th occurrence; further repeats suppressed)"));
    EXPECT_TRUE(finish().empty());
}

TEST_F(Suppressor, SummaryOnlyWhereTheLastCountWentUnwritten) {
    const std::string longText(150, 'k');
    const std::tuple<std::string, LogLevel, int> kinds[] = {
        {"three", Error, 3},  {"four", Error, 4},     {"ten", Error, 10},
        {"four", Warning, 4}, {longText, Warning, 5}, {"cent", Error, 100}};
    for (const auto& [text, level, times] : kinds) {
        report(text, level, times);
    }
    // The first three and every power of ten are written.
    EXPECT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines.back().second, "cent (100th occurrence; further repeats suppressed)");
    // The same text at another level is another entry; a summary keeps 100 key characters.
    EXPECT_EQ(
        finish(),
        (Lines{{Error, "(FFmpeg message seen 4 times total: four)"},
               {Warning, "(FFmpeg message seen 4 times total: four)"},
               {Warning, "(FFmpeg message seen 5 times total: " + std::string(100, 'k') + ")"}}));
}

TEST_F(Suppressor, FullTableFoldsOnlyBackToBackRepeatsOfTheWholeText) {
    for (size_t i = 0; i < RepeatSuppressor::kTableCapacity; ++i) {
        report(std::string("distinct message ") + char('a' + i), Warning);
    }
    lines.clear();
    report("seventeenth 7", Error, 5);
    report("value 1", Warning, 2);
    report("value 2", Warning);  // same key, different text
    report("value 2", Error);    // same text, different level
    // A key already in the table at another level is not counted there.
    report("distinct message a", Error);
    report("last", Warning, 3);
    EXPECT_EQ(lines, (Lines{{Error, "seventeenth 7"},
                            {Error, "(previous FFmpeg message repeated 4 more times)"},
                            {Warning, "value 1"},
                            {Warning, "(previous FFmpeg message repeated 1 more time)"},
                            {Warning, "value 2"},
                            {Error, "value 2"},
                            {Error, "distinct message a"},
                            {Warning, "last"}}));
    EXPECT_EQ(finish(), (Lines{{Warning, "(previous FFmpeg message repeated 2 more times)"}}));
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
