#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

#include "deliberate_faults.h"
#include "platform/platform.h"

namespace kestrova::platform {
namespace {

struct FaultCase {
    const char* name;
    TrappedFunction function;
    uint32_t code;
};

const FaultCase kFaults[] = {
    {"NullWrite", &test::writeThroughNull, faultcode::kAccessViolation},
    {"IntegerDivide", &test::divideByZero, faultcode::kIntegerDivideByZero},
    {"FloatDivide", &test::divideFloatByZero, faultcode::kFloatDivideByZero},
    {"IllegalInstruction", &test::executeIllegalInstruction, faultcode::kIllegalInstruction},
    {"StackOverflow", &test::overflowStack, faultcode::kStackOverflow},
};

int32_t answer(void* argument) {
    return *static_cast<int32_t*>(argument);
}

// Runs `function` trapped and returns the fault code, or 0 when none.
uint32_t faultOf(TrappedFunction function) {
    int32_t result = -1;
    uint32_t code = 0;
    const bool completed = runTrapped(function, nullptr, result, code);
    std::feclearexcept(FE_ALL_EXCEPT);
    return completed ? 0 : code;
}

class FaultTrap : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultTrap, ReportsTheFaultEveryTimeOnTheSameThread) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(faultOf(GetParam().function), GetParam().code) << "attempt " << attempt;
    }
    int32_t value = 17;
    int32_t result = 0;
    uint32_t code = 0;
    EXPECT_TRUE(runTrapped(&answer, &value, result, code));
    EXPECT_EQ(result, 17);
}

TEST_P(FaultTrap, ReportsTheFaultOnAnotherThread) {
    uint32_t codes[2] = {};
    std::thread([&] {
        for (uint32_t& code : codes) {
            code = faultOf(GetParam().function);
        }
    }).join();
    EXPECT_EQ(codes[0], GetParam().code);
    EXPECT_EQ(codes[1], GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Platform, FaultTrap, testing::ValuesIn(kFaults),
                         [](const auto& info) { return info.param.name; });

TEST(FaultTrapNesting, InnerFaultStaysInTheInnerCall) {
    auto outer = [](void*) -> int32_t {
        const uint32_t inner = faultOf(&test::writeThroughNull);
        return inner == faultcode::kAccessViolation ? 5 : -5;
    };
    int32_t result = 0;
    uint32_t code = 0;
    EXPECT_TRUE(runTrapped(outer, nullptr, result, code));
    EXPECT_EQ(result, 5);
}

TEST(FaultTrapNesting, OuterCallCatchesAFaultAfterAnInnerCall) {
    auto outer = [](void*) -> int32_t {
        int32_t value = 3;
        int32_t result = 0;
        uint32_t code = 0;
        runTrapped(&answer, &value, result, code);
        return test::divideByZero(nullptr);
    };
    EXPECT_EQ(faultOf(outer), faultcode::kIntegerDivideByZero);
}

TEST(FaultTrapThreads, ManyThreadsTrapAtOnce) {
    std::vector<std::thread> threads;
    std::vector<uint32_t> codes(8, 0);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        threads.emplace_back([&codes, i] {
            codes[i] = faultOf(i % 2 == 0 ? &test::writeThroughNull : &test::overflowStack);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < codes.size(); ++i) {
        EXPECT_EQ(codes[i], i % 2 == 0 ? faultcode::kAccessViolation : faultcode::kStackOverflow);
    }
}

// The trap installs its handlers once per process, so these tests need a
// process in which nothing has been trapped yet: each runs in a freshly
// started copy of the test program.
volatile int gPreviousHandlerExit = 41;

void previousHandler(int) {
    std::_Exit(gPreviousHandlerExit);
}

int32_t throwFromTrappedCall(void*) {
    throw 7;
}

void faultAfterTrappedCalls() {
    int32_t result = 0;
    uint32_t code = 0;
    try {
        runTrapped(&throwFromTrappedCall, nullptr, result, code);
    } catch (int) {
        // The exception passes through; the trap must be disarmed after it.
    }
    if (faultOf(&test::writeThroughNull) == faultcode::kAccessViolation) {
        gPreviousHandlerExit = 42;
    }
    test::writeThroughNull(nullptr);
}

TEST(FaultTrapDeathTest, UntrappedFaultReachesThePreviousHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            struct sigaction action {};
            action.sa_handler = &previousHandler;
            sigemptyset(&action.sa_mask);
            sigaction(SIGSEGV, &action, nullptr);
            faultAfterTrappedCalls();
        },
        testing::ExitedWithCode(42), "");
}

TEST(FaultTrapDeathTest, UntrappedFaultWithDefaultHandlingEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::signal(SIGFPE, SIG_DFL);
            if (faultOf(&test::divideByZero) == faultcode::kIntegerDivideByZero) {
                test::divideByZero(nullptr);
            }
            std::_Exit(41);
        },
        testing::KilledBySignal(SIGFPE), "");
}

}  // namespace
}  // namespace kestrova::platform
