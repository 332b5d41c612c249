// The host boundary guard and the processor fault trap beneath it.
#include "host/boundary_guard.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <csignal>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "support/logger.h"
#include "test_support.h"

namespace kestrova::host {
namespace {

// Deliberate faults: volatile operands hide them from the optimiser, and the
// undefined-behaviour sanitizer is off so the processor reports each one.

int* volatile gNullTarget = nullptr;
volatile int gZero = 0;
volatile double gZeroDouble = 0.0;
volatile bool gStopRecursion = false;

#define FAULTING __attribute__((noinline, no_sanitize("undefined"))) int32_t
FAULTING writeThroughNull(void*) {
    return *gNullTarget = 1;
}
FAULTING divideByZero(void*) {
    return 7 / gZero;
}
// The handler runs with a fresh floating-point state: masked again after the trap.
FAULTING divideFloatByZero(void*) {
    feenableexcept(FE_DIVBYZERO);
    const double quotient = 1.0 / gZeroDouble;
    fedisableexcept(FE_DIVBYZERO);
    return quotient > 0.0 ? 1 : 0;
}
FAULTING executeIllegalInstruction(void*) {
    __builtin_trap();
}
FAULTING overflowStack(void* depth) {
    volatile char frame[512];
    frame[0] = 1;
    return gStopRecursion ? 0 : overflowStack(depth) + frame[0];
}

constexpr const char* kTail = " -- returning an error to the host instead of crashing";

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + 1), ++count) {
    }
    return count;
}

Result guard47(GuardedFunction function) {
    return HostBoundaryGuard(function, nullptr, 5, "xImportEntry", "imGetSourceVideo", 47);
}

class BoundaryGuard : public testing::Test {
  protected:
    void SetUp() override {
        Logger::close();
        Logger::setLevel(3);
        // Opens the log, so fault reports go to it rather than standard error.
        Logger::log(LogLevel::Error, "guard test begins");
    }
    void TearDown() override { Logger::close(); }
    std::string logText() { return Logger::close(), test::readFile(test::logFileIn(dir_)); }

    test::TempDir dir_;
    test::ScopedEnv env_{"LOCALAPPDATA", dir_.str().c_str()};
};

struct NullWhat : std::exception {
    const char* what() const noexcept override { return nullptr; }
};

template <typename Thrown>
Result thrower(void*) {
    throw Thrown();
}

// One example per exception kind; unnamed entries and selectors get fallbacks.
TEST_F(BoundaryGuard, ExceptionBecomesOneErrorLineAndTheFailureValue) {
    const std::tuple<GuardedFunction, const char*, const char*> cases[] = {
        {&thrower<std::bad_alloc>, "std::bad_alloc", "std::bad_alloc"},
        {&thrower<NullWhat>, "std::exception", "(null)"},
        {&thrower<int>, "unknown exception", "not derived from std::exception"}};
    auto echo = [](void* arguments) { return *static_cast<Result*>(arguments); };
    Result value = 400;  // a call that returns passes its value through, writing nothing
    EXPECT_EQ(HostBoundaryGuard(echo, &value, 5, "xImportEntry", "imInit", 0), 400);
    EXPECT_EQ(HostBoundaryGuard(nullptr, &value, 5, "xImportEntry", "imInit", 0), 5);
    for (const auto& [function, kind, detail] : cases) {
        EXPECT_EQ(HostBoundaryGuard(function, nullptr, 5, "xImportEntry", "imGetInfo8", 37), 5);
        EXPECT_EQ(HostBoundaryGuard(function, nullptr, 2, nullptr, nullptr, -1), 2);
    }
    const std::string text = logText();
    EXPECT_EQ(countOf(text, "[ERR ] "), 1 + 2 * std::size(cases)) << text;
    for (const auto& [function, kind, detail] : cases) {
        const std::string what = std::string(kind) + " stopped at the host boundary in ";
        const std::string tail = std::string(": ") + detail + kTail + "\n";
        EXPECT_EQ(countOf(text, "] xImportEntry: " + what + "imGetInfo8 (selector 37)" + tail), 1u);
        EXPECT_EQ(
            countOf(text, "] host boundary: " + what + "unknown selector (selector -1)" + tail),
            1u);
    }
}

