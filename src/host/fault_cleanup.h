// What a guarded call holds that a processor fault would leave held. The
// fault trap returns to the guard by a long jump, which skips destructors, so
// a lock taken inside the call would stay taken and the next caller would
// wait on it forever; the guard releases what is registered here instead.
#pragma once

#include <cstddef>

namespace kestrova::host {

class FaultCleanup {
  public:
    using Release = void (*)(void* object) noexcept;

    // Registers `object` as held by this thread until `pop`. When the
    // thread's table is full the object is not registered: a fault then
    // leaves it held, as it would without the table.
    static void push(Release release, void* object) noexcept;
    // Unregisters the newest entry when it is `object`.
    static void pop(void* object) noexcept;
    // How many entries this thread has registered.
    static std::size_t depth() noexcept;
    // Releases, newest first, every entry registered after `depth` was read.
    static void releaseAbove(std::size_t depth) noexcept;
};

}  // namespace kestrova::host
