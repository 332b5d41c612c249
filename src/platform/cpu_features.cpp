// Instruction-set detection, the same on every x86 platform: CPUID, and
// XGETBV for the register state the operating system saves.
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "platform/platform.h"

namespace kestrova::platform {

namespace {

#if defined(__x86_64__) || defined(__i386__)
// Which register states the operating system saves on a context switch.
uint64_t enabledStateMask() {
    uint32_t low = 0;
    uint32_t high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<uint64_t>(high) << 32) | low;
}

CpuFeatures detectFeatures() {
    CpuFeatures features;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return features;
    }
    features.sse42 = (ecx & bit_SSE4_2) != 0;
    // AVX-encoded instructions fault unless the OS saves the YMM state too.
    const bool osSavesYmm = (ecx & bit_OSXSAVE) != 0 && (enabledStateMask() & 0x6) == 0x6;
    if (!osSavesYmm) {
        return features;
    }
    features.fma = (ecx & bit_AVX) != 0 && (ecx & bit_FMA) != 0;
    unsigned leaf7ebx = 0;
    if (__get_cpuid_count(7, 0, &eax, &leaf7ebx, &ecx, &edx) != 0) {
        features.avx2 = (leaf7ebx & bit_AVX2) != 0;
    }
    return features;
}
#else
CpuFeatures detectFeatures() {
    return {};
}
#endif

}  // namespace

CpuFeatures cpuFeatures() {
    static const CpuFeatures features = detectFeatures();
    return features;
}

}  // namespace kestrova::platform
