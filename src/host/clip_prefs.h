// The per-clip settings record the host stores with each clip: 28
// little-endian 32-bit fields carrying the user's source-settings overrides
// and the values detected when the clip was opened.
#pragma once

#include <array>
#include <cstdint>

#include "host/host_api.h"

namespace kestrova::host {

struct ClipPrefs {
    enum Field : int {
        kVersion = 0,
        kPrimariesOverride = 1,
        kTransferOverride = 2,
        kMatrixOverride = 3,
        kRangeOverride = 4,
        kReservedOverride = 5,
        kFieldOrderOverride = 6,
        kAspectNumOverride = 7,
        kAspectDenOverride = 8,
        kAlphaOverride = 9,
        kPixelFormatOverride = 10,
        kDetectedPrimaries = 11,
        kDetectedTransfer = 12,
        kDetectedMatrix = 13,
        kDetectedFullRange = 14,
        kDetectedFieldOrder = 15,
        kDetectedAspectNum = 16,
        kDetectedAspectDen = 17,
        kDetectedAlpha = 18,
        kDetectedPresent = 19,
    };
    static constexpr int32_t kCurrentVersion = 1;

    std::array<int32_t, kClipPrefsFields> fields{};

    static ClipPrefs defaults();
    static ClipPrefs read(const void* bytes);
    void write(void* bytes) const;
    bool hasOverrides() const;
};

}  // namespace kestrova::host
