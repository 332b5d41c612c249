// imRetargetAccelerator: the host moved a clip and asks whether the
// accelerator file beside it still belongs to the media.
#pragma once

#include "host/host_api.h"

namespace kestrova::host {

Result imRetargetAcceleratorHandler(void* record);

}  // namespace kestrova::host
