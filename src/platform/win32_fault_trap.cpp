// Processor fault trap on Windows. Faults arrive as structured exceptions and
// a vectored handler sees them first. Inside a trapped call it points the
// faulting thread at a landing function and lets the dispatcher finish, so
// the dispatcher's own bookkeeping stays whole; the landing jumps back to the
// call's point. Anywhere else the exception goes on to the host's handlers.
// (mingw's g++ has no __try, and this also works the same under every
// compiler.)
#include <malloc.h>
#include <windows.h>

#include "platform/platform.h"

namespace kestrova::platform {

namespace {

// How far below the trapped call the landing runs after a stack overflow:
// the frames there are abandoned and their pages were committed on the way
// down, while below the fault only the system's small reserve is left.
constexpr uintptr_t kLandingDepth = 16 * 1024;

struct JumpPoint {
    void* buffer[5];  // the layout __builtin_setjmp uses
    uintptr_t landingStack;
    JumpPoint* outer;
    volatile DWORD code;
};

// The innermost armed point of each thread, in a system TLS slot: reading it
// never allocates, which the handler relies on.
DWORD pointSlot = TLS_OUT_OF_INDEXES;
PVOID handler = nullptr;

bool isProcessorFault(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_DATATYPE_MISALIGNMENT:
        case EXCEPTION_IN_PAGE_ERROR:
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_INT_OVERFLOW:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_OVERFLOW:
        case EXCEPTION_FLT_UNDERFLOW:
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_STACK_CHECK:
        case EXCEPTION_PRIV_INSTRUCTION:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_STACK_OVERFLOW:
            return true;
        default:
            return false;  // C++ exceptions, debugger notices and the like
    }
}

JumpPoint* armedPoint() {
    return pointSlot == TLS_OUT_OF_INDEXES ? nullptr
                                           : static_cast<JumpPoint*>(TlsGetValue(pointSlot));
}

[[noreturn]] __attribute__((noinline)) void landAtArmedPoint() {
    __builtin_longjmp(armedPoint()->buffer, 1);
}

LONG CALLBACK onException(EXCEPTION_POINTERS* exception) {
    const DWORD code = exception->ExceptionRecord->ExceptionCode;
    JumpPoint* const point = isProcessorFault(code) ? armedPoint() : nullptr;
    if (point == nullptr) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    point->code = code;
    CONTEXT& context = *exception->ContextRecord;
    const uintptr_t stack =
        code == EXCEPTION_STACK_OVERFLOW ? point->landingStack : uintptr_t{context.Rsp};
    // Aligned as on entry to a function after its call.
    context.Rsp = (stack & ~uintptr_t{15}) - 8;
    context.Rip = reinterpret_cast<DWORD64>(&landAtArmedPoint);
    return EXCEPTION_CONTINUE_EXECUTION;
}

bool installHandler() {
    pointSlot = TlsAlloc();
    if (pointSlot == TLS_OUT_OF_INDEXES) {
        return false;
    }
    handler = AddVectoredExceptionHandler(1, &onException);
    return handler != nullptr;
}

// The handler points into this module, so it goes when the module does.
struct HandlerRemoval {
    HandlerRemoval() = default;
    ~HandlerRemoval() {
        if (handler != nullptr) {
            RemoveVectoredExceptionHandler(handler);
        }
        if (pointSlot != TLS_OUT_OF_INDEXES) {
            TlsFree(pointSlot);
        }
    }
    HandlerRemoval(const HandlerRemoval&) = delete;
    HandlerRemoval& operator=(const HandlerRemoval&) = delete;
} handlerRemoval;

}  // namespace

bool runTrapped(TrappedFunction function, void* argument, int32_t& result, uint32_t& faultCode) {
    static const bool installed = installHandler();
    if (!installed) {
        result = function(argument);
        return true;
    }
    JumpPoint point{};
    volatile char marker = 0;
    point.landingStack = reinterpret_cast<uintptr_t>(&marker) - kLandingDepth;
    // Nested trapped calls each jump back to their own point.
    point.outer = armedPoint();
    if (__builtin_setjmp(point.buffer) != 0) {
        TlsSetValue(pointSlot, point.outer);
        faultCode = point.code;
        if (faultCode == EXCEPTION_STACK_OVERFLOW) {
            // The overflow used up the guard page; without it the next
            // overflow on this thread would end the process.
            _resetstkoflw();
        }
        return false;
    }
    TlsSetValue(pointSlot, &point);
    try {
        result = function(argument);
    } catch (...) {
        TlsSetValue(pointSlot, point.outer);
        throw;
    }
    TlsSetValue(pointSlot, point.outer);
    return true;
}

}  // namespace kestrova::platform
