// Handlers of the clip selectors: open, quiet, close, description, pixel
// format negotiation and frames.
#pragma once

#include "host/host_api.h"

namespace kestrova::host {

Result imOpenFile8Handler(void* fileRefSlot, void* record);
Result imQuietFileHandler(void* privateData);
Result imCloseFileHandler(void* privateData);
Result imGetInfo8Handler(void* fileAccess, void* record);
Result imGetPreferredFrameSizeHandler(void* record);
Result imGetIndPixelFormatHandler(int32_t index, void* record);
Result imSelectClipFrameDescriptorHandler(const void* stdParms, void* record);
Result imGetIndColorSpaceHandler(int32_t index, void* record);
Result imPerformSourceSettingsCommandHandler(void* record);
Result imGetSourceVideoHandler(void* record);

}  // namespace kestrova::host
