#include "host/host_suites.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <mutex>

#include "platform/platform.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

constexpr std::size_t kSuiteCount = std::size(kSuiteTable);
constexpr std::size_t kBlockHeader = 8;
constexpr std::size_t kRefreshPathUnits = 512;

struct SuitesState {
    std::mutex mutex;
    bool bound = false;
    const HostMemoryFuncs* memory = nullptr;
    const BasicSuite* basic = nullptr;
    const void* suites[kSuiteCount] = {};
    int64_t ticksPerSecond = 0;
};

SuitesState& state() {
    static SuitesState* s = new SuitesState;
    return *s;
}

std::size_t indexOf(const SuiteName& suite) {
    for (std::size_t i = 0; i < kSuiteCount; ++i) {
        if (kSuiteTable[i].name == suite.name) {
            return i;
        }
    }
    return kSuiteCount;
}

template <typename Suite>
const Suite* suiteAt(const SuiteName& name) {
    SuitesState& s = state();
    std::lock_guard lock(s.mutex);
    return static_cast<const Suite*>(s.suites[indexOf(name)]);
}

}  // namespace

void HostSuites::bind(const void* stdParms) {
    SuitesState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.bound && stdParms) {
        auto* record = readField<const HostSuitesRecord*>(stdParms, stdparms::kSuites);
        if (record) {
            s.bound = true;
            s.memory = record->memFuncs;
            if (record->utilFuncs && record->utilFuncs->getBasicSuite) {
                s.basic = record->utilFuncs->getBasicSuite();
            }
            for (std::size_t i = 0; i < kSuiteCount; ++i) {
                const void* suite = nullptr;
                if (s.basic && s.basic->acquireSuite &&
                    s.basic->acquireSuite(kSuiteTable[i].name, kSuiteTable[i].version, &suite) !=
                        0) {
                    suite = nullptr;
                }
                s.suites[i] = suite;
            }
            auto* time = static_cast<const TimeSuite*>(s.suites[indexOf(kTimeSuite)]);
            if (time && time->getTicksPerSecond) {
                int64_t ticks = 0;
                if (time->getTicksPerSecond(&ticks) == 0 && ticks > 0) {
                    s.ticksPerSecond = ticks;
                }
            }
        }
    }
    Logger::log(LogLevel::Debug,
                "host suites bound: mem=%p basic=%p string=%p ppix=%p creator2=%p cache=%p",
                static_cast<const void*>(s.memory), static_cast<const void*>(s.basic),
                s.suites[indexOf(kStringSuite)], s.suites[indexOf(kPPixSuite)],
                s.suites[indexOf(kPPixCreator2Suite)], s.suites[indexOf(kPPixCacheSuite)]);
}

void HostSuites::release() {
    SuitesState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.basic && s.basic->releaseSuite) {
        for (std::size_t i = 0; i < kSuiteCount; ++i) {
            if (s.suites[i]) {
                s.basic->releaseSuite(kSuiteTable[i].name, kSuiteTable[i].version);
            }
        }
    }
    for (auto& suite : s.suites) {
        suite = nullptr;
    }
    s.basic = nullptr;
    s.memory = nullptr;
    s.bound = false;
}

const HostMemoryFuncs* HostSuites::memoryFunctions() {
    SuitesState& s = state();
    std::lock_guard lock(s.mutex);
    return s.memory;
}

const BasicSuite* HostSuites::basicSuite() {
    SuitesState& s = state();
    std::lock_guard lock(s.mutex);
    return s.basic;
}

const StringSuite* HostSuites::stringSuite() {
    return suiteAt<StringSuite>(kStringSuite);
}
const PPixSuite* HostSuites::ppixSuite() {
    return suiteAt<PPixSuite>(kPPixSuite);
}
const PPix2Suite* HostSuites::ppix2Suite() {
    return suiteAt<PPix2Suite>(kPPix2Suite);
}
const PPixCreator2Suite* HostSuites::ppixCreator2Suite() {
    return suiteAt<PPixCreator2Suite>(kPPixCreator2Suite);
}
const PPixCacheSuite* HostSuites::ppixCacheSuite() {
    return suiteAt<PPixCacheSuite>(kPPixCacheSuite);
}
const TimeSuite* HostSuites::timeSuite() {
    return suiteAt<TimeSuite>(kTimeSuite);
}
const FileManagerSuite* HostSuites::fileManagerSuite() {
    return suiteAt<FileManagerSuite>(kFileManagerSuite);
}

int64_t HostSuites::ticksPerSecond() {
    SuitesState& s = state();
    std::lock_guard lock(s.mutex);
    return s.ticksPerSecond;
}

bool createHostString(const std::string& utf8, HostString& out) {
    const StringSuite* suite = HostSuites::stringSuite();
    if (!suite || !suite->allocateFromUtf8) {
        return false;
    }
    return suite->allocateFromUtf8(reinterpret_cast<const uint8_t*>(utf8.c_str()), &out) == 0;
}

void refreshFileAsync(const std::string& utf8Path) {
    const FileManagerSuite* suite = HostSuites::fileManagerSuite();
    if (!suite || !suite->refreshFileAsync) {
        Logger::log(LogLevel::Warning,
                    "refreshFileAsync: file manager suite not available, cannot refresh %s",
                    utf8Path.c_str());
        return;
    }
    char16_t path[kRefreshPathUnits] = {};
    const std::u16string wide = platform::utf8ToUtf16(utf8Path).value_or(std::u16string());
    const std::size_t units = std::min(wide.size(), kRefreshPathUnits - 1);
    std::copy_n(wide.begin(), units, path);
    const int32_t result = suite->refreshFileAsync(path);
    if (result != 0) {
        Logger::log(LogLevel::Warning, "refreshFileAsync: RefreshFileAsync returned %d for %s",
                    result, utf8Path.c_str());
    } else {
        Logger::log(LogLevel::Info, "refreshFileAsync: refreshed %s", utf8Path.c_str());
    }
}

void* hostAlloc(std::size_t size) {
    if (size > SIZE_MAX - kBlockHeader) {
        return nullptr;
    }
    const HostMemoryFuncs* memory = HostSuites::memoryFunctions();
    unsigned char* block = nullptr;
    uint32_t tag = kRuntimeBlockTag;
    if (memory && memory->allocate) {
        block = static_cast<unsigned char*>(memory->allocate(size + kBlockHeader));
        tag = kHostBlockTag;
    } else {
        block = static_cast<unsigned char*>(std::malloc(size + kBlockHeader));
    }
    if (!block) {
        return nullptr;
    }
    writeField<uint32_t>(block, 0, tag);
    return block + kBlockHeader;
}

void hostFree(void* pointer) {
    if (!pointer) {
        return;
    }
    unsigned char* block = static_cast<unsigned char*>(pointer) - kBlockHeader;
    if (readField<uint32_t>(block, 0) == kRuntimeBlockTag) {
        std::free(block);
        return;
    }
    const HostMemoryFuncs* memory = HostSuites::memoryFunctions();
    if (memory && memory->dispose) {
        memory->dispose(block);
    }
}

}  // namespace kestrova::host
