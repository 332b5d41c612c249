// Host threads hammering three clips, synchronously (metadata and project
// queries too) and through their async instances, while quiets, reopens,
// flushes, async closes and the final closes arrive at random moments: every
// call is answered, nothing hangs, and no thread touches a freed clip or
// instance (the sanitizer passes watch for that). KESTROVA_STRESS_SECONDS
// sets how long it runs (3 s by default; the thread sanitizer pass of .ci/run
// gives it a minute).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <random>
#include <thread>
#include <vector>

#include "async_records.h"
#include "audio_records.h"
#include "caption_records.h"
#include "clip_test_support.h"
#include "fileops_records.h"
#include "frame_records.h"
#include "platform/platform.h"
#include "query_records.h"

namespace kestrova::moduletest {
namespace {

using namespace std::chrono_literals;

constexpr int kHostThreads = 8;
constexpr int kDefaultSeconds = 3;

// Raw video and PCM audio decode on the calling thread alone, so no FFmpeg
// worker thread hides its writes from the thread sanitizer. Two clips have
// video and no audio (the audio selectors answer silence), one has audio
// alone (they decode; it has no async instance).
const char* const kClips[] = {"raw_nv12.nut", "raw_yuyv422.nut", "pcm_s16le.wav"};
constexpr std::size_t kClipCount = std::size(kClips);

std::chrono::seconds stressDuration() {
    const std::optional<std::string> text =
        platform::environmentVariable("KESTROVA_STRESS_SECONDS");
    const int seconds = text ? std::atoi(text->c_str()) : 0;
    return std::chrono::seconds(seconds > 0 ? seconds : kDefaultSeconds);
}

enum Operation {
    kInfo,
    kSourceVideo,
    kAsyncFrame,
    kRenderTime,
    kFrameSize,
    kImportAudio,
    kSequentialAudio,
    kResetAudio,
    kLayout,
    kPeaks,
    kProjectQuery,
    kOperations
};

bool expectedAnswer(int operation, host::Result result) {
    switch (operation) {
        case kInfo:  // described, or refused while closing
        case kSourceVideo:
            return result == host::imNoErr || result == host::imFailure;
        case kAsyncFrame:  // delivered, refused while closing, or the instance is gone
            return result == host::imNoErr || result == host::aiClosing ||
                   result == host::aiFailure;
        case kRenderTime:
            return result == host::imNoErr || result == host::aiNotHandled;
        case kProjectQuery:
            return result == host::imNoErr || result == host::imUnsupported ||
                   result == host::imFailure || result == host::imNoCaptions;
        default:  // the rest: answered, or declined during a quiet or close
            return result == host::imNoErr || result == host::imUnsupported;
    }
}

// The clips of one round as the host threads see them.
struct Round {
    std::array<void*, kClipCount> clips{};
    std::array<hostsim::ClipInfo, kClipCount> infos{};
    std::array<hostsim::AsyncImporter, kClipCount> importers{};
};

// The audio selectors, each into host planes of its own.
host::Result audioOperation(hostsim::Host& host, void* clip, int operation, std::mt19937& random) {
    hostsim::AudioPlanes planes(2, 4800);
    hostsim::AudioPlanes minima(2, 4800);
    switch (operation) {
        case kImportAudio:
            return hostsim::importAudio(host, clip, random() % 96000, 4800, planes.pointers());
        case kSequentialAudio:
            return hostsim::sequentialAudio(host, clip, 4800, planes.pointers());
        case kResetAudio:
            return hostsim::resetSequentialAudio(host, clip);
        case kLayout:
            return hostsim::channelLayout(host, clip).result;
        default:
            return hostsim::peakAudio(host, clip, 0, 200.0f, 400, planes.pointers(),
                                      minima.pointers());
    }
}

// The metadata and project queries; a caption scan is walked to its end.
host::Result queryOperation(hostsim::Host& host, void* clip, std::mt19937& random) {
    switch (random() % 5) {
        case 0:
            return hostsim::wholeAnalysis(host, clip).result;
        case 1:
            return hostsim::inputFiles(host, clip).result;
        case 2:
            return hostsim::calcSize(host, clip, 0, 4, 25, 1).result;
        case 3:
            return hostsim::streamLabel(host, clip, 0).result;
        default:
            return hostsim::walkCaptions(host, clip).scan.result;
    }
}

host::Result frameOperation(hostsim::Host& host, const Round& round, std::size_t c, int operation,
                            std::mt19937& random) {
    const hostsim::ClipInfo& info = round.infos[c];
    const int64_t ticks = hostsim::frameTicks(static_cast<int64_t>(random() % 8), info.frameRateNum,
                                              info.frameRateDen);
    host::PPixHand ppix = nullptr;
    host::Result result = host::imNoErr;
    if (operation == kSourceVideo) {
        const hostsim::SourceVideoAnswer answer =
            hostsim::getSourceVideo(host, round.clips[c], ticks, {});
        ppix = answer.ppix;
        result = answer.result;
    } else if (!round.importers[c]) {
        return host::imNoErr;  // the audio clip has no async instance
    } else if (operation == kRenderTime) {
        result = hostsim::selectEfficientRenderTime(round.importers[c], ticks).result;
    } else {
        const hostsim::AsyncFrameAnswer answer =
            hostsim::asyncGetFrame(round.importers[c], ticks, {});
        ppix = answer.ppix;
        result = answer.result;
    }
    if (ppix) {
        host.ppix().dispose(ppix);
    }
    return result;
}

// One host thread: random selectors on random clips until told to stop.
int hammer(hostsim::Host& host, const Round& round, unsigned seed, const std::atomic<bool>& stop) {
    std::mt19937 random(seed);
    int unexpected = 0;
    do {
        const std::size_t c = random() % kClipCount;
        const int operation = static_cast<int>(random() % kOperations);
        host::Result result = host::imNoErr;
        if (operation == kInfo) {
            result = hostsim::getInfo(host, round.clips[c], 0).result;
        } else if (operation == kFrameSize) {
            result = hostsim::preferredFrameSize(host, round.clips[c], 0).result;
        } else if (operation <= kRenderTime) {
            result = frameOperation(host, round, c, operation, random);
        } else if (operation == kProjectQuery) {
            result = queryOperation(host, round.clips[c], random);
        } else {
            result = audioOperation(host, round.clips[c], operation, random);
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

// Errors only: a minute of rounds at debug level would mostly time the log.
class ClipStressTest : public ClipModuleTest {
  protected:
    ClipStressTest() : ClipModuleTest("logLevel=1\n") {}
};

TEST_F(ClipStressTest, SelectorsSurviveQuietFlushAndCloseAtRandomMoments) {
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
    const auto deadline = std::chrono::steady_clock::now() + stressDuration();
    int rounds = 0;
    for (; rounds == 0 || std::chrono::steady_clock::now() < deadline; ++rounds) {
        Round round;
        for (std::size_t c = 0; c < kClipCount; ++c) {
            const hostsim::OpenAnswer opened = hostsim::openFile(host(), paths[c], 0);
            ASSERT_EQ(opened.result, host::imNoErr);
            round.clips[c] = opened.privateData;
            round.infos[c] = hostsim::getInfo(host(), opened.privateData, 0);
            ASSERT_EQ(round.infos[c].result, host::imNoErr);
            if (round.infos[c].hasVideo) {
                round.importers[c] = hostsim::createAsyncImporter(host(), opened.privateData);
                ASSERT_TRUE(round.importers[c]) << paths[c];
            }
        }
        std::atomic<bool> stop{false};
        std::vector<std::future<int>> threads;
        for (int t = 0; t < kHostThreads; ++t) {
            threads.push_back(std::async(std::launch::async, [&, seed = random()] {
                return hammer(host(), round, seed, stop);
            }));
        }
        // The host's own calls, in a random order of clips.
        for (std::size_t c = 0; c < kClipCount; ++c) {
            const std::size_t clip = (c + static_cast<std::size_t>(rounds)) % kClipCount;
            pause(1500);
            EXPECT_EQ(hostsim::quietFile(host(), round.clips[clip]), host::imNoErr);
            if (round.importers[clip]) {
                pause(500);
                EXPECT_EQ(hostsim::asyncFlush(round.importers[clip]), host::imNoErr);
            }
            pause(1000);
            EXPECT_EQ(hostsim::openFile(host(), paths[clip], 0, round.clips[clip]).result,
                      host::imNoErr);
        }
        for (std::size_t c = 0; c < kClipCount; ++c) {
            if (round.importers[c]) {
                pause(1500);
                EXPECT_EQ(hostsim::asyncClose(round.importers[c]), host::imNoErr);
            }
            pause(1500);
            EXPECT_EQ(hostsim::closeFile(host(), round.clips[c]), host::imNoErr);
        }
        stop = true;
        for (auto& thread : threads) {
            if (thread.wait_for(30s) != std::future_status::ready) {
                ADD_FAILURE() << "a host thread got no answer in round " << rounds;
                std::abort();  // a hung selector would hang the test too
            }
            EXPECT_EQ(thread.get(), 0) << "unexpected answers in round " << rounds;
        }
    }
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imCloseFile: leaking instance"), 0) << text;
    EXPECT_EQ(occurrences(text, "leaking the async instance"), 0) << text;
    std::printf("[ stress   ] %d rounds\n", rounds);
}

}  // namespace
}  // namespace kestrova::moduletest
