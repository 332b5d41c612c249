// Process-wide accounting of decode threads, so several decoders share the
// machine instead of each taking every core.
#pragma once

#include <cstdint>

namespace kestrova {

enum class ThreadRole : int32_t { Foreground = 0, Background = 1, Hardware = 2 };

class DecodeThreadBudget {
  public:
    // Threads to give a decoder asking for `requested` (< 1: choose).
    static int32_t acquire(int32_t requested, ThreadRole role);
    static void release(int32_t threads);
    // The pure grant rule, for a machine of `cores` with `outstanding` given out.
    static int32_t grantFor(int32_t requested, ThreadRole role, int32_t cores, int32_t outstanding,
                            int32_t& cap);
    static int32_t cores();
    static int32_t outstanding();
};

}  // namespace kestrova
