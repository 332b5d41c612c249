// The guard prepares each new thread for the fault trap before the guarded
// call; running out of memory there must not escape to the host either.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <thread>

#include "host/boundary_guard.h"

namespace {

// Large array allocations fail on a thread that asks for it; the fault
// trap's alternate signal stack is the only such allocation on its path.
thread_local bool gFailLargeArrays = false;
constexpr std::size_t kLargeArray = std::size_t{32} << 10;

}  // namespace

void* operator new[](std::size_t size) {
    if (gFailLargeArrays && size >= kLargeArray) {
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size > 0 ? size : 1)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}
// Every array form is replaced, so blocks from one are freed by its partner.
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

namespace kestrova::host {
namespace {

TEST(GuardThreadSetup, OutOfMemoryWhilePreparingANewThreadStaysInside) {
    bool escaped = false;
    Result result = -1;
    std::thread([&] {
        gFailLargeArrays = true;
        try {
            result = HostBoundaryGuard([](void*) -> Result { return 7; }, nullptr, 5,
                                       "xImportEntry", "imGetInfo8", 37);
        } catch (...) {
            escaped = true;
        }
        gFailLargeArrays = false;
    }).join();
    EXPECT_FALSE(escaped);
    // Without an alternate stack only stack overflow goes uncaught; the call runs.
    EXPECT_EQ(result, 7);
}

}  // namespace
}  // namespace kestrova::host
