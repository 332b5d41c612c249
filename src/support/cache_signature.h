// The start every cache file of the plug-in shares: four magic bytes, then a
// little-endian u32 format version.
#pragma once

#include <cstdint>
#include <cstring>
#include <istream>

#include "support/little_endian.h"

namespace kestrova {

enum class CacheSignature : int32_t { Matches = 0, Foreign = 1, OtherVersion = 2 };

// Foreign: short or wrong magic, or no version; OtherVersion: the magic
// matches but the version does not.
inline CacheSignature readCacheSignature(std::istream& in, const char (&magic)[4],
                                         uint32_t version) {
    char found[4] = {};
    if (!in.read(found, sizeof found) || std::memcmp(found, magic, sizeof found) != 0) {
        return CacheSignature::Foreign;
    }
    uint32_t foundVersion = 0;
    if (!readLittleEndian(in, foundVersion)) {
        return CacheSignature::Foreign;
    }
    return foundVersion == version ? CacheSignature::Matches : CacheSignature::OtherVersion;
}

}  // namespace kestrova
