#include "host/summary_overrides.h"

#include "pixels/summary_pixels.h"

namespace kestrova::host {

void applyOverrides(StreamSummary& s, const ClipPrefs& prefs) {
    const auto& f = prefs.fields;
    for (auto [field, target] : {std::pair{ClipPrefs::kPrimariesOverride, &s.primaries},
                                 std::pair{ClipPrefs::kTransferOverride, &s.transfer},
                                 std::pair{ClipPrefs::kMatrixOverride, &s.matrix}}) {
        if (f[field] >= 0) {
            *target = f[field];
            s.colourGuessed = false;
        }
    }
    if (f[ClipPrefs::kRangeOverride] != 0) {
        s.fullRange = f[ClipPrefs::kRangeOverride] == 1;
    }
    switch (f[ClipPrefs::kFieldOrderOverride]) {
        case 1:
            s.fieldOrder = FieldOrder::Progressive;
            s.fieldOrderAssumed = false;
            break;
        case 2:
            s.fieldOrder = FieldOrder::UpperFirst;
            s.fieldOrderAssumed = false;
            break;
        case 3:
            s.fieldOrder = FieldOrder::LowerFirst;
            s.fieldOrderAssumed = false;
            break;
        default:
            break;
    }
    if (f[ClipPrefs::kAspectNumOverride] != 0 && f[ClipPrefs::kAspectDenOverride] != 0) {
        s.aspectNum = f[ClipPrefs::kAspectNumOverride];
        s.aspectDen = f[ClipPrefs::kAspectDenOverride];
        s.aspectMissing = false;
    }
    switch (f[ClipPrefs::kAlphaOverride]) {
        case 1:
            s.alphaMode = AlphaMode::Straight;
            s.alphaAssumed = false;
            break;
        case 2:
            s.alphaMode = AlphaMode::Premultiplied;
            s.alphaAssumed = false;
            break;
        case 3:
            s.alphaMode = AlphaMode::Opaque;
            s.alphaAssumed = false;
            break;
        default:
            break;
    }
    s.hdr = isHdrTransfer(s.transfer);
    if (s.hdr) {
        s.sceneReferred = false;
    }
}

bool overridesDiffer(const ClipPrefs& a, const ClipPrefs& b) {
    for (int field = ClipPrefs::kPrimariesOverride; field <= ClipPrefs::kPixelFormatOverride;
         ++field) {
        if (a.fields[field] != b.fields[field]) {
            return true;
        }
    }
    return false;
}

}  // namespace kestrova::host
