#include "support/log_bridge.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>

#include "ffmpeg/ffmpeg_runtime.h"
#include "host/boundary_guard.h"

namespace kestrova {
namespace {

constexpr std::size_t kMessageSize = 2048;
constexpr std::size_t kPendingLineSize = 128;
constexpr std::size_t kSummarySize = 160;

std::atomic<int> g_installed{0};
thread_local int32_t t_demotionDepth = 0;

// Built on first use and never destroyed: FFmpeg threads may still log while
// the process exits.
RepeatSuppressor& bridgeSuppressor() {
    static RepeatSuppressor* const suppressor =
        new RepeatSuppressor([](LogLevel level, std::string_view line) {
            Logger::writeLine(level, line.data(), line.size());
        });
    return *suppressor;
}

bool isPowerOfTen(int64_t n) {
    if (n < 10) {
        return false;
    }
    while (n % 10 == 0) {
        n /= 10;
    }
    return n == 1;
}

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::string repeatKey(std::string_view message) {
    std::string key;
    key.reserve(message.size());
    std::size_t i = 0;
    while (i < message.size()) {
        const char c = message[i];
        if (c == '0' && i + 2 < message.size() &&
            (message[i + 1] == 'x' || message[i + 1] == 'X') && isHexDigit(message[i + 2])) {
            i += 2;
            while (i < message.size() && isHexDigit(message[i])) {
                ++i;
            }
            key.push_back('#');
        } else if (isDigit(c)) {
            while (i < message.size() && isDigit(message[i])) {
                ++i;
            }
            key.push_back('#');
        } else {
            key.push_back(c);
            ++i;
        }
    }
    return key;
}

LogLevel logLevelFromFfmpeg(int ffmpegLevel) {
    if (ffmpegLevel <= AV_LOG_ERROR) {
        return LogLevel::Error;
    }
    if (ffmpegLevel <= AV_LOG_WARNING) {
        return LogLevel::Warning;
    }
    if (ffmpegLevel <= AV_LOG_INFO) {
        return LogLevel::Info;
    }
    if (ffmpegLevel <= AV_LOG_VERBOSE) {
        return LogLevel::Debug;
    }
    return LogLevel::Trace;
}

int ffmpegLevelFromThreshold(int32_t threshold) {
    switch (threshold) {
        case 0:
            return AV_LOG_QUIET;
        case 1:
            return AV_LOG_ERROR;
        case 2:
            return AV_LOG_WARNING;
        case 3:
            return AV_LOG_INFO;
        case 4:
            return AV_LOG_VERBOSE;
        case 5:
            return AV_LOG_DEBUG;
        default:
            return AV_LOG_INFO;
    }
}

std::optional<LogLevel> diagnosticLevel(int ffmpegLevel, std::string_view text) {
    // The ProRes decoder warns about every frame of files from some cameras
    // whose profile it does not know, although it decodes them fine.
    if (ffmpegLevel == AV_LOG_WARNING &&
        text.find("Unknown prores profile") != std::string_view::npos) {
        return std::nullopt;
    }
    const LogLevel level = logLevelFromFfmpeg(ffmpegLevel);
    if (t_demotionDepth > 0 && (level == LogLevel::Error || level == LogLevel::Warning)) {
        return LogLevel::Debug;
    }
    return level;
}

DiagnosticDemotionScope::DiagnosticDemotionScope() {
    ++t_demotionDepth;
}
DiagnosticDemotionScope::~DiagnosticDemotionScope() {
    --t_demotionDepth;
}

void RepeatSuppressor::report(std::string_view text, LogLevel level) {
    const std::string key = repeatKey(text);
    char suffix[kSuffixSize];
    std::unique_lock<std::mutex> lock(mutex_);
    switch (decide(key, text, level, suffix)) {
        case Decision::Suppress:
            return;
        case Decision::Accept:
            lock.unlock();
            writer_(level, text);
            return;
        case Decision::AcceptWithSuffix: {
            // Written under the mutex so no later repeat can overtake it.
            std::string line(text);
            line += suffix;
            writer_(level, line);
            return;
        }
    }
}

RepeatSuppressor::Decision RepeatSuppressor::decide(const std::string& key, std::string_view text,
                                                    LogLevel level, char (&suffix)[kSuffixSize]) {
    const auto entry = std::find_if(table_.begin(), table_.end(), [&](const RepeatEntry& e) {
        return e.level == level && e.key == key;
    });
    if (entry != table_.end()) {
        ++entry->count;
        if (entry->count <= 3) {
            return Decision::Accept;
        }
        if (isPowerOfTen(entry->count)) {
            std::snprintf(suffix, kSuffixSize, " (%lldth occurrence; further repeats suppressed)",
                          static_cast<long long>(entry->count));
            return Decision::AcceptWithSuffix;
        }
        return Decision::Suppress;
    }
    if (table_.size() < kTableCapacity) {
        table_.push_back(RepeatEntry{key, level, 1});
        return Decision::Accept;
    }
    // Table full: fold only back-to-back repeats of the identical message.
    if (text == lastText_ && level == lastLevel_) {
        ++pendingRepeats_;
        return Decision::Suppress;
    }
    writePendingLine();
    lastText_.assign(text);
    lastLevel_ = level;
    return Decision::Accept;
}

void RepeatSuppressor::writePendingLine() {
    if (pendingRepeats_ <= 0) {
        return;
    }
    char line[kPendingLineSize];
    const int length =
        std::snprintf(line, sizeof line, "(previous FFmpeg message repeated %lld more time%s)",
                      static_cast<long long>(pendingRepeats_), pendingRepeats_ == 1 ? "" : "s");
    pendingRepeats_ = 0;
    if (length > 0) {
        writer_(lastLevel_, std::string_view(line, std::min<std::size_t>(length, sizeof line - 1)));
    }
}

void RepeatSuppressor::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const RepeatEntry& entry : table_) {
        // Counts up to 3 were all written, and a power of ten was written
        // with its count in the suffix.
        if (entry.count <= 3 || isPowerOfTen(entry.count)) {
            continue;
        }
        char line[kSummarySize];
        const int length =
            std::snprintf(line, sizeof line, "(FFmpeg message seen %lld times total: %.100s)",
                          static_cast<long long>(entry.count), entry.key.c_str());
        if (length > 0) {
            writer_(entry.level,
                    std::string_view(line, std::min<std::size_t>(length, sizeof line - 1)));
        }
    }
    table_.clear();
    writePendingLine();
    lastText_.clear();
    lastLevel_ = LogLevel::Off;
}

