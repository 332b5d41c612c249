// How hosts load and unload the module: late, many times over, and with
// fault handlers of their own.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "module_test_support.h"

namespace kestrova::moduletest {
namespace {

// A host that has loaded many other modules leaves little static TLS
// space; every copy must still load and run its guarded entry.
TEST(ModuleLoading, ManyCopiesLoadAndAnswerInOneProcess) {
    std::vector<std::unique_ptr<hostsim::Module>> copies;
    for (int i = 0; i < 16; ++i) {
        std::string error;
        copies.push_back(
            hostsim::Module::loadPrivateCopy(kModulePath, hostsim::FfmpegFolder::Missing, error));
        ASSERT_NE(copies.back(), nullptr) << "copy " << i << ": " << error;
        EXPECT_EQ(copies.back()->call(host::imGetSupports8, nullptr, nullptr, nullptr),
                  host::imSupports8);
    }
}

int* volatile gNullTarget = nullptr;
__attribute__((noinline, no_sanitize("undefined"))) void writeThroughNull() {
    *gNullTarget = 1;
}

// The module's fault handlers stay installed after the host unloads it; a
// later fault of the host's own must still reach the host's handler.
TEST(ModuleLoadingDeathTest, HostHandlerRunsAfterTheModuleIsUnloaded) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::signal(SIGSEGV, [](int) { std::_Exit(42); });
            std::string error;
            auto copy =
                hostsim::ModuleCopy::create(kModulePath, hostsim::FfmpegFolder::Missing, error);
            platform::LibraryHandle library =
                copy ? platform::loadLibrary(platform::utf8FromPath(copy->modulePath()), error)
                     : nullptr;
            const auto entry = reinterpret_cast<host::ImportEntryFn>(
                library ? platform::findSymbol(library, host::kImportEntryName) : nullptr);
            // From a thread that then ends, as host workers do: its per-thread
            // state no longer holds the module in memory.
            host::Result answer = host::imFailure;
            std::thread([&] {
                if (entry != nullptr) {
                    answer = entry(host::imGetSupports8, nullptr, nullptr, nullptr);
                }
            }).join();
            if (answer != host::imSupports8) {
                std::_Exit(3);
            }
            platform::freeLibrary(library);
            copy.reset();  // this process ends without running destructors
            writeThroughNull();
            std::_Exit(4);
        },
        testing::ExitedWithCode(42), "");
}

}  // namespace
}  // namespace kestrova::moduletest
