// imCreateAsyncImporter: the selector on the synchronous entry that hands the
// host an async instance and the entry that serves it.
#pragma once

#include "host/host_api.h"

namespace kestrova::async {

host::Result imCreateAsyncImporterHandler(void* record);

}  // namespace kestrova::async