void installLogBridge() {
    int expected = 0;
    if (!g_installed.compare_exchange_strong(expected, 1)) {
        return;
    }
    const ffmpeg::FfmpegRuntime& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        g_installed.store(0);
        return;
    }
    runtime.fn().av_log_set_callback(&logBridgeCallback);
    runtime.fn().av_log_set_level(ffmpegLevelFromThreshold(Logger::level()));
    Logger::log(LogLevel::Debug, "av_log bridge installed; FFmpeg diagnostics now go to this log");
}

void uninstallLogBridge() {
    int expected = 1;
    if (!g_installed.compare_exchange_strong(expected, 0)) {
        return;
    }
    bridgeSuppressor().finish();
    const ffmpeg::FfmpegRuntime& runtime = ffmpeg::FfmpegRuntime::instance();
    if (runtime.available()) {
        runtime.fn().av_log_set_callback(nullptr);
    }
}

void logBridgeCallback(void* context, int level, const char* format, va_list arguments) {
    try {
        const ffmpeg::FfmpegRuntime& runtime = ffmpeg::FfmpegRuntime::instance();
        if (!runtime.available()) {
            return;
        }
        // Filtered messages cost one level query before any formatting.
        if (runtime.fn().av_log_get_level() < level) {
            return;
        }
        char message[kMessageSize];
        // FFmpeg clears the flag after a line without a newline; starting at 1
        // every time gives each line its context prefix.
        int printPrefix = 1;
        const int formatted = runtime.fn().av_log_format_line2(
            context, level, format, arguments, message, sizeof message, &printPrefix);
        if (formatted < 1) {
            return;
        }
        std::size_t length = std::min<std::size_t>(formatted, sizeof message - 1);
        while (length > 0 && (message[length - 1] == '\n' || message[length - 1] == '\r')) {
            --length;
        }
        if (length == 0) {
            return;
        }
        const std::string_view text(message, length);
        const std::optional<LogLevel> mapped = diagnosticLevel(level, text);
        if (!mapped || !Logger::enabled(*mapped)) {
            return;
        }
        bridgeSuppressor().report(text, *mapped);
    } catch (...) {
        host::CallbackGuard("av_log bridge", "while formatting an FFmpeg diagnostic");
    }
}

}  // namespace kestrova
