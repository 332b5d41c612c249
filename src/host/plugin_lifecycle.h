// imInit, imShutdown and the two selectors that need no clip: the format list
// and the default per-clip settings.
#pragma once

#include "host/host_api.h"

namespace kestrova::host {

Result imInitHandler(void* stdParms, void* importInfo);
Result imShutdownHandler();
Result imGetIndFormatHandler(int32_t index, void* formatDesc);
Result imGetPrefs8Handler(void* fileAccess, void* prefsRecord);

}  // namespace kestrova::host
