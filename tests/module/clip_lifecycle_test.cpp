// Quieting and closing clips while other host threads are inside them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "clip_test_support.h"
#include "frame_records.h"
#include "picture_view.h"

namespace kestrova::moduletest {
namespace {

using namespace std::chrono_literals;
using hostsim::Callback;

// Runs `call` on a thread of its own and waits up to 10 s for its answer; a
// call still blocked then is a hang, and the test fails instead of hanging.
template <typename Call>
std::optional<host::Result> answerWithin10s(Call call) {
    auto promise = std::make_shared<std::promise<host::Result>>();
    std::future<host::Result> answer = promise->get_future();
    std::thread([promise, call] { promise->set_value(call()); }).detach();
    if (answer.wait_for(10s) != std::future_status::ready) {
        return std::nullopt;
    }
    return answer.get();
}

TEST_F(ClipModuleTest, CloseLetsQueuedSelectorsLeaveBeforeFreeing) {
    const hostsim::OpenAnswer opened = hostsim::openFile(host(), fixturePath("h264_closed.mkv"), 0);
    ASSERT_EQ(opened.result, host::imNoErr);
    auto stuck = selectorStuckInside(host(), opened.privateData);
    std::vector<std::future<host::Result>> queued;
    for (int i = 0; i < 4; ++i) {
        queued.push_back(std::async(std::launch::async, [&] {
            return hostsim::preferredFrameSize(host(), opened.privateData, 0).result;
        }));
    }
    std::this_thread::sleep_for(100ms);  // the four are waiting for the clip's lock
    auto closed = std::async(std::launch::async,
                             [&] { return hostsim::closeFile(host(), opened.privateData); });
    std::this_thread::sleep_for(100ms);
    host().releaseCallback(Callback::CreateString);
    EXPECT_EQ(stuck.get().result, host::imNoErr);
    for (auto& call : queued) {
        EXPECT_EQ(call.get(), host::imUnsupported);
    }
    EXPECT_EQ(closed.get(), host::imNoErr);
    // A call naming the freed clip is refused without touching it.
    EXPECT_EQ(hostsim::preferredFrameSize(host(), opened.privateData, 0).result,
              host::imUnsupported);
    EXPECT_EQ(hostsim::closeFile(host(), opened.privateData), host::imNoErr);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imCloseFile: destroying instance for"), 1) << text;
    EXPECT_EQ(occurrences(text, "imCloseFile: leaking instance"), 0) << text;
}

struct FaultCase {
    hostsim::Fault fault;
    const char* logged;  // the fault's line in the log
};

class ClipFaultTest : public ClipModuleTest, public ::testing::WithParamInterface<FaultCase> {};

// A host function that crashes inside a selector: the selector answers its
// error, the clip refuses everything but its close, and the module goes on
// serving other clips, twice over on the same thread.
TEST_P(ClipFaultTest, FaultInsideAClipLeavesItRefusingButClosable) {
    for (int round = 0; round < 2; ++round) {
        const hostsim::OpenAnswer opened =
            hostsim::openFile(host(), fixturePath("h264_closed.mkv"), 0);
        ASSERT_EQ(opened.result, host::imNoErr);
        host().faultCallback(Callback::CreateString, GetParam().fault);
        EXPECT_EQ(hostsim::getInfo(host(), opened.privateData, 0).result, host::imFailure);
        host().faultCallback(Callback::CreateString, hostsim::Fault::None);

        // The fault skipped the lock's release; later selectors must not wait on it.
        const auto info =
            answerWithin10s([&] { return hostsim::getInfo(host(), opened.privateData, 0).result; });
        ASSERT_TRUE(info.has_value()) << "imGetInfo8 hangs after a fault inside the clip";
        EXPECT_EQ(*info, host::imFailure);
        EXPECT_EQ(hostsim::preferredFrameSize(host(), opened.privateData, 0).result,
                  host::imUnsupported);
        EXPECT_EQ(hostsim::quietFile(host(), opened.privateData), host::imNoErr);
        const auto closed =
            answerWithin10s([&] { return hostsim::closeFile(host(), opened.privateData); });
        ASSERT_TRUE(closed.has_value()) << "imCloseFile hangs after a fault inside the clip";
        EXPECT_EQ(*closed, host::imNoErr);

        const OpenClip other(host(), fixturePath("h264_closed.mkv"));
        ASSERT_EQ(other.answer.result, host::imNoErr);
        EXPECT_EQ(hostsim::getInfo(host(), other.answer.privateData, 0).result, host::imNoErr);
    }
    const std::string text = log();
    EXPECT_EQ(occurrences(text, GetParam().logged), 2) << text;
    EXPECT_EQ(occurrences(text, "imCloseFile: destroying instance for"), 4) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ClipFaultTest,
    ::testing::Values(FaultCase{hostsim::Fault::NullWrite,
                                "access violation (0xC0000005) stopped at the host boundary"},
                      FaultCase{hostsim::Fault::DivideByZero,
                                "integer divide by zero (0xC0000094) stopped at the host boundary"},
                      FaultCase{hostsim::Fault::StackOverflow,
                                "host boundary: stack overflow, call aborted"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) {
        switch (info.param.fault) {
            case hostsim::Fault::NullWrite:
                return "NullWrite";
            case hostsim::Fault::DivideByZero:
                return "DivideByZero";
            default:
                return "StackOverflow";
        }
    });

// Decodes H.264 on FFmpeg's own threads, so it stays out of the thread
// sanitizer pass, which runs the ClipModuleTest cases.
using ClipReopenTest = ClipModuleTest;

TEST_F(ClipReopenTest, ReopeningAClipForgetsWhatItDecodedBefore) {
    // Every picture comes from the module, none from the host's cache.
    host().ppix().setCacheEnabled(false);
    const TempFolder folder;
    const std::filesystem::path media = folder.path() / "clip.mkv";
    const auto frameHash = [&](void* clip, int64_t frame) {
        const hostsim::ClipInfo info = hostsim::getInfo(host(), clip, 0);
        EXPECT_EQ(hostsim::getIndPixelFormat(host(), clip, 0).result, host::imNoErr);
        hostsim::SourceVideoAnswer answer = hostsim::getSourceVideo(
            host(), clip, hostsim::frameTicks(frame, info.frameRateNum, info.frameRateDen), {});
        const hostsim::PPixBuffer* picture = host().ppix().find(answer.ppix);
        const uint64_t hash = picture ? hostsim::visibleHash(*picture) : 0;
        if (answer.ppix) {
            host().ppix().dispose(answer.ppix);
        }
        return std::make_pair(answer.result, hash);
    };
    // Another encode of the same pictures: the same geometry, other bytes.
    const std::string replacement = fixturePath("h264_open.mkv");
    OpenClip reference(host(), replacement);
    const auto frameFive = frameHash(reference.clip(), 5);
    ASSERT_EQ(frameFive.first, host::imNoErr);

    std::filesystem::copy_file(fixturePath("h264_closed.mkv"), media);
    OpenClip clip(host(), media.string());
    ASSERT_EQ(clip.answer.result, host::imNoErr);
    ASSERT_EQ(frameHash(clip.clip(), 8).first, host::imNoErr);  // 0 to 7 decoded on the way
    ASSERT_NE(frameHash(clip.clip(), 5), frameFive);

    // The host opens the same instance again, first while the file is
    // unreadable, then once it holds the other encode: nothing decoded from
    // the first file may be shown for the second.
    std::ofstream(media, std::ios::binary | std::ios::trunc) << std::string(4096, '\0');
    EXPECT_EQ(hostsim::openFile(host(), media.string(), 0, clip.clip()).result, host::imDeclined);
    std::filesystem::remove(media);
    std::filesystem::copy_file(replacement, media);
    EXPECT_EQ(hostsim::openFile(host(), media.string(), 0, clip.clip()).result, host::imNoErr);
    EXPECT_EQ(frameHash(clip.clip(), 5), frameFive);
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
