// What every fuzz target shares: a property check that stops the run with a
// message, so libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "support/logger.h"

namespace kestrova::fuzz {

inline void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "fuzz property broken: %s\n", what);
        std::abort();
    }
}

// The parsers log at Debug; nothing may write a log file into the user's
// folders while fuzzing.
inline void silenceLog() {
    Logger::setLevel(static_cast<int32_t>(LogLevel::Off));
}

}  // namespace kestrova::fuzz
