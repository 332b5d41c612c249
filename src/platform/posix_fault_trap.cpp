// Processor fault trap on POSIX systems. Faults arrive as synchronous signals;
// inside a trapped call the handler jumps back to the call's sigsetjmp point,
// anywhere else it hands the signal to the handler installed before ours.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdlib>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace kestrova::platform {

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr std::size_t kSignalCount = sizeof(kFaultSignals) / sizeof(kFaultSignals[0]);
// How far below the stack's low end a fault still counts as overflow: the
// kernel keeps a gap of this size below a growing stack, and a large frame
// can step over a single guard page.
constexpr uintptr_t kOverflowReach = uintptr_t{1} << 20;
constexpr std::size_t kMinimumAltStackSize = std::size_t{64} << 10;

struct sigaction previousActions[kSignalCount];
uintptr_t pageSize = 4096;

// What the handler reads. The jump pointer is volatile: the store before the
// trapped call must not be moved past it.
struct TrapThreadState {
    sigjmp_buf* volatile armed;
    uintptr_t stackLow;
};
thread_local TrapThreadState trapState{};

// The handler finds this thread's state through a thread-specific key rather
// than reading the thread_local itself: in a module loaded at run time that
// read may allocate the thread's block, which a signal handler must never do
// (the fault may have struck inside the allocator). Initial-exec TLS would
// avoid that but makes the module fail to load once a host has used up the
// process's static TLS space.
pthread_key_t stateKey;
bool stateKeyReady = false;

// Clears the key when the thread ends, before its thread_local state goes.
struct StateRegistration {
    StateRegistration() {
        if (stateKeyReady) {
            pthread_setspecific(stateKey, &trapState);
        }
    }
    ~StateRegistration() {
        if (stateKeyReady) {
            pthread_setspecific(stateKey, nullptr);
        }
    }
    StateRegistration(const StateRegistration&) = delete;
    StateRegistration& operator=(const StateRegistration&) = delete;
};

// The alternate signal stack this thread got from us, released when the
// thread ends. Handlers must run there, because after a stack overflow the
// thread's own stack has no room left.
class AltStack {
  public:
    AltStack() {
        stack_t current{};
        if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) {
            return;  // one is installed already (a sanitizer's, the host's): keep it
        }
        const long minimum = sysconf(_SC_MINSIGSTKSZ);
        size_ = minimum > 0 && static_cast<std::size_t>(minimum) * 4 > kMinimumAltStackSize
                    ? static_cast<std::size_t>(minimum) * 4
                    : kMinimumAltStackSize;
        // Without an alternate stack every fault but stack overflow is still
        // caught, so a failed allocation only costs that.
        memory_.reset(new (std::nothrow) char[size_]);
        if (memory_ == nullptr) {
            return;
        }
        stack_t ours{};
        ours.ss_sp = memory_.get();
        ours.ss_size = size_;
        if (sigaltstack(&ours, nullptr) != 0) {
            memory_.reset();
        }
    }
    ~AltStack() {
        stack_t current{};
        if (memory_ == nullptr || sigaltstack(nullptr, &current) != 0 ||
            current.ss_sp != memory_.get()) {
            return;
        }
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        if (sigaltstack(&off, nullptr) != 0) {
            (void)memory_.release();  // still in use by the system: leak rather than free
        }
    }
    AltStack(const AltStack&) = delete;
    AltStack& operator=(const AltStack&) = delete;

  private:
    std::unique_ptr<char[]> memory_;
    std::size_t size_ = 0;
};

uintptr_t currentStackLow() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) {
        return 0;
    }
    void* low = nullptr;
    std::size_t size = 0;
    const bool known = pthread_attr_getstack(&attributes, &low, &size) == 0;
    pthread_attr_destroy(&attributes);
    return known ? reinterpret_cast<uintptr_t>(low) : 0;
}

bool isStackOverflow(const void* faultAddress, uintptr_t stackLow) {
    const auto address = reinterpret_cast<uintptr_t>(faultAddress);
    const uintptr_t from = stackLow > kOverflowReach ? stackLow - kOverflowReach : 0;
    return stackLow != 0 && address >= from && address < stackLow + pageSize;
}

