// Names of the host's importer selectors, for log lines and reports.
#pragma once

#include "host/host_api.h"

namespace kestrova::host {

// The selector's host name, or "unrecognised selector".
const char* selectorName(Selector selector);

}  // namespace kestrova::host