// A caught fault leaves the trap armed: twice on this thread, twice on another.
TEST_F(BoundaryGuard, FaultIsCaughtEveryTimeOnAnyThread) {
    const std::pair<GuardedFunction, const char*> cases[] = {
        {&writeThroughNull, "access violation (0xC0000005)"},
        {&divideByZero, "integer divide by zero (0xC0000094)"},
        {&divideFloatByZero, "float divide by zero (0xC000008E)"},
        {&executeIllegalInstruction, "illegal instruction (0xC000001D)"},
        {&overflowStack, nullptr}};  // reported with a fixed line
    for (const auto& [function, description] : cases) {
        auto twice = [f = function] {
            EXPECT_EQ(std::pair(guard47(f), guard47(f)), std::pair(5, 5));
        };
        twice();
        std::thread(twice).join();
    }
    const std::string text = logText();
    for (const auto& [function, description] : cases) {
        const std::string line =
            description == nullptr
                ? "host boundary: stack overflow, call aborted"
                : std::string("xImportEntry: ") + description +
                      " stopped at the host boundary in imGetSourceVideo (selector 47)" + kTail;
        EXPECT_EQ(countOf(text, "\n" + line + "\n"), 4u) << line;
    }
}

// The inner guard reports its own fault; the outer one is armed again after it.
TEST_F(BoundaryGuard, NestedGuardsEachCatchTheirOwnFault) {
    auto outer = [](void*) -> Result {
        const Result inner =
            HostBoundaryGuard(&divideByZero, nullptr, 2, "AsyncImporterEntry", "aiGetFrame", 3);
        return inner == 2 ? writeThroughNull(nullptr) : 7;
    };
    EXPECT_EQ(HostBoundaryGuard(outer, nullptr, 5, "xImportEntry", "imCreateAsyncImporter", 46), 5);
    const std::string text = logText();
    EXPECT_EQ(countOf(text, "stopped at the host boundary"), 2u);
    EXPECT_EQ(countOf(text, "\nAsyncImporterEntry: integer divide by zero (0xC0000094)"), 1u);
    EXPECT_EQ(
        countOf(text, std::string("\nxImportEntry: access violation (0xC0000005)") +
                          " stopped at the host boundary in imCreateAsyncImporter (selector 46)"),
        1u);
}

namespace fault = platform::faultcode;

uint32_t faultOf(platform::TrappedFunction function) {
    int32_t result = 0;
    uint32_t code = 0;
    return platform::runTrapped(function, nullptr, result, code) ? 0 : code;
}

// Each thread has its own trap state and signal stack.
TEST(FaultTrap, ManyThreadsTrapAtOnce) {
    std::vector<std::jthread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([overflow = i % 2 == 1] {
            EXPECT_EQ(faultOf(overflow ? &overflowStack : &writeThroughNull),
                      overflow ? fault::kStackOverflow : fault::kAccessViolation);
        });
    }
}

// An untrapped fault goes to the handler installed before the trap, or ends the
// process; the trap installs its handlers once, so each case runs in a fresh process.
volatile int gPreviousHandlerExit = 41;

TEST(FaultTrapDeathTest, UntrappedFaultGoesToThePreviousHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            struct sigaction action {};
            action.sa_handler = [](int) { std::_Exit(gPreviousHandlerExit); };
            sigemptyset(&action.sa_mask);
            sigaction(SIGSEGV, &action, nullptr);
            if (faultOf(&writeThroughNull) == fault::kAccessViolation) {
                gPreviousHandlerExit = 42;
            }
            writeThroughNull(nullptr);
        },
        testing::ExitedWithCode(42), "");
    EXPECT_EXIT(
        {
            std::signal(SIGFPE, SIG_DFL);
            if (faultOf(&divideByZero) == fault::kIntegerDivideByZero) {
                divideByZero(nullptr);
            }
            std::_Exit(41);
        },
        testing::KilledBySignal(SIGFPE), "");
}

TEST_F(BoundaryGuard, CallbackGuardWritesOneErrorLineEach) {
    CallbackGuard("av_log bridge", "while formatting an FFmpeg diagnostic");
    CallbackGuard(nullptr, nullptr);
    const std::string text = logText();
    const std::string swallowed = "exception swallowed inside a C callback (";
    const std::string tail = "; propagating it through FFmpeg would be undefined behaviour\n";
    EXPECT_EQ(countOf(text, "[ERR ] "), 3u) << text;  // the test's first line, then the reports
    EXPECT_EQ(countOf(text, "] av_log bridge: " + swallowed +
                                "while formatting an FFmpeg diagnostic)" + tail),
              1u);
    EXPECT_EQ(countOf(text, "] callback: " + swallowed + "no detail)" + tail), 1u);
}

}  // namespace
}  // namespace kestrova::host
