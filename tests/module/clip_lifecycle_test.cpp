// Quieting and closing clips while other host threads are inside them.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "clip_test_support.h"

namespace kestrova::moduletest {
namespace {

using namespace std::chrono_literals;
using hostsim::Callback;

// Starts imGetInfo8 on another thread and returns once it is blocked inside
// the clip (in the host's string callback, holding the clip's lock).
std::future<hostsim::ClipInfo> selectorStuckInside(hostsim::Host& host, void* clip) {
    host.holdCallback(Callback::CreateString);
    auto stuck =
        std::async(std::launch::async, [&host, clip] { return hostsim::getInfo(host, clip, 0); });
    EXPECT_TRUE(host.waitForHeldCall(Callback::CreateString, 10s));
    return stuck;
}

TEST_F(ClipModuleTest, QuietWaitsForABusySelectorThenReleasesAndReopens) {
    auto opened = std::make_unique<OpenClip>(host(), fixturePath("h264_closed.mkv"));
    OpenClip& clip = *opened;
    ASSERT_EQ(clip.answer.result, host::imNoErr);
    auto stuck = selectorStuckInside(host(), clip.clip());
    auto release = std::async(std::launch::async, [this] {
        std::this_thread::sleep_for(300ms);
        host().releaseCallback(Callback::CreateString);
    });
    EXPECT_EQ(hostsim::quietFile(host(), clip.clip()), host::imNoErr);
    release.get();
    EXPECT_EQ(stuck.get().result, host::imNoErr);

    // The next description reopens the released file.
    const hostsim::ClipInfo again = hostsim::getInfo(host(), clip.clip(), 0);
    EXPECT_EQ(again.result, host::imNoErr);
    EXPECT_EQ(again.width, 320);
    EXPECT_EQ(hostsim::preferredFrameSize(host(), clip.clip(), 0).width, 320);
    opened.reset();
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "quiet(): still waiting for the instance lock after"), 1) << text;
    EXPECT_EQ(occurrences(text, "quiet(): acquired the instance lock after"), 1) << text;
    EXPECT_EQ(occurrences(text, "imQuietFile: releasing handles for"), 1) << text;
}

TEST_F(ClipModuleTest, CloseLeaksAnInstanceASelectorNeverLeaves) {
    const hostsim::OpenAnswer opened = hostsim::openFile(host(), fixturePath("h264_closed.mkv"), 0);
    ASSERT_EQ(opened.result, host::imNoErr);
    auto stuck = selectorStuckInside(host(), opened.privateData);
    EXPECT_EQ(hostsim::closeFile(host(), opened.privateData), host::imNoErr);
    // The instance is still allocated, and refuses everyone from now on.
    EXPECT_EQ(hostsim::getInfo(host(), opened.privateData, 0).result, host::imFailure);
    EXPECT_EQ(hostsim::preferredFrameSize(host(), opened.privateData, 0).result,
              host::imUnsupported);
    host().releaseCallback(Callback::CreateString);
    EXPECT_EQ(stuck.get().result, host::imNoErr);
    EXPECT_NE(log().find("imCloseFile: leaking instance for"), std::string::npos);
}

TEST_F(ClipModuleTest, ClipsAreDescribedFromSeveralThreadsAtOnce) {
    OpenClip clip(host(), fixturePath("multi_2v3a.mkv"));
    ASSERT_EQ(clip.answer.result, host::imNoErr);
    std::vector<std::future<host::Result>> calls;
    for (int32_t i = 0; i < 8; ++i) {
        calls.push_back(std::async(std::launch::async, [&, i] {
            return i % 2 ? hostsim::getInfo(host(), clip.clip(), i % 4).result
                         : hostsim::preferredFrameSize(host(), clip.clip(), 0).result;
        }));
    }
    for (auto& call : calls) {
        const host::Result result = call.get();
        EXPECT_TRUE(result == host::imNoErr || result == host::imAnotherStream) << result;
    }
}

}  // namespace
}  // namespace kestrova::moduletest
