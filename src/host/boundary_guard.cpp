#include "host/boundary_guard.h"

#include <cstdio>
#include <exception>
#include <new>

#include "host/fault_cleanup.h"
#include "platform/platform.h"
#include "support/logger.h"

namespace kestrova::host {

namespace {

struct GuardedCall {
    GuardedFunction function;
    void* arguments;
    Result failureValue;
    const char* location;
    const char* selectorName;
    long long selectorNumber;
};

const char* exceptionDetail(const std::exception& error) noexcept {
    try {
        const char* text = error.what();
        if (text == nullptr) {
            return "(null)";
        }
        return text[0] == '\0' ? "no detail" : text;
    } catch (...) {
        return "(what() threw)";
    }
}

void reportException(const GuardedCall& call, const char* kind, const char* detail) noexcept {
    try {
        Logger::log(LogLevel::Error,
                    "%s: %s stopped at the host boundary in %s (selector %lld): %s -- returning "
                    "an error to the host instead of crashing",
                    call.location, kind, call.selectorName, call.selectorNumber, detail);
    } catch (...) {
        // Nothing more can be reported; the failure value still goes back.
    }
}

// The inner protection: exceptions, in the trapped call so faults raised
// while reporting them are caught too.
int32_t runCatching(void* argument) {
    const auto& call = *static_cast<const GuardedCall*>(argument);
    try {
        return call.function(call.arguments);
    } catch (const std::bad_alloc& error) {
        reportException(call, "std::bad_alloc", exceptionDetail(error));
    } catch (const std::exception& error) {
        reportException(call, "std::exception", exceptionDetail(error));
    } catch (...) {
        reportException(call, "unknown exception", "not derived from std::exception");
    }
    return call.failureValue;
}

void reportFault(const GuardedCall& call, uint32_t code) {
    // The Windows build reports before unwinding, on the exhausted stack, so
    // this line is never formatted; both builds write the same text.
    if (code == platform::faultcode::kStackOverflow) {
        Logger::writeRaw("host boundary: stack overflow, call aborted");
        return;
    }
    char line[256];
    std::snprintf(line, sizeof(line),
                  "%s: %s (0x%08lX) stopped at the host boundary in %s (selector %lld) -- "
                  "returning an error to the host instead of crashing",
                  call.location, faultDescription(code), static_cast<unsigned long>(code),
                  call.selectorName, call.selectorNumber);
    Logger::writeRaw(line);
}

}  // namespace

Result HostBoundaryGuard(GuardedFunction function, void* arguments, Result failureValue,
                         const char* location, const char* selectorName, long long selectorNumber) {
    if (function == nullptr) {
        return failureValue;
    }
    GuardedCall call{function,
                     arguments,
                     failureValue,
                     location != nullptr ? location : "host boundary",
                     selectorName != nullptr ? selectorName : "unknown selector",
                     selectorNumber};
    int32_t result = failureValue;
    uint32_t code = 0;
    const std::size_t heldBefore = FaultCleanup::depth();
    bool completed = false;
    try {
        completed = platform::runTrapped(&runCatching, &call, result, code);
    } catch (const std::bad_alloc& error) {
        // The trap's preparation of a new thread allocates before the call.
        reportException(call, "std::bad_alloc", exceptionDetail(error));
        return failureValue;
    } catch (...) {
        reportException(call, "unknown exception", "while preparing the fault trap");
        return failureValue;
    }
    if (completed) {
        return result;
    }
    reportFault(call, code);
    // The jump back skipped every destructor inside the call.
    FaultCleanup::releaseAbove(heldBefore);
    return failureValue;
}

const char* faultDescription(uint32_t code) {
    switch (code) {
        case 0xC0000005:
            return "access violation";
        case 0x80000002:
            return "datatype misalignment";
        case 0xC000008C:
            return "array bounds exceeded";
        case 0xC0000006:
            return "in-page error (backing I/O failed)";
        case 0xC000001D:
            return "illegal instruction";
        case 0xC0000096:
            return "privileged instruction";
        case 0xE06D7363:
            return "unhandled C++ exception";
        case 0xC0000094:
            return "integer divide by zero";
        case 0xC000008D:
            return "denormal float operand";
        case 0xC000008E:
            return "float divide by zero";
        case 0xC0000090:
            return "invalid float operation";
        default:
            return "structured exception";
    }
}

void CallbackGuard(const char* callbackName, const char* detail) noexcept {
    try {
        Logger::log(LogLevel::Error,
                    "%s: exception swallowed inside a C callback (%s); propagating it through "
                    "FFmpeg would be undefined behaviour",
                    callbackName != nullptr ? callbackName : "callback",
                    detail != nullptr && detail[0] != '\0' ? detail : "no detail");
    } catch (...) {
        // The callback must return normally whatever happens here.
    }
}

}  // namespace kestrova::host
