// Handlers of the clip selectors: open, quiet, close, description, pixel
// format negotiation and frames.
#pragma once

#include "host/host_api.h"

namespace kestrova {
struct StreamInfo;
}

namespace kestrova::host {

class ClipInstance;

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

// Builds, completes and sorts the clip's candidate plans for its mapped video
// stream, and marks them built. Run with the clip entered.
void buildCandidatePlans(ClipInstance& clip, const StreamInfo& stream);

}  // namespace kestrova::host
