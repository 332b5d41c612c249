// The process-wide levelled log: one text file per user, rotated at 8 MiB.
#pragma once

#include <cstddef>
#include <cstdint>

// mingw's g++ checks "printf" formats against the system C library's;
// the build uses the C99 family (__USE_MINGW_ANSI_STDIO), checked as gnu_printf.
#if defined(__MINGW32__)
#define KESTROVA_PRINTF gnu_printf
#else
#define KESTROVA_PRINTF printf
#endif

namespace kestrova {

enum class LogLevel : int32_t { Off = 0, Error = 1, Warning = 2, Info = 3, Debug = 4, Trace = 5 };

class Logger {
  public:
    static void open(const char* baseName);
    static int32_t level();
    static bool enabled(LogLevel level) { return static_cast<int32_t>(level) <= Logger::level(); }
    static void setLevel(int32_t level);
    static void log(LogLevel level, const char* format, ...)
        __attribute__((format(KESTROVA_PRINTF, 2, 3)));
    // Writes ready text as one line at `level` (no formatting of the text).
    static void writeLine(LogLevel level, const char* text, std::size_t length);
    static void close();
    // Emergency write for fault reports: never waits for the log lock.
    static void writeRaw(const char* text);
    // The four-character tag of a level ("ERR ", "WARN", ...).
    static const char* tag(int32_t level);
};

// Logs "<name> took <ms> ms" at `level` when the scope ends.
class ScopedTimer {
  public:
    ScopedTimer(const char* name, LogLevel level);
    ~ScopedTimer();
    ScopedTimer(const ScopedTimer&) = delete;
    ScopedTimer& operator=(const ScopedTimer&) = delete;

  private:
    const char* name_;
    LogLevel level_;
    int64_t start_;
};

}  // namespace kestrova
