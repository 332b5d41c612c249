#include "pixels/kernel_table.h"

#include "platform/platform.h"

namespace kestrova {
namespace {

int32_t supportedLevel() {
    const platform::CpuFeatures features = platform::cpuFeatures();
    return features.avx2 ? 2 : features.sse42 ? 1 : 0;
}

const KernelTable& chooseTable() {
    const auto force = platform::environmentVariable("KESTROVA_FORCE_SCALAR");
    if (force && !force->empty() && (*force)[0] == '1') {
        return kScalarKernels;
    }
    return *kernelTableForLevel(supportedLevel());
}

}  // namespace

const KernelTable* kernelTableForLevel(int32_t level) {
    if (level < 0 || level > supportedLevel()) {
        return nullptr;
    }
    static const KernelTable* const tables[] = {&kScalarKernels, &kSse42Kernels, &kAvx2Kernels};
    return tables[level];
}

const KernelTable& activeKernelTable() {
    static const KernelTable& table = chooseTable();
    return table;
}

}  // namespace kestrova
