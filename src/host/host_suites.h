// The host's callback suites and memory functions, bound at imInit and
// released at imShutdown. Accessors copy a pointer out under the suites mutex;
// callers use the suite after the mutex is released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/host_api.h"

namespace kestrova::host {

class HostSuites {
  public:
    // Binds from the host's standard parameters unless already bound.
    static void bind(const void* stdParms);
    // Releases every acquired suite and forgets the memory functions.
    static void release();

    static const HostMemoryFuncs* memoryFunctions();
    static const BasicSuite* basicSuite();
    static const StringSuite* stringSuite();
    static const PPixSuite* ppixSuite();
    static const PPix2Suite* ppix2Suite();
    static const PPixCreator2Suite* ppixCreator2Suite();
    static const PPixCacheSuite* ppixCacheSuite();
    static const TimeSuite* timeSuite();
    static const FileManagerSuite* fileManagerSuite();
    static int64_t ticksPerSecond();
};

// Creates a host string from UTF-8 text; true only when the host did.
[[nodiscard]] bool createHostString(const std::string& utf8, HostString& out);

// Asks the host to refresh a file it shows; failures are only logged.
void refreshFileAsync(const std::string& utf8Path);

// Tagged blocks: from the host's memory functions when bound, else from the C
// runtime. hostFree returns each block to whoever allocated it.
inline constexpr uint32_t kHostBlockTag = 0xA11C0DE1;
inline constexpr uint32_t kRuntimeBlockTag = 0xA11C0DE2;
[[nodiscard]] void* hostAlloc(std::size_t size);
void hostFree(void* block);

}  // namespace kestrova::host
