// The guard around every call that arrives from the host: no exception and no
// processor fault crosses back into the host; each becomes one log line and
// the caller's failure value.
#pragma once

#include <cstdint>

#include "host/host_api.h"

namespace kestrova::host {

using GuardedFunction = Result (*)(void* arguments);

// Runs `function(arguments)` and returns its result, or `failureValue` after
// a caught exception or fault (and at once when `function` is null).
// `location` and `selectorName` may be null.
Result HostBoundaryGuard(GuardedFunction function, void* arguments, Result failureValue,
                         const char* location, const char* selectorName, long long selectorNumber);

// The text of a processor fault code.
const char* faultDescription(uint32_t code);

// Reports an exception caught inside a callback that FFmpeg calls; either
// text may be null.
void CallbackGuard(const char* callbackName, const char* detail) noexcept;

}  // namespace kestrova::host
