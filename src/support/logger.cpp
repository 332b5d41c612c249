#include "support/logger.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>

#include "platform/platform.h"
#include "support/logger_internal.h"

namespace kestrova {
namespace {

constexpr int64_t kRotateBytes = 8388608;
constexpr int64_t kInfoFlushIntervalNs = 200000000;
constexpr std::size_t kStackMessageBytes = 1024;

struct LogState {
    std::mutex mutex;
    std::FILE* file = nullptr;
    bool openAttempted = false;
    std::string path;
    int64_t bytesWritten = 0;
    int64_t lastFlushNs = 0;
};

std::atomic<int32_t> gThreshold{static_cast<int32_t>(LogLevel::Info)};

LogState& state() {
    // Never destroyed: threads may still log while the process exits.
    static LogState* s = new LogState;
    return *s;
}

}  // namespace

std::mutex& loggerMutex() {
    return state().mutex;
}

namespace {

std::string logDirectory() {
    std::string base = platform::localAppDataFolder();
    if (base.empty()) {
        base = platform::temporaryFolder();
    }
    if (base.empty()) {
        return {};
    }
    return platform::joinPath(platform::joinPath(base, "Kestrova"), "logs");
}

// Caller holds the lock.
void openLocked(LogState& s, const char* baseName) {
    s.openAttempted = true;
    const std::string dir = logDirectory();
    if (dir.empty()) {
        return;
    }
    platform::createDirectories(dir);
    s.path = platform::joinPath(dir, std::string(baseName ? baseName : "Kestrova") + ".log");
    s.file = platform::openFile(s.path, "a+b");
    if (!s.file) {
        return;
    }
    s.bytesWritten = 0;
    if (std::fseek(s.file, 0, SEEK_END) == 0) {
        const long position = std::ftell(s.file);
        s.bytesWritten = position > 0 ? position : 0;
    }
    s.lastFlushNs = platform::monotonicNanos();
}

// Caller holds the lock.
void rotateIfFullLocked(LogState& s) {
    if (!s.file || s.bytesWritten < kRotateBytes) {
        return;
    }
    std::fflush(s.file);
    std::fclose(s.file);
    s.file = nullptr;
    s.bytesWritten = 0;
    const std::string previous = s.path + ".1";
    platform::removeFile(previous);
    platform::replaceFile(s.path, previous);
    s.file = platform::openFile(s.path, "a+b");
}

void formatTimestamp(char (&out)[32]) {
    const int64_t ticks = platform::wallClock100ns();
    const int64_t seconds = ticks / 10000000;
    const int64_t millis = ticks / 10000 - seconds * 1000;
    std::tm local{};
    if (!platform::localTime(static_cast<std::time_t>(seconds), local)) {
        std::snprintf(out, sizeof out, "0000-00-00 00:00:00.000");
        return;
    }
    // The modulos only tell the compiler the fields fit the 32-byte buffer.
    std::snprintf(out, sizeof out, "%04u-%02u-%02u %02u:%02u:%02u.%03u",
                  unsigned(local.tm_year + 1900) % 10000u, unsigned(local.tm_mon + 1) % 100u,
                  unsigned(local.tm_mday) % 100u, unsigned(local.tm_hour) % 100u,
                  unsigned(local.tm_min) % 100u, unsigned(local.tm_sec) % 100u,
                  unsigned(millis) % 1000u);
}

}  // namespace

const char* Logger::tag(int32_t level) {
    switch (level) {
        case 0:
            return "OFF ";
        case 1:
            return "ERR ";
        case 2:
            return "WARN";
        case 3:
            return "INFO";
        case 4:
            return "DBG ";
        case 5:
            return "TRC ";
        default:
            return "??? ";
    }
}

void Logger::open(const char* baseName) {
    try {
        LogState& s = state();
        std::lock_guard lock(s.mutex);
        if (!s.openAttempted) {
            openLocked(s, baseName);
        }
    } catch (...) {
        // The log is optional; nothing else depends on it being written.
    }
}

int32_t Logger::level() {
    return gThreshold.load(std::memory_order_relaxed);
}

void Logger::setLevel(int32_t level) {
    gThreshold.store(level, std::memory_order_relaxed);
}

void Logger::log(LogLevel level, const char* format, ...) {
    if (static_cast<int32_t>(level) > Logger::level() || !format) {
        return;
    }
    char stackBuffer[kStackMessageBytes];
    va_list args;
    va_start(args, format);
    va_list retry;
    va_copy(retry, args);
    const int length = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, args);
    va_end(args);
    if (length < 0) {
        va_end(retry);
        return;
    }
    if (static_cast<std::size_t>(length) < sizeof stackBuffer) {
        va_end(retry);
        writeLine(level, stackBuffer, static_cast<std::size_t>(length));
        return;
    }
    char* heapBuffer = new (std::nothrow) char[static_cast<std::size_t>(length) + 1];
    const int again =
        heapBuffer ? std::vsnprintf(heapBuffer, static_cast<std::size_t>(length) + 1, format, retry)
                   : -1;
    va_end(retry);
    if (again == length) {
        writeLine(level, heapBuffer, static_cast<std::size_t>(length));
    } else {
        writeLine(level, stackBuffer, sizeof stackBuffer - 1);
    }
    delete[] heapBuffer;
}

void Logger::writeLine(LogLevel level, const char* text, std::size_t length) {
    const int32_t value = static_cast<int32_t>(level);
    if (value > Logger::level() || !text) {
        return;
    }
    char timestamp[32];
    formatTimestamp(timestamp);
    const unsigned long thread = platform::threadId();
    const int printable = length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
    try {
        LogState& s = state();
        std::lock_guard lock(s.mutex);
        if (!s.openAttempted) {
            openLocked(s, "Kestrova");
        }
        if (!s.file) {
            return;
        }
        const int written = std::fprintf(s.file, "%s [%s] [t%lu] %.*s%s", timestamp, tag(value),
                                         thread, printable, text, platform::kLineEnd);
        if (written > 0) {
            s.bytesWritten += written;
        }
        const int64_t now = platform::monotonicNanos();
        if (value <= static_cast<int32_t>(LogLevel::Warning) ||
            now - s.lastFlushNs >= kInfoFlushIntervalNs) {
            std::fflush(s.file);
            s.lastFlushNs = now;
        }
        rotateIfFullLocked(s);
    } catch (...) {
        // A lock failure loses this line and nothing else.
    }
}

void Logger::close() {
    try {
        LogState& s = state();
        std::lock_guard lock(s.mutex);
        if (s.file) {
            std::fflush(s.file);
            std::fclose(s.file);
            s.file = nullptr;
        }
        s.openAttempted = false;
    } catch (...) {
    }
}

void Logger::writeRaw(const char* text) {
    if (!text) {
        return;
    }
    LogState& s = state();
    // Runs while a fault is handled, possibly on a thread that holds the lock.
    const bool locked = s.mutex.try_lock();
    if (locked && s.file) {
        std::fputs(text, s.file);
        std::fputs(platform::kLineEnd, s.file);
        std::fflush(s.file);
        s.mutex.unlock();
        return;
    }
    std::fputs(text, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    if (locked) {
        s.mutex.unlock();
    }
}

ScopedTimer::ScopedTimer(const char* name, LogLevel level)
    : name_(name), level_(level), start_(platform::monotonicNanos()) {}

ScopedTimer::~ScopedTimer() {
    const double ms = static_cast<double>(platform::monotonicNanos() - start_) / 1000000.0;
    Logger::log(level_, "%s took %.3f ms", name_ ? name_ : "?", ms);
}

}  // namespace kestrova
