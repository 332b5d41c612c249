// The second entry the host calls, for frame requests on playback threads,
// and the selectors behind it.
#pragma once

#include "host/host_api.h"

namespace kestrova::async {

// Runs one async selector inside the host-boundary guard (failure value 2).
host::Result AsyncImporterEntry(host::Selector selector, void* param);

// The async selector's host name, or "unrecognised selector".
const char* asyncSelectorName(host::Selector selector);

struct AsyncInstance;
// Each runs with the request counted in the instance's inFlight.
host::Result aiGetFrameHandler(AsyncInstance& instance, void* record);
host::Result aiSelectEfficientRenderTimeHandler(AsyncInstance& instance, void* record);
// These take the instance itself and never its decode mutex.
host::Result aiFlushHandler(void* instance);
host::Result aiCloseHandler(void* instance);

}  // namespace kestrova::async
