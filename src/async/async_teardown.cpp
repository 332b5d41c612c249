// aiFlush and aiClose: both run while requests may still be inside the
// instance, so they wait for the requests to drain, within fixed limits,
// and never take the decode mutex.
#include <chrono>
#include <thread>

#include "async/async_entry.h"
#include "async/async_instance.h"
#include "async/async_registry.h"
#include "platform/platform.h"
#include "support/logger.h"

namespace kestrova::async {
namespace {

using namespace host;

constexpr int64_t kYieldBelowNs = 999'999;
constexpr int64_t kWarnAfterNs = 250'000'000;
constexpr int64_t kGiveUpAfterNs = 9'999'999'999;

// Waits while `inside()` callers are counted: yielding for the first
// millisecond, then in 1 ms sleeps; a warning at 250 ms; false after 10 s.
template <typename Inside>
bool drain(const char* label, const AsyncInstance& instance, Inside inside) {
    const int64_t start = platform::monotonicNanos();
    if (inside() < 1) {
        return true;
    }
    bool warned = false;
    int64_t elapsed = 0;
    while (const int32_t count = inside()) {
        elapsed = platform::monotonicNanos() - start;
        if (elapsed > kGiveUpAfterNs) {
            Logger::log(LogLevel::Error,
                        "%s: %d request(s) still in flight after %lld s for %s -- abandoning the "
                        "drain; a fault caught without unwinding can strand the count",
                        label, count, 10LL, instance.path.c_str());
            return false;
        }
        if (elapsed <= kYieldBelowNs) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!warned && platform::monotonicNanos() - start >= kWarnAfterNs) {
            warned = true;
            Logger::log(LogLevel::Warning,
                        "%s: still draining %d in-flight request(s) after %lld ms for %s", label,
                        count,
                        static_cast<long long>((platform::monotonicNanos() - start) / 1000000),
                        instance.path.c_str());
        }
    }
    if (warned) {
        Logger::log(LogLevel::Warning, "%s: drain finished after %lld ms for %s", label,
                    static_cast<long long>((platform::monotonicNanos() - start) / 1000000),
                    instance.path.c_str());
    }
    return true;
}

}  // namespace

Result aiFlushHandler(void* param) {
    auto* instance = static_cast<AsyncInstance*>(param);
    // A closing instance is stopping its prefetcher for good already.
    if (!instance || registry::enterFlush(instance) != registry::Admission::Admitted) {
        return imNoErr;
    }
    instance->prefetcher.stop(false);
    (void)drain("aiFlush", *instance, [instance] { return instance->inFlight.load(); });
    registry::leaveFlush(instance);
    return imNoErr;
}

Result aiCloseHandler(void* param) {
    auto* instance = static_cast<AsyncInstance*>(param);
    if (!instance || registry::beginClose(instance) != registry::Admission::Admitted) {
        return imNoErr;
    }
    instance->prefetcher.stop(true);
    // A flush inside reads the instance too, though it counts no request.
    const bool drained = drain("aiClose", *instance, [instance] {
        return instance->inFlight.load() + registry::flushesInside(instance);
    });
    if (!drained) {
        Logger::log(LogLevel::Error,
                    "aiClose: abandoning teardown for %s and intentionally leaking the async "
                    "instance; freeing it now would corrupt a still-live reader",
                    instance->path.c_str());
        return imNoErr;
    }
    registry::remove(instance);
    destroyAsyncInstance(instance);
    return imNoErr;
}

}  // namespace kestrova::async
