// Every clip instance the host may still name. A selector is counted in under
// the registry's lock before it touches its instance, so imCloseFile can
// refuse newcomers and free the instance only once no counted caller is
// inside it or waiting for its lock; a call that names a closed instance is
// refused without reading it.
#pragma once

#include <cstdint>

namespace kestrova::host {

class ClipInstance;

namespace clipregistry {

void add(ClipInstance* instance);
// Counts the caller in; false when the instance is unknown or closing.
[[nodiscard]] bool enter(ClipInstance* instance);
void leave(ClipInstance* instance);

enum class CloseStart { Started, AlreadyClosing, Unknown };
// Marks the instance closing (its closing flag too): from now on `enter`
// refuses it. Only the caller that gets Started may go on to free it.
CloseStart beginClose(ClipInstance* instance);
// Callers counted in and not yet left.
int32_t occupants(ClipInstance* instance);
// Forgets a closing instance before it is freed.
void remove(ClipInstance* instance);

}  // namespace clipregistry
}  // namespace kestrova::host
