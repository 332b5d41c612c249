// The host's closed-caption selectors: a scan that completes inside its first
// call, a walk one caption at a time, and the scan's release.
#pragma once

#include "host/host_api.h"

namespace kestrova::host {

Result imInitiateAsyncClosedCaptionScanHandler(void* record);
Result imGetNextClosedCaptionHandler(void* record);
Result imCompleteAsyncClosedCaptionScanHandler(void* record);

}  // namespace kestrova::host
