#include "host/clip_prefs.h"

namespace kestrova::host {

ClipPrefs ClipPrefs::defaults() {
    ClipPrefs prefs;
    auto& f = prefs.fields;
    f[kVersion] = kCurrentVersion;
    f[kPrimariesOverride] = -1;
    f[kTransferOverride] = -1;
    f[kMatrixOverride] = -1;
    f[kPixelFormatOverride] = static_cast<int32_t>(kBadFormat);
    // FFmpeg's "unspecified" for primaries, transfer and matrix.
    f[kDetectedPrimaries] = 2;
    f[kDetectedTransfer] = 2;
    f[kDetectedMatrix] = 2;
    f[kDetectedAspectNum] = 1;
    f[kDetectedAspectDen] = 1;
    return prefs;
}

ClipPrefs ClipPrefs::read(const void* bytes) {
    ClipPrefs prefs;
    for (int i = 0; i < kClipPrefsFields; ++i) {
        prefs.fields[i] = readField<int32_t>(bytes, 4 * static_cast<std::size_t>(i));
    }
    return prefs;
}

void ClipPrefs::write(void* bytes) const {
    for (int i = 0; i < kClipPrefsFields; ++i) {
        writeField<int32_t>(bytes, 4 * static_cast<std::size_t>(i), fields[i]);
    }
}

bool ClipPrefs::hasOverrides() const {
    const auto& f = fields;
    return f[kPrimariesOverride] >= 0 || f[kTransferOverride] >= 0 || f[kMatrixOverride] >= 0 ||
           f[kRangeOverride] != 0 || f[kReservedOverride] != 0 || f[kFieldOrderOverride] != 0 ||
           (f[kAspectNumOverride] != 0 && f[kAspectDenOverride] != 0) || f[kAlphaOverride] != 0 ||
           static_cast<uint32_t>(f[kPixelFormatOverride]) != kBadFormat;
}

}  // namespace kestrova::host