uint32_t faultCodeFor(int signal, const siginfo_t& info, uintptr_t stackLow) {
    switch (signal) {
        case SIGSEGV:
            return isStackOverflow(info.si_addr, stackLow) ? faultcode::kStackOverflow
                                                           : faultcode::kAccessViolation;
        case SIGBUS:
            return info.si_code == BUS_ADRALN ? faultcode::kMisalignment : faultcode::kInPageError;
        case SIGFPE:
            switch (info.si_code) {
                case FPE_INTDIV:
                    return faultcode::kIntegerDivideByZero;
                case FPE_FLTDIV:
                    return faultcode::kFloatDivideByZero;
                default:
                    return faultcode::kFloatInvalid;
            }
        default:
            return info.si_code == ILL_PRVOPC ? faultcode::kPrivilegedInstruction
                                              : faultcode::kIllegalInstruction;
    }
}

void restoreDefault(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
}

// Passes a fault that is not ours on as if our handler were not there.
void forwardToPrevious(std::size_t index, int signal, siginfo_t* info, void* context) {
    const struct sigaction& previous = previousActions[index];
    const bool sent = info->si_code <= 0;  // by kill() or raise(), not by the processor
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
        if (previous.sa_sigaction != nullptr) {
            pthread_sigmask(SIG_BLOCK, &previous.sa_mask, nullptr);
            previous.sa_sigaction(signal, info, context);
            return;
        }
    } else if (previous.sa_handler == SIG_IGN && sent) {
        return;
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        pthread_sigmask(SIG_BLOCK, &previous.sa_mask, nullptr);
        previous.sa_handler(signal);
        return;
    }
    // Default action. Ignoring a processor fault would re-run the faulting
    // instruction forever, so that too ends the process the default way: the
    // signal raised now is delivered, with its default action, on return.
    restoreDefault(signal);
    raise(signal);
}

void onFault(int signal, siginfo_t* info, void* context) {
    auto* const state =
        stateKeyReady ? static_cast<TrapThreadState*>(pthread_getspecific(stateKey)) : nullptr;
    sigjmp_buf* const armed = state != nullptr ? state->armed : nullptr;
    if (armed != nullptr && info->si_code > 0) {
        siglongjmp(*armed, static_cast<int>(faultCodeFor(signal, *info, state->stackLow)));
    }
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        if (kFaultSignals[i] == signal) {
            forwardToPrevious(i, signal, info, context);
            return;
        }
    }
}

bool installHandlers() {
    // The handlers stay installed for the life of the process, so the code
    // they point into must too: a host that unloads the module and then
    // faults must still reach its own handler through ours.
    pinOwnModule();
    stateKeyReady = pthread_key_create(&stateKey, nullptr) == 0;
    const long page = sysconf(_SC_PAGESIZE);
    if (page > 0) {
        pageSize = static_cast<uintptr_t>(page);
    }
    struct sigaction ours {};
    ours.sa_sigaction = &onFault;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    bool installed = true;
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        installed = sigaction(kFaultSignals[i], &ours, &previousActions[i]) == 0 && installed;
    }
    return installed;
}

void prepareThread() {
    static const bool handlersInstalled = installHandlers();
    (void)handlersInstalled;
    thread_local const AltStack altStack;
    thread_local const StateRegistration registration;
    if (trapState.stackLow == 0) {
        trapState.stackLow = currentStackLow();
    }
}

}  // namespace

bool runTrapped(TrappedFunction function, void* argument, int32_t& result, uint32_t& faultCode) {
    prepareThread();
    // Nested trapped calls each jump back to their own point.
    sigjmp_buf* const outer = trapState.armed;
    sigjmp_buf point;
    // Restoring the signal mask on the jump lets the same signal be caught
    // again later on this thread.
    const int code = sigsetjmp(point, 1);
    if (code != 0) {
        trapState.armed = outer;
        faultCode = static_cast<uint32_t>(code);
        return false;
    }
    trapState.armed = &point;
    try {
        result = function(argument);
    } catch (...) {
        trapState.armed = outer;
        throw;
    }
    trapState.armed = outer;
    return true;
}

}  // namespace kestrova::platform
