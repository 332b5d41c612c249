#include "async/async_registry.h"

#include <mutex>
#include <unordered_map>

#include "async/async_instance.h"

namespace kestrova::async::registry {
namespace {

struct Registry {
    std::mutex mutex;
    // Flushes inside each live instance.
    std::unordered_map<const AsyncInstance*, int32_t> flushes;
};

// Never destroyed: a leaked instance may still be left while the process exits.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

}  // namespace

void add(AsyncInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.flushes[instance] = 0;
}

Admission enterRequest(AsyncInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.flushes.count(instance) == 0) {
        return Admission::Unknown;
    }
    if (instance->closing) {
        return Admission::Closing;
    }
    // Counted before the second look, so a close either is seen here or
    // finds this request counted when its drain starts.
    ++instance->inFlight;
    if (instance->closing) {
        --instance->inFlight;
        return Admission::Closing;
    }
    return Admission::Admitted;
}

void leaveRequest(AsyncInstance* instance) {
    // The last touch of the instance: aiClose may free it right after.
    --instance->inFlight;
}

Admission enterFlush(AsyncInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.flushes.find(instance);
    if (found == r.flushes.end()) {
        return Admission::Unknown;
    }
    if (instance->closing) {
        return Admission::Closing;
    }
    ++found->second;
    return Admission::Admitted;
}

void leaveFlush(AsyncInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (const auto found = r.flushes.find(instance); found != r.flushes.end()) {
        --found->second;
    }
}

Admission beginClose(AsyncInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.flushes.count(instance) == 0) {
        return Admission::Unknown;
    }
    if (instance->closing.exchange(true)) {
        return Admission::Closing;
    }
    return Admission::Admitted;
}

int32_t flushesInside(AsyncInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.flushes.find(instance);
    return found == r.flushes.end() ? 0 : found->second;
}

void remove(AsyncInstance* instance) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.flushes.erase(instance);
}

}  // namespace kestrova::async::registry
