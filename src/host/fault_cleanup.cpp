#include "host/fault_cleanup.h"

namespace kestrova::host {
namespace {

struct HeldEntry {
    FaultCleanup::Release release;
    void* object;
};

// A selector holds one clip at a time; nested guarded calls add a few more.
constexpr std::size_t kCapacity = 16;

struct HeldTable {
    HeldEntry entries[kCapacity];
    std::size_t count = 0;
    // Pushes that found the table full, so their pops must not remove others.
    std::size_t overflow = 0;
};
thread_local HeldTable table;

}  // namespace

void FaultCleanup::push(Release release, void* object) noexcept {
    if (table.count == kCapacity) {
        ++table.overflow;
        return;
    }
    table.entries[table.count++] = HeldEntry{release, object};
}

void FaultCleanup::pop(void* object) noexcept {
    if (table.overflow > 0) {
        --table.overflow;
        return;
    }
    if (table.count > 0 && table.entries[table.count - 1].object == object) {
        --table.count;
    }
}

std::size_t FaultCleanup::depth() noexcept {
    return table.count;
}

void FaultCleanup::releaseAbove(std::size_t depth) noexcept {
    table.overflow = 0;
    while (table.count > depth) {
        const HeldEntry entry = table.entries[--table.count];
        entry.release(entry.object);
    }
}

}  // namespace kestrova::host
