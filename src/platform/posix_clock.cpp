// Threads and clocks on POSIX systems.
#include <unistd.h>

#include <ctime>

#include "platform/platform.h"

namespace kestrova::platform {

uint32_t threadId() {
    return static_cast<uint32_t>(::gettid());
}

int64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

int64_t wallClock100ns() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 10'000'000 + now.tv_nsec / 100;
}

bool localTime(std::time_t seconds, std::tm& out) {
    return localtime_r(&seconds, &out) != nullptr;
}

bool utcTime(std::time_t seconds, std::tm& out) {
    return gmtime_r(&seconds, &out) != nullptr;
}

}  // namespace kestrova::platform
