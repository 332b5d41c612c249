#include "host/clip_registry.h"

#include <mutex>
#include <unordered_map>

#include "host/clip_instance.h"

namespace kestrova::host::clipregistry {
namespace {

struct Entry {
    int32_t occupants = 0;
    bool closing = false;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<const ClipInstance*, Entry> entries;
};

// Never destroyed: a detached thread or a leaked instance may still leave
// it while the process exits.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

}  // namespace

void add(ClipInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.entries[instance] = Entry{};
}

bool enter(ClipInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.entries.find(instance);
    if (found == r.entries.end() || found->second.closing) {
        return false;
    }
    ++found->second.occupants;
    return true;
}

void leave(ClipInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.entries.find(instance);
    if (found != r.entries.end() && found->second.occupants > 0) {
        --found->second.occupants;
    }
}

CloseStart beginClose(ClipInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.entries.find(instance);
    if (found == r.entries.end()) {
        return CloseStart::Unknown;
    }
    if (found->second.closing) {
        return CloseStart::AlreadyClosing;
    }
    found->second.closing = true;
    instance->closing = true;
    return CloseStart::Started;
}

int32_t occupants(ClipInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.entries.find(instance);
    return found == r.entries.end() ? 0 : found->second.occupants;
}

void remove(ClipInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.entries.erase(instance);
}

}  // namespace kestrova::host::clipregistry
