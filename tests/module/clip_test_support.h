// Module tests of clips: a private module at debug log level with an
// initialised host, and the generated test media.
#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "../unit/fixtures.h"
#include "clip_records.h"
#include "module_test_support.h"

namespace kestrova::moduletest {

using test::fixturePath;
using test::fixturesOfKind;
using test::occurrences;

// Test names of cases parameterised by a `fixture` file name.
struct FixtureTestName {
    template <typename Info>
    std::string operator()(const Info& info) const {
        return test::safeName(info.param.fixture);
    }
};

// A private module copy logging at debug level into its own per-user
// folder, with an initialised host.
class ClipModuleTest : public ::testing::Test {
  protected:
    // `prefs` is the preferences file of the test's per-user folder. By
    // default no decode path is examined: the examination decodes on
    // FFmpeg's own threads, which the thread sanitizer cannot see into, and
    // the choice has tests of its own.
    explicit ClipModuleTest(const char* prefs = "logLevel=4\nenableHardwareDecoding=0\n")
        : appData_(std::string(prefs)) {}
    void SetUp() override {
        module_ = privateModule(hostsim::FfmpegFolder::Linked);
        ASSERT_NE(module_, nullptr);
        host_ = std::make_unique<hostsim::Host>(*module_);
        ASSERT_EQ(host_->init(), host::imInitOk);
    }
    void TearDown() override { host_.reset(); }

    hostsim::Host& host() { return *host_; }
    // Shuts the importer down, so every line is in the file, and reads the log.
    std::string log() {
        host_->shutdown();
        return readFile(appData_.logFile());
    }

  private:
    ScopedAppData appData_;
    std::unique_ptr<hostsim::Module> module_;
    std::unique_ptr<hostsim::Host> host_;
};

// An opened clip, closed at the end of the scope.
struct OpenClip {
    OpenClip(const hostsim::Host& host, const std::string& path, int32_t stream = 0)
        : host(host), answer(hostsim::openFile(host, path, stream)) {}
    ~OpenClip() { hostsim::closeFile(host, answer.privateData); }
    OpenClip(const OpenClip&) = delete;
    OpenClip& operator=(const OpenClip&) = delete;
    void* clip() const { return answer.privateData; }

    const hostsim::Host& host;
    hostsim::OpenAnswer answer;
};

// Starts imGetInfo8 on another thread and returns once it is blocked inside
// the clip (in the host's string callback, holding the clip's lock).
inline std::future<hostsim::ClipInfo> selectorStuckInside(hostsim::Host& host, void* clip) {
    host.holdCallback(hostsim::Callback::CreateString);
    auto stuck =
        std::async(std::launch::async, [&host, clip] { return hostsim::getInfo(host, clip, 0); });
    EXPECT_TRUE(host.waitForHeldCall(hostsim::Callback::CreateString, std::chrono::seconds(10)));
    return stuck;
}

}  // namespace kestrova::moduletest
