#include "async/async_entry.h"

#include "async/async_instance.h"
#include "async/async_registry.h"
#include "host/boundary_guard.h"

namespace kestrova::async {
namespace {

using namespace host;

struct AsyncArguments {
    Selector selector;
    void* param;
};

// Leaves the instance on every path, unwinding included.
class AdmittedRequest {
  public:
    explicit AdmittedRequest(AsyncInstance* instance) : instance_(instance) {}
    ~AdmittedRequest() { registry::leaveRequest(instance_); }
    AdmittedRequest(const AdmittedRequest&) = delete;
    AdmittedRequest& operator=(const AdmittedRequest&) = delete;

  private:
    AsyncInstance* instance_;
};

// Selectors whose record begins with the instance: refused with 2 (0 and 3)
// or 1 (6 and 7) without one, with 3 or 1 while the instance closes.
Result admitted(Selector selector, void* record) {
    const bool frameSelector = selector == aiInitiateAsyncRead || selector == aiGetFrame;
    const Result missing = frameSelector ? aiFailure : aiNotHandled;
    const Result refused = frameSelector ? aiClosing : aiNotHandled;
    auto* instance = record ? readField<AsyncInstance*>(record, asyncrec::kPrivateData) : nullptr;
    if (!instance) {
        return missing;
    }
    switch (registry::enterRequest(instance)) {
        case registry::Admission::Unknown:
            return missing;
        case registry::Admission::Closing:
            return refused;
        case registry::Admission::Admitted:
            break;
    }
    const AdmittedRequest request(instance);
    switch (selector) {
        case aiGetFrame:
            return aiGetFrameHandler(*instance, record);
        case aiSelectEfficientRenderTime:
            return aiSelectEfficientRenderTimeHandler(*instance, record);
        case aiGetMinPlaybackSpeedForSelectingEfficientTime:
            writeField<double>(record, asyncspeedrec::kSpeed, 2.0);
            return imNoErr;
        default:  // aiInitiateAsyncRead: accepted without work
            return imNoErr;
    }
}

Result dispatchAsync(void* arguments) {
    const auto* args = static_cast<const AsyncArguments*>(arguments);
    switch (args->selector) {
        case aiInitiateAsyncRead:
        case aiGetFrame:
        case aiSelectEfficientRenderTime:
        case aiGetMinPlaybackSpeedForSelectingEfficientTime:
            return admitted(args->selector, args->param);
        case aiCancelAsyncRead:
        case aiContinueToWaitForAsyncIO:
            return imNoErr;
        case aiFlush:
            return aiFlushHandler(args->param);
        case aiClose:
            return aiCloseHandler(args->param);
        default:
            return aiNotHandled;
    }
}

}  // namespace

const char* asyncSelectorName(Selector selector) {
    switch (selector) {
        case aiInitiateAsyncRead:
            return "aiInitiateAsyncRead";
        case aiCancelAsyncRead:
            return "aiCancelAsyncRead";
        case aiFlush:
            return "aiFlush";
        case aiGetFrame:
            return "aiGetFrame";
        case aiClose:
            return "aiClose";
        case aiContinueToWaitForAsyncIO:
            return "aiContinueToWaitForAsyncIO";
        case aiSelectEfficientRenderTime:
            return "aiSelectEfficientRenderTime";
        case aiGetMinPlaybackSpeedForSelectingEfficientTime:
            return "aiGetMinPlaybackSpeedForSelectingEfficientTime";
        default:
            return "unrecognised selector";
    }
}

Result AsyncImporterEntry(Selector selector, void* param) {
    AsyncArguments arguments{selector, param};
    return HostBoundaryGuard(&dispatchAsync, &arguments, aiFailure, "AsyncImporterEntry",
                             asyncSelectorName(selector), selector);
}

}  // namespace kestrova::async
