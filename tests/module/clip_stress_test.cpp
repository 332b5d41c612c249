// Host threads hammering one clip while quiets, reopens and the final close
// arrive at random moments: every call is answered, nothing hangs, and no
// thread touches a freed clip (the sanitizer passes watch for that).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <random>
#include <thread>
#include <vector>

#include "audio_records.h"
#include "clip_test_support.h"
#include "frame_records.h"

namespace kestrova::moduletest {
namespace {

using namespace std::chrono_literals;

// KESTROVA_STRESS_ROUNDS sets another count: a run under an emulation layer
// starts threads and opens files many times slower.
int rounds() {
    const auto text = platform::environmentVariable("KESTROVA_STRESS_ROUNDS");
    const int value = text ? std::atoi(text->c_str()) : 0;
    return value > 0 ? value : 1000;
}
constexpr int kHostThreads = 8;

// Raw video and PCM audio decode on the calling thread alone, so no FFmpeg
// worker thread hides its writes from the thread sanitizer. Rounds alternate
// between a clip with video and no audio (the audio selectors answer
// silence) and one with audio alone (they decode).
const char* const kClips[] = {"raw_nv12.nut", "pcm_s16le.wav"};
constexpr int kOperations = 8;

bool expectedAnswer(int operation, host::Result result) {
    switch (operation) {
        case 0:  // imGetInfo8: described, or refused while closing
        case 1:  // imGetSourceVideo
            return result == host::imNoErr || result == host::imFailure;
        default:  // the rest: answered, or declined during a quiet or close
            return result == host::imNoErr || result == host::imUnsupported;
    }
}

// The audio selectors, each into host planes of its own.
host::Result audioOperation(hostsim::Host& host, void* clip, int operation, std::mt19937& random) {
    hostsim::AudioPlanes planes(2, 4800);
    hostsim::AudioPlanes minima(2, 4800);
    switch (operation) {
        case 3:
            return hostsim::importAudio(host, clip, random() % 96000, 4800, planes.pointers());
        case 4:
            return hostsim::sequentialAudio(host, clip, 4800, planes.pointers());
        case 5:
            return hostsim::resetSequentialAudio(host, clip);
        case 6:
            return hostsim::channelLayout(host, clip).result;
        default:
            return hostsim::peakAudio(host, clip, 0, 200.0f, 400, planes.pointers(),
                                      minima.pointers());
    }
}

// One host thread: random selectors on the clip until told to stop.
int hammer(hostsim::Host& host, void* clip, const hostsim::ClipInfo& info, unsigned seed,
           const std::atomic<bool>& stop) {
    std::mt19937 random(seed);
    int unexpected = 0;
    do {
        const int operation = static_cast<int>(random() % kOperations);
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
        } else if (operation == 2) {
            result = hostsim::preferredFrameSize(host, clip, 0).result;
        } else {
            result = audioOperation(host, clip, operation, random);
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
    // Peaks are written beside the media: copies keep them out of the fixtures.
    const TempFolder folder;
    std::vector<std::string> paths;
    for (const char* clip : kClips) {
        paths.push_back((folder.path() / clip).string());
        std::filesystem::copy_file(fixturePath(clip), paths.back());
    }
    const int roundCount = rounds();
    for (int round = 0; round < roundCount; ++round) {
        const std::string& path = paths[static_cast<std::size_t>(round) % paths.size()];
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
