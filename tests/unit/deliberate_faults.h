// Deliberate processor faults for the fault-trap tests. The values come from
// volatile objects so the optimiser cannot see the fault coming (it would
// replace a known null write with a trap instruction), and the undefined-
// behaviour sanitizer is switched off so the processor, not the sanitizer,
// reports each one.
#pragma once

#include <cfenv>
#include <cstdint>

namespace kestrova::test {

inline int* volatile gNullTarget = nullptr;
inline volatile int gZero = 0;
inline volatile double gZeroDouble = 0.0;
inline volatile bool gStopRecursion = false;

__attribute__((noinline, no_sanitize("undefined"))) inline int32_t writeThroughNull(void*) {
    *gNullTarget = 1;
    return 0;
}

__attribute__((noinline, no_sanitize("undefined"))) inline int32_t divideByZero(void*) {
    return 7 / gZero;
}

// Unmasks the division-by-zero exception first; the handler runs with a
// fresh floating-point state, so it is masked again after the trap.
__attribute__((noinline, no_sanitize("undefined"))) inline int32_t divideFloatByZero(void*) {
    feenableexcept(FE_DIVBYZERO);
    const double quotient = 1.0 / gZeroDouble;
    fedisableexcept(FE_DIVBYZERO);
    return quotient > 0.0 ? 1 : 0;
}

__attribute__((noinline)) inline int32_t executeIllegalInstruction(void*) {
    __builtin_trap();
}

__attribute__((noinline)) inline int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (gStopRecursion) {
        return 0;
    }
    return recurse(depth + 1) + frame[0];
}

inline int32_t overflowStack(void*) {
    return recurse(0);
}

}  // namespace kestrova::test
