// Host threads hammering one clip while quiets, reopens and the final close
// arrive at random moments: every call is answered, nothing hangs, and no
// thread touches a freed clip (the sanitizer passes watch for that).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <thread>
#include <vector>

#include "clip_test_support.h"
#include "frame_records.h"

namespace kestrova::moduletest {
namespace {

using namespace std::chrono_literals;

constexpr int kRounds = 1000;
constexpr int kHostThreads = 8;

// Raw video decodes on the calling thread alone, so no FFmpeg worker thread
// hides its writes from the thread sanitizer.
const char* const kClip = "raw_nv12.nut";

bool expectedAnswer(int operation, host::Result result) {
    switch (operation) {
        case 0:  // imGetInfo8: described, or refused while closing
            return result == host::imNoErr || result == host::imFailure;
        case 1:  // imGetSourceVideo
            return result == host::imNoErr || result == host::imFailure;
        default:  // imGetPreferredFrameSize
            return result == host::imNoErr || result == host::imUnsupported;
    }
}

// One host thread: random selectors on the clip until told to stop.
int hammer(hostsim::Host& host, void* clip, const hostsim::ClipInfo& info, unsigned seed,
           const std::atomic<bool>& stop) {
    std::mt19937 random(seed);
    int unexpected = 0;
    do {
        const int operation = static_cast<int>(random() % 3);
        host::Result result = host::imNoErr;
        if (operation == 0) {
            result = hostsim::getInfo(host, clip, 0).result;
        } else if (operation == 1) {
            const int64_t frame = static_cast<int64_t>(random() % 8);
            hostsim::SourceVideoAnswer answer = hostsim::getSourceVideo(
                host, clip, hostsim::frameTicks(frame, info.frameRateNum, info.frameRateDen), {});
            if (answer.ppix) {
                host.ppix().dispose(answer.ppix);
            }
            result = answer.result;
        } else {
            result = hostsim::preferredFrameSize(host, clip, 0).result;
        }
        if (!expectedAnswer(operation, result)) {
            ++unexpected;
        }
        // A host thread between requests, so eight of them leave the quiet,
        // reopen and close some room on two cores.
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 200));
    } while (!stop.load());
    return unexpected;
}

// Errors only: a thousand rounds at debug level would mostly time the log.
class ClipStressTest : public ClipModuleTest {
  protected:
    ClipStressTest() : ClipModuleTest("logLevel=1\n") {}
};

TEST_F(ClipStressTest, SelectorsSurviveQuietReopenAndCloseAtRandomMoments) {
    host().ppix().setCacheEnabled(false);
    std::mt19937 random(20261206);
    const auto pause = [&](int maxMicros) {
        std::this_thread::sleep_for(std::chrono::microseconds(random() % maxMicros));
    };
    const std::string path = fixturePath(kClip);
    for (int round = 0; round < kRounds; ++round) {
        const hostsim::OpenAnswer opened = hostsim::openFile(host(), path, 0);
        ASSERT_EQ(opened.result, host::imNoErr);
        const hostsim::ClipInfo info = hostsim::getInfo(host(), opened.privateData, 0);
        ASSERT_EQ(info.result, host::imNoErr);
        std::atomic<bool> stop{false};
        std::vector<std::future<int>> threads;
        for (int t = 0; t < kHostThreads; ++t) {
            threads.push_back(std::async(std::launch::async, [&, seed = random()] {
                return hammer(host(), opened.privateData, info, seed, stop);
            }));
        }
        pause(2000);
        EXPECT_EQ(hostsim::quietFile(host(), opened.privateData), host::imNoErr);
        pause(1000);
        EXPECT_EQ(hostsim::openFile(host(), path, 0, opened.privateData).result, host::imNoErr);
        pause(2000);
        EXPECT_EQ(hostsim::closeFile(host(), opened.privateData), host::imNoErr);
        stop = true;
        for (auto& thread : threads) {
            if (thread.wait_for(30s) != std::future_status::ready) {
                ADD_FAILURE() << "a host thread got no answer in round " << round;
                std::abort();  // a hung selector would hang the test too
            }
            EXPECT_EQ(thread.get(), 0) << "unexpected answers in round " << round;
        }
    }
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imCloseFile: leaking instance"), 0) << text;
}

}  // namespace
}  // namespace kestrova::moduletest
