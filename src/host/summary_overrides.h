// The user's source-settings overrides applied to a clip's summary.
#pragma once

#include "host/clip_prefs.h"
#include "host/stream_summary.h"

namespace kestrova::host {

// The pixel-format override is left to the plan negotiation.
void applyOverrides(StreamSummary& summary, const ClipPrefs& prefs);

// Override fields 1 to 10 differ.
bool overridesDiffer(const ClipPrefs& a, const ClipPrefs& b);

}  // namespace kestrova::host
