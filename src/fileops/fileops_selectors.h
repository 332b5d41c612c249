// The host's project-management selectors: size estimate, trim check, trim
// by remuxing and file copy.
#pragma once

#include "host/fileops_api.h"

namespace kestrova::host {

Result imCalcSize8Handler(void* record, void* fileAccess);
Result imCheckTrim8Handler(void* record, void* fileAccess);
Result imTrimFile8Handler(void* fileAccess, void* record);
Result imCopyFileHandler(void* record);

}  // namespace kestrova::host
