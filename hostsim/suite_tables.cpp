#include "suite_tables.h"

#include <string>

#include "host.h"
#include "platform/platform.h"

namespace kestrova::hostsim {
namespace {

constexpr host::Result kError = 1;

void* allocate(std::size_t size) {
    Host* host = Host::current();
    return host ? host->allocate(size) : nullptr;
}

// Without a current Host the block is left alone: nobody can vouch for it.
void dispose(void* block) {
    if (Host* host = Host::current()) {
        host->dispose(block);
    }
}

int32_t acquireSuite(const char* name, int32_t version, const void** suite) {
    Host* host = Host::current();
    if (!host || !name || !suite) {
        return kError;
    }
    return host->acquire(name, version, suite);
}

int32_t releaseSuite(const char* name, int32_t version) {
    Host* host = Host::current();
    return host && name ? host->release(name, version) : kError;
}

// Not const: the host interface hands these out through non-const pointers.
host::BasicSuite gBasicSuite{acquireSuite, releaseSuite};

host::BasicSuite* getBasicSuite() {
    return &gBasicSuite;
}

int32_t disposeString(const host::HostString* string) {
    Host* host = Host::current();
    return host && string ? host->disposeString(*string) : kError;
}

int32_t allocateFromUtf8(const uint8_t* utf8, host::HostString* out) {
    Host* host = Host::current();
    if (!host || !utf8 || !out) {
        return kError;
    }
    return host->createString(reinterpret_cast<const char*>(utf8), *out);
}

int32_t copyToUtf8(const host::HostString* string, uint8_t* buffer, uint32_t* bufferBytes) {
    Host* host = Host::current();
    return host && string && bufferBytes ? host->copyString(*string, buffer, bufferBytes) : kError;
}

int32_t getTicksPerSecond(int64_t* ticksPerSecond) {
    Host* host = Host::current();
    if (!host || !ticksPerSecond || host->fails(Callback::TicksPerSecond)) {
        return kError;
    }
    *ticksPerSecond = host::kTicksPerSecond;
    return host::imNoErr;
}

int32_t fileManagerReserved() {
    return host::imUnsupported;
}

int32_t refreshFileAsync(const char16_t* path) {
    Host* host = Host::current();
    if (!host || !path) {
        return kError;
    }
    std::u16string_view text(path);
    return host->refresh(platform::utf16ToUtf8(text).value_or("(invalid UTF-16)"));
}

host::HostMemoryFuncs gMemoryFuncs{allocate, dispose};
host::HostUtilityFuncs gUtilityFuncs{getBasicSuite};
const host::HostSuitesRecord kSuitesRecord{1, &gMemoryFuncs, &gUtilityFuncs};

const host::StringSuite kStringSuite{disposeString, allocateFromUtf8, copyToUtf8};
const host::TimeSuite kTimeSuite{getTicksPerSecond};
const host::FileManagerSuite kFileManagerSuite{fileManagerReserved, refreshFileAsync};

// The pixel buffer suites are handed out as tables of null functions until
// frame delivery defines their layout; nothing calls them before that.
struct PendingSuite {
    void (*functions[32])() = {};
};
const PendingSuite kPendingPPix, kPendingPPix2, kPendingPPixCreator2, kPendingPPixCache;

struct NamedTable {
    host::SuiteName suite;
    const void* table;
};
const NamedTable kTables[] = {
    {host::kStringSuite, &kStringSuite},
    {host::kPPixSuite, &kPendingPPix},
    {host::kPPix2Suite, &kPendingPPix2},
    {host::kPPixCreator2Suite, &kPendingPPixCreator2},
    {host::kPPixCacheSuite, &kPendingPPixCache},
    {host::kTimeSuite, &kTimeSuite},
    {host::kFileManagerSuite, &kFileManagerSuite},
};

}  // namespace

const host::HostSuitesRecord* suitesRecord() {
    return &kSuitesRecord;
}

const void* suiteTable(std::string_view name, int32_t version) {
    for (const NamedTable& entry : kTables) {
        if (name == entry.suite.name && version == entry.suite.version) {
            return entry.table;
        }
    }
    return nullptr;
}

}  // namespace kestrova::hostsim
