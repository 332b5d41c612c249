// The content state every cache file of the plug-in stores right after its
// magic and version (bytes 8 to 27). The targets expect the state an input
// carries, so most inputs get past the staleness check.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/little_endian.h"
#include "video/seek_index.h"

namespace kestrova::fuzz {

inline ContentState contentStateIn(const uint8_t* data, std::size_t size) {
    ContentState state;
    if (size >= 28) {
        state.size = fromLittleEndian<int64_t>(data + 8);
        state.modTime = fromLittleEndian<int64_t>(data + 16);
        state.streamCount = fromLittleEndian<uint32_t>(data + 24);
    }
    return state;
}

}  // namespace kestrova::fuzz
