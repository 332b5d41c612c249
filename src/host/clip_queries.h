// Handlers of the host's questions about a clip that are not about decoding
// it: analysis text, metadata, stream labels, content state, the clip's
// files, the accelerator path and the embedded LUT.
#pragma once

#include "host/host_api.h"

namespace kestrova::host {

Result imAnalysisHandler(void* record);
Result imGetMetaDataHandler(void* fileAccess, void* record);
Result imQueryStreamLabelHandler(void* record);
Result imGetEmbeddedLutHandler(void* record);
Result imQueryInputFileListHandler(void* record);
// These two work on paths alone and touch no clip.
Result imQueryContentStateHandler(void* record);
Result imQueryDestinationPathHandler(void* record);

}  // namespace kestrova::host
