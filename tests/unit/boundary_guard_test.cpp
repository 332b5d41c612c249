#include "host/boundary_guard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "deliberate_faults.h"
#include "host/selector_names.h"
#include "support/logger.h"
#include "test_support.h"

namespace kestrova::host {
namespace {

constexpr const char* kTail = " -- returning an error to the host instead of crashing";

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Every line the guard writes lands in a log of the test's own.
class BoundaryGuard : public testing::Test {
  protected:
    void SetUp() override {
        Logger::close();
        Logger::setLevel(3);
        // Opens the log, so fault reports go to it rather than standard error.
        Logger::log(LogLevel::Error, "guard test begins");
    }
    void TearDown() override {
        Logger::close();
        Logger::setLevel(3);
    }
    std::string logText() {
        Logger::close();
        return test::readFile(dir_.path() / "Kestrova" / "logs" / "Kestrova.log");
    }

    test::TempDir dir_;
    test::ScopedEnv env_{"LOCALAPPDATA", dir_.str().c_str()};
};

Result echo(void* arguments) {
    return *static_cast<Result*>(arguments);
}

TEST_F(BoundaryGuard, PassesTheResultThrough) {
    Result value = 400;
    EXPECT_EQ(HostBoundaryGuard(&echo, &value, 5, "xImportEntry", "imInit", 0), 400);
    EXPECT_EQ(HostBoundaryGuard(nullptr, &value, 5, "xImportEntry", "imInit", 0), 5);
    EXPECT_EQ(countOf(logText(), "host boundary"), 0u);
}

// ---- Exceptions ----

struct NullWhat : std::exception {
    const char* what() const noexcept override { return nullptr; }
};
struct EmptyWhat : std::exception {
    const char* what() const noexcept override { return ""; }
};

struct ExceptionCase {
    const char* name;
    GuardedFunction thrower;
    const char* kind;
    const char* detail;
};

const ExceptionCase kExceptions[] = {
    {"BadAlloc", [](void*) -> Result { throw std::bad_alloc(); }, "std::bad_alloc",
     "std::bad_alloc"},
    {"BadAllocSubclass", [](void*) -> Result { throw std::bad_array_new_length(); },
     "std::bad_alloc", "std::bad_array_new_length"},
    {"RuntimeError", [](void*) -> Result { throw std::runtime_error("index file truncated"); },
     "std::exception", "index file truncated"},
    {"NullWhat", [](void*) -> Result { throw NullWhat(); }, "std::exception", "(null)"},
    {"EmptyWhat", [](void*) -> Result { throw EmptyWhat(); }, "std::exception", "no detail"},
    {"Integer", [](void*) -> Result { throw 42; }, "unknown exception",
     "not derived from std::exception"},
};

class BoundaryGuardException : public BoundaryGuard,
                               public testing::WithParamInterface<ExceptionCase> {};

TEST_P(BoundaryGuardException, BecomesOneErrorLineAndTheFailureValue) {
    const ExceptionCase& c = GetParam();
    EXPECT_EQ(HostBoundaryGuard(c.thrower, nullptr, 5, "xImportEntry", "imGetInfo8", 37), 5);
    EXPECT_EQ(HostBoundaryGuard(c.thrower, nullptr, 2, nullptr, nullptr, -1), 2);
    const std::string text = logText();
    EXPECT_EQ(countOf(text, "[ERR ] "), 3u) << text;
    EXPECT_EQ(countOf(text, std::string("] xImportEntry: ") + c.kind +
                                " stopped at the host boundary in imGetInfo8 (selector 37): " +
                                c.detail + kTail + "\n"),
              1u)
        << text;
    EXPECT_EQ(
        countOf(text, std::string("] host boundary: ") + c.kind +
                          " stopped at the host boundary in unknown selector (selector -1): " +
                          c.detail + kTail + "\n"),
        1u)
        << text;
}

INSTANTIATE_TEST_SUITE_P(Host, BoundaryGuardException, testing::ValuesIn(kExceptions),
                         [](const auto& info) { return info.param.name; });

// ---- Processor faults ----

struct FaultCase {
    const char* name;
    GuardedFunction function;
    const char* line;
};

const FaultCase kFaults[] = {
    {"NullWrite", &test::writeThroughNull,
     "xImportEntry: access violation (0xC0000005) stopped at the host boundary in "
     "imGetSourceVideo (selector 47)"},
    {"IntegerDivide", &test::divideByZero,
     "xImportEntry: integer divide by zero (0xC0000094) stopped at the host boundary in "
     "imGetSourceVideo (selector 47)"},
    {"StackOverflow", &test::overflowStack, "host boundary: stack overflow, call aborted"},
};

class BoundaryGuardFault : public BoundaryGuard, public testing::WithParamInterface<FaultCase> {
  protected:
    static std::string expectedLine(const FaultCase& c) {
        const std::string line = c.line;
        return "\n" + (line.find("stack overflow") != std::string::npos ? line : line + kTail) +
               "\n";
    }
};

TEST_P(BoundaryGuardFault, IsCaughtEveryTimeOnTheSameThread) {
    const FaultCase& c = GetParam();
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(HostBoundaryGuard(c.function, nullptr, 5, "xImportEntry", "imGetSourceVideo", 47),
                  5);
    }
    Result value = 0;
    EXPECT_EQ(HostBoundaryGuard(&echo, &value, 5, "xImportEntry", "imGetSourceVideo", 47), 0);
    EXPECT_EQ(countOf(logText(), expectedLine(c)), 2u);
}

TEST_P(BoundaryGuardFault, IsCaughtOnAnotherThread) {
    const FaultCase& c = GetParam();
    Result results[2] = {};
    std::thread([&] {
        for (Result& result : results) {
            result =
                HostBoundaryGuard(c.function, nullptr, 2, "xImportEntry", "imGetSourceVideo", 47);
        }
    }).join();
    EXPECT_EQ(results[0], 2);
    EXPECT_EQ(results[1], 2);
    EXPECT_EQ(countOf(logText(), expectedLine(c)), 2u);
}

INSTANTIATE_TEST_SUITE_P(Host, BoundaryGuardFault, testing::ValuesIn(kFaults),
                         [](const auto& info) { return info.param.name; });

TEST_F(BoundaryGuard, FaultWithoutNamesUsesPlaceholders) {
    EXPECT_EQ(HostBoundaryGuard(&test::writeThroughNull, nullptr, 2, nullptr, nullptr, 3), 2);
    EXPECT_EQ(countOf(logText(), std::string("\nhost boundary: access violation (0xC0000005) "
                                             "stopped at the host boundary in unknown selector "
                                             "(selector 3)") +
                                     kTail + "\n"),
              1u);
}

TEST_F(BoundaryGuard, LongFaultLineIsCut) {
    const std::string location(300, 'L');
    EXPECT_EQ(HostBoundaryGuard(&test::writeThroughNull, nullptr, 5, location.c_str(), "imInit", 0),
              5);
    EXPECT_EQ(countOf(logText(), "\n" + std::string(255, 'L') + "\n"), 1u);
}

TEST_F(BoundaryGuard, NestedGuardReportsTheInnerFaultOnly) {
    auto outer = [](void*) -> Result {
        const Result inner = HostBoundaryGuard(&test::divideByZero, nullptr, 2,
                                               "AsyncImporterEntry", "aiGetFrame", 3);
        return inner == 2 ? 0 : 7;
    };
    EXPECT_EQ(HostBoundaryGuard(outer, nullptr, 5, "xImportEntry", "imCreateAsyncImporter", 46), 0);
    const std::string text = logText();
    EXPECT_EQ(countOf(text, "stopped at the host boundary"), 1u);
    EXPECT_EQ(countOf(text, "\nAsyncImporterEntry: integer divide by zero (0xC0000094)"), 1u);
}

// ---- Descriptions and callbacks ----

TEST(FaultDescription, NamesEachKnownCode) {
    EXPECT_STREQ(faultDescription(0xC0000005), "access violation");
    EXPECT_STREQ(faultDescription(0x80000002), "datatype misalignment");
    EXPECT_STREQ(faultDescription(0xC000008C), "array bounds exceeded");
    EXPECT_STREQ(faultDescription(0xC0000006), "in-page error (backing I/O failed)");
    EXPECT_STREQ(faultDescription(0xC000001D), "illegal instruction");
    EXPECT_STREQ(faultDescription(0xC0000096), "privileged instruction");
    EXPECT_STREQ(faultDescription(0xE06D7363), "unhandled C++ exception");
    EXPECT_STREQ(faultDescription(0xC0000094), "integer divide by zero");
    EXPECT_STREQ(faultDescription(0xC000008D), "denormal float operand");
    EXPECT_STREQ(faultDescription(0xC000008E), "float divide by zero");
    EXPECT_STREQ(faultDescription(0xC0000090), "invalid float operation");
    EXPECT_STREQ(faultDescription(0xC0000001), "structured exception");
    EXPECT_STREQ(faultDescription(0), "structured exception");
}

struct CallbackCase {
    const char* name;
    const char* callback;
    const char* detail;
    const char* line;
};

class CallbackGuardReport : public BoundaryGuard,
                            public testing::WithParamInterface<CallbackCase> {};

TEST_P(CallbackGuardReport, WritesOneErrorLine) {
    const CallbackCase& c = GetParam();
    CallbackGuard(c.callback, c.detail);
    const std::string text = logText();
    EXPECT_EQ(countOf(text, "[ERR ] "), 2u) << text;  // the test's first line, then the report
    EXPECT_EQ(countOf(text, std::string("] ") + c.line +
                                "; propagating it through FFmpeg would be undefined behaviour\n"),
              1u)
        << text;
}

INSTANTIATE_TEST_SUITE_P(
    Host, CallbackGuardReport,
    testing::Values(
        CallbackCase{"Bridge", "av_log bridge", "while formatting an FFmpeg diagnostic",
                     "av_log bridge: exception swallowed inside a C callback (while formatting an "
                     "FFmpeg diagnostic)"},
        CallbackCase{"NoNames", nullptr, nullptr,
                     "callback: exception swallowed inside a C callback (no detail)"},
        CallbackCase{"EmptyDetail", "io", "",
                     "io: exception swallowed inside a C callback (no detail)"}),
    [](const auto& info) { return info.param.name; });

// ---- Selector names ----

TEST(SelectorName, NamesTheTableAndNothingElse) {
    EXPECT_STREQ(selectorName(0), "imInit");
    EXPECT_STREQ(selectorName(14), "imGetIndFormat");
    EXPECT_STREQ(selectorName(47), "imGetSourceVideo");
    EXPECT_STREQ(selectorName(61), "imInitiateAsyncClosedCaptionScan");
    EXPECT_STREQ(selectorName(82), "imGetEmbeddedLUT");
    for (Selector unknown : {-1, 2, 13, 83, 1000}) {
        EXPECT_STREQ(selectorName(unknown), "unrecognised selector") << unknown;
    }
    int named = 0;
    for (Selector selector = -10; selector < 200; ++selector) {
        named += std::string(selectorName(selector)) != "unrecognised selector" ? 1 : 0;
    }
    EXPECT_EQ(named, 37);
}

}  // namespace
}  // namespace kestrova::host
