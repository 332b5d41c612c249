// The keyframe accelerator file reader, fed whole files.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "cache_header.h"
#include "fuzz_check.h"
#include "video/seek_index.h"

namespace {

using kestrova::fuzz::require;

constexpr std::size_t kHeaderBytes = 36;

// Entries straight from a file need not be in order; the lookups must still
// answer from them without reading outside the list.
void query(const kestrova::SeekIndex& index, const uint8_t* data, std::size_t size) {
    const int64_t probe = size >= 8 ? kestrova::fromLittleEndian<int64_t>(data + size - 8) : 0;
    (void)index.positionFor(probe);
    require(index.entryForFrame(probe).has_value(), "a non-empty index answers every frame");
    require(index.medianSpacing() >= 0, "median spacing is never negative");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrova::fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    kestrova::SeekIndex index;
    const auto status = index.load(in, kestrova::fuzz::contentStateIn(data, size), "fuzz input");
    if (status != kestrova::SeekIndexLoadStatus::Ok) {
        require(index.entries.empty(), "a failed load keeps no entries");
        return 0;
    }
    require(kHeaderBytes + index.entries.size() * sizeof(kestrova::SeekIndexEntry) <= size,
            "entries come from the bytes that are there");
    if (!index.entries.empty()) {
        query(index, data, size);
    }
    return 0;
}
