// Handlers of the clip selectors: open, quiet, close and description.
#pragma once

#include "host/host_api.h"

namespace kestrova::host {

Result imOpenFile8Handler(void* fileRefSlot, void* record);
Result imQuietFileHandler(void* privateData);
Result imCloseFileHandler(void* privateData);
Result imGetInfo8Handler(void* fileAccess, void* record);
Result imGetPreferredFrameSizeHandler(void* record);

}  // namespace kestrova::host
