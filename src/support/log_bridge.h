// Routes FFmpeg's own diagnostics into the plug-in's log, mapping levels and
// rate-limiting floods of repeated messages (damaged media can make FFmpeg
// repeat one warning thousands of times per second).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/logger.h"

namespace kestrova {

// Replaces FFmpeg's default log callback; once per process until uninstalled.
// Call after the log threshold has been set from the preferences.
void installLogBridge();
// Writes the repeat summaries and the pending repeat line, then detaches.
void uninstallLogBridge();
// The callback FFmpeg calls, from any thread. Never lets an exception escape.
void logBridgeCallback(void* context, int level, const char* format, va_list arguments);

// While one is alive, FFmpeg errors and warnings raised on this thread are
// written at Debug: used where the plug-in expects FFmpeg to complain.
class DiagnosticDemotionScope {
  public:
    DiagnosticDemotionScope();
    ~DiagnosticDemotionScope();
    DiagnosticDemotionScope(const DiagnosticDemotionScope&) = delete;
    DiagnosticDemotionScope& operator=(const DiagnosticDemotionScope&) = delete;
};

// The message with every hexadecimal "0x" number and every other run of
// digits replaced by "#", so messages differing only in numbers share a key.
std::string repeatKey(std::string_view message);
LogLevel logLevelFromFfmpeg(int ffmpegLevel);
// The FFmpeg level that lets through what the plug-in threshold would log.
int ffmpegLevelFromThreshold(int32_t threshold);
// The level a formatted FFmpeg diagnostic is written at on this thread, or
// empty when it is dropped whatever the threshold.
std::optional<LogLevel> diagnosticLevel(int ffmpegLevel, std::string_view text);

// The repeat suppression: up to 16 distinct messages are counted for the
// whole session; beyond that only back-to-back repeats are folded.
class RepeatSuppressor {
  public:
    using LineWriter = std::function<void(LogLevel level, std::string_view line)>;
    static constexpr std::size_t kTableCapacity = 16;

    explicit RepeatSuppressor(LineWriter writer) : writer_(std::move(writer)) {}
    RepeatSuppressor(const RepeatSuppressor&) = delete;
    RepeatSuppressor& operator=(const RepeatSuppressor&) = delete;

    // Writes `text` at `level` unless it is a suppressed repeat.
    void report(std::string_view text, LogLevel level);
    // Writes the summaries of the counted messages and the pending repeat
    // line, then forgets everything.
    void finish();

  private:
    struct RepeatEntry {
        std::string key;
        LogLevel level;
        int64_t count;
    };
    enum class Decision { Suppress, Accept, AcceptWithSuffix };
    static constexpr std::size_t kSuffixSize = 96;

    Decision decide(const std::string& key, std::string_view text, LogLevel level,
                    char (&suffix)[kSuffixSize]);
    void writePendingLine();

    const LineWriter writer_;
    // Taken before the logger's own mutex; the writer never calls back here.
    std::mutex mutex_;
    std::vector<RepeatEntry> table_;
    std::string lastText_;
    LogLevel lastLevel_ = LogLevel::Off;
    int64_t pendingRepeats_ = 0;
};

}  // namespace kestrova
