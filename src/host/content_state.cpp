#include "host/content_state.h"

#include <cstdio>

#include "platform/platform.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

// The first multiplier of MurmurHash3's 64-bit finaliser.
constexpr uint64_t kMixMultiplier = 0xFF51AFD7ED558CCDULL;

uint64_t fnvLittleEndian(uint64_t hash, uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        hash ^= (value >> (8 * i)) & 0xFF;
        hash *= kFnvPrime;
    }
    return hash;
}

}  // namespace

uint64_t fileContentHash(uint64_t size, int64_t lastWrite100ns) {
    const uint64_t nanoseconds = static_cast<uint64_t>(lastWrite100ns) * 100;
    return fnvLittleEndian(fnvLittleEndian(kFnvOffsetBasis, size), nanoseconds);
}

uint64_t foldFileHash(uint64_t state, uint64_t fileHash) {
    return (state ^ fileHash) * kFnvPrime;
}

std::string contentStateText(uint64_t state) {
    uint64_t mixed = (state ^ (state >> 33)) * kMixMultiplier;
    mixed ^= mixed >> 33;
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx",
                  static_cast<unsigned>(state >> 32), static_cast<unsigned>((state >> 16) & 0xFFFF),
                  static_cast<unsigned>(state & 0xFFFF), static_cast<unsigned>(mixed >> 48),
                  static_cast<unsigned long long>(mixed & 0xFFFFFFFFFFFFULL));
    return text;
}

std::optional<uint64_t> fingerprintOfFiles(const std::vector<std::string>& paths) {
    uint64_t state = kFnvOffsetBasis;
    bool failed = false;
    for (const std::string& path : paths) {
        const auto status = platform::fileStatus(path);
        if (!status) {
            Logger::log(LogLevel::Debug, "imQueryContentState: cannot stat '%s'", path.c_str());
            failed = true;
            continue;
        }
        const uint64_t hash = fileContentHash(status->size, status->lastWrite100ns);
        if (hash == 0) {
            failed = true;
            continue;
        }
        state = foldFileHash(state, hash);
    }
    if (failed && state == kFnvOffsetBasis) {
        return std::nullopt;
    }
    return state;
}

}  // namespace kestrova::host
