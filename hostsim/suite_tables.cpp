#include "suite_tables.h"

#include <span>
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

// ---- Pixel buffers ----
// Injected failures answer what a failing host answers: a null pointer or a
// zero count with a success code, so the module's own checks are exercised.

const PPixBuffer* livePPix(Host* host, host::PPixHand ppix) {
    return host ? host->ppix().find(ppix) : nullptr;
}

int32_t disposePPix(host::PPixHand ppix) {
    Host* host = Host::current();
    return host ? host->ppix().dispose(ppix) : kError;
}

int32_t getPixels(host::PPixHand ppix, int32_t /*access*/, char** pixels) {
    Host* host = Host::current();
    const PPixBuffer* buffer = livePPix(host, ppix);
    if (!buffer || !pixels) {
        return kError;
    }
    *pixels = host->fails(Callback::GetPixels)
                  ? nullptr
                  : reinterpret_cast<char*>(buffer->planes().front().data);
    return host::imNoErr;
}

int32_t getBounds(host::PPixHand ppix, int32_t* width, int32_t* height) {
    const PPixBuffer* buffer = livePPix(Host::current(), ppix);
    if (!buffer || !width || !height) {
        return kError;
    }
    *width = buffer->width();
    *height = buffer->height();
    return host::imNoErr;
}

int32_t getRowBytes(host::PPixHand ppix, int32_t* rowBytes) {
    Host* host = Host::current();
    const PPixBuffer* buffer = livePPix(host, ppix);
    if (!buffer || !rowBytes) {
        return kError;
    }
    *rowBytes = host->fails(Callback::GetRowBytes) ? 0 : buffer->planes().front().rowBytes;
    return host::imNoErr;
}

int32_t getPixelFormat(host::PPixHand ppix, uint32_t* format) {
    const PPixBuffer* buffer = livePPix(Host::current(), ppix);
    if (!buffer || !format) {
        return kError;
    }
    *format = buffer->format();
    return host::imNoErr;
}

int32_t getSize(host::PPixHand ppix, std::size_t* bytes) {
    const PPixBuffer* buffer = livePPix(Host::current(), ppix);
    if (!buffer || !bytes) {
        return kError;
    }
    *bytes = buffer->sizeBytes();
    return host::imNoErr;
}

// Planar buffers answer three planes, biplanar ones two (the third null);
// packed buffers have no planes to give.
int32_t getYUV420PlanarBuffers(host::PPixHand ppix, int32_t /*access*/, char** y,
                               uint32_t* yRowBytes, char** u, uint32_t* uRowBytes, char** v,
                               uint32_t* vRowBytes) {
    Host* host = Host::current();
    const PPixBuffer* buffer = livePPix(host, ppix);
    char** pointers[] = {y, u, v};
    uint32_t* rowBytes[] = {yRowBytes, uRowBytes, vRowBytes};
    for (int plane = 0; plane < 3; ++plane) {
        if (pointers[plane]) {
            *pointers[plane] = nullptr;
        }
        if (rowBytes[plane]) {
            *rowBytes[plane] = 0;
        }
    }
    if (!buffer || buffer->planes().size() < 2 || host->fails(Callback::PlanarBuffers)) {
        return kError;
    }
    const auto& planes = buffer->planes();
    for (std::size_t plane = 0; plane < planes.size(); ++plane) {
        if (pointers[plane]) {
            *pointers[plane] = reinterpret_cast<char*>(planes[plane].data);
        }
        if (rowBytes[plane]) {
            *rowBytes[plane] = static_cast<uint32_t>(planes[plane].rowBytes);
        }
    }
    return host::imNoErr;
}

int32_t createPPix(host::PPixHand* out, int32_t /*access*/, uint32_t format, int32_t width,
                   int32_t height, bool useFields, int32_t fieldNumber, int32_t aspectNum,
                   int32_t aspectDen) {
    Host* host = Host::current();
    if (!out) {
        return kError;
    }
    *out = nullptr;
    if (!host) {
        return kError;
    }
    host->enterCallback(Callback::CreatePPix);
    if (host->fails(Callback::CreatePPix)) {
        return kError;
    }
    return host->ppix().create(format, width, height,
                               {useFields, fieldNumber, aspectNum, aspectDen}, out);
}

int32_t addFrameToCache(int32_t importerId, int32_t streamIndex, host::PPixHand ppix, int64_t frame,
                        void* /*passThrough*/, int32_t /*passThroughValue*/) {
    Host* host = Host::current();
    return host ? host->ppix().addToCache(importerId, streamIndex, ppix, frame) : kError;
}

int32_t getFrameFromCache(int32_t importerId, int32_t streamIndex, int64_t frame,
                          int32_t formatCount, const host::FrameFormat* formats,
                          host::PPixHand* out, void* /*passThrough*/,
                          int32_t /*passThroughValue*/) {
    Host* host = Host::current();
    if (!out) {
        return kError;
    }
    *out = nullptr;
    if (!host || formatCount < 0 || (formatCount > 0 && !formats)) {
        return kError;
    }
    return host->ppix().findInCache(
        importerId, streamIndex, frame,
        std::span<const host::FrameFormat>(formats, static_cast<std::size_t>(formatCount)), out);
}

const host::PPixSuite kPPixSuite{disposePPix, getPixels, getBounds, getRowBytes, getPixelFormat};
const host::PPix2Suite kPPix2Suite{getSize, getYUV420PlanarBuffers};
const host::PPixCreator2Suite kPPixCreator2Suite{createPPix};
const host::PPixCacheSuite kPPixCacheSuite{addFrameToCache, getFrameFromCache};

struct NamedTable {
    host::SuiteName suite;
    const void* table;
};
const NamedTable kTables[] = {
    {host::kStringSuite, &kStringSuite},
    {host::kPPixSuite, &kPPixSuite},
    {host::kPPix2Suite, &kPPix2Suite},
    {host::kPPixCreator2Suite, &kPPixCreator2Suite},
    {host::kPPixCacheSuite, &kPPixCacheSuite},
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
