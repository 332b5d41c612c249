// Threads and clocks on Windows.
#include <windows.h>

#include "platform/platform.h"

namespace kestrova::platform {

namespace {

// 100 ns units from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochIn100ns = 116444736000000000;

}  // namespace

uint32_t threadId() {
    return static_cast<uint32_t>(GetCurrentThreadId());
}

int64_t monotonicNanos() {
    static const int64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return value.QuadPart > 0 ? static_cast<int64_t>(value.QuadPart) : 1;
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    // Split so the product cannot overflow for any uptime.
    const int64_t ticks = now.QuadPart;
    return ticks / frequency * 1'000'000'000 + ticks % frequency * 1'000'000'000 / frequency;
}

int64_t wallClock100ns() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const auto since1601 =
        static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return since1601 - kUnixEpochIn100ns;
}

bool localTime(std::time_t seconds, std::tm& out) {
    return localtime_s(&out, &seconds) == 0;
}

bool utcTime(std::time_t seconds, std::tm& out) {
    return gmtime_s(&out, &seconds) == 0;
}

}  // namespace kestrova::platform
