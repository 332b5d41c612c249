// The asynchronous instances the host may still name. Every call is counted
// in under the registry's lock before it touches its instance, so a call
// that names a freed instance is refused without reading it.
#pragma once

#include <cstdint>

namespace kestrova::async {

struct AsyncInstance;

namespace registry {

void add(AsyncInstance* instance);

enum class Admission { Admitted, Closing, Unknown };
// A frame request: counted in the instance's inFlight when admitted.
[[nodiscard]] Admission enterRequest(AsyncInstance* instance);
void leaveRequest(AsyncInstance* instance);

// A flush: keeps the instance alive without counting as a request, so the
// flush can wait for the requests to drain.
[[nodiscard]] Admission enterFlush(AsyncInstance* instance);
void leaveFlush(AsyncInstance* instance);

// Sets the instance's closing flag; only the caller that gets Admitted
// goes on to tear it down.
[[nodiscard]] Admission beginClose(AsyncInstance* instance);
// Flushes still inside a closing instance.
int32_t flushesInside(AsyncInstance* instance);
// Forgets a closing instance before it is freed.
void remove(AsyncInstance* instance);

}  // namespace registry
}  // namespace kestrova::async
