// The audio selectors as the host calls them: reads into host-owned planes,
// silence instead of failures, channel layouts and split wide streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <future>
#include <thread>

#include "audio_records.h"
#include "clip_test_support.h"

namespace kestrova::moduletest {
namespace {

using namespace std::chrono_literals;
using hostsim::AudioPlanes;

// Audio reads decode no video, so these stay out of the thread sanitizer
// pass except where threads meet on purpose.
using AudioModuleTest = ClipModuleTest;

bool allEqual(const std::vector<float>& plane, int64_t from, int64_t to, float value) {
    return std::all_of(plane.begin() + from, plane.begin() + to,
                       [value](float v) { return v == value; });
}

// The loudest sample of a plane: a tone's amplitude.
float peakOf(const std::vector<float>& plane) {
    float peak = 0;
    for (float v : plane) {
        peak = std::max(peak, std::fabs(v));
    }
    return peak;
}

// Zero crossings per second of a plane read at 48 kHz: twice a tone's frequency.
double crossingsPerSecond(const std::vector<float>& plane) {
    int crossings = 0;
    for (std::size_t i = 1; i < plane.size(); ++i) {
        crossings += (plane[i - 1] < 0) != (plane[i] < 0) ? 1 : 0;
    }
    return crossings * 48000.0 / static_cast<double>(plane.size());
}

struct SequentialCase {
    const char* fixture;
    float tolerance;
};

class SequentialAndRandomTest : public ClipModuleTest,
                                public ::testing::WithParamInterface<SequentialCase> {};

// What the host reads in order is what it reads anywhere at random.
TEST_P(SequentialAndRandomTest, RandomWindowsMatchTheSequentialReads) {
    OpenClip clip(host(), fixturePath(GetParam().fixture));
    const hostsim::ClipInfo info = hostsim::getInfo(host(), clip.clip(), 0);
    ASSERT_EQ(info.result, host::imNoErr);
    const int32_t channels = info.channels;
    ASSERT_EQ(hostsim::resetSequentialAudio(host(), clip.clip()), host::imNoErr);
    std::vector<std::vector<float>> all(static_cast<std::size_t>(channels));
    for (int64_t read = 0; read < info.audioDuration; read += 4800) {
        AudioPlanes chunk(channels, 4800);
        ASSERT_EQ(hostsim::sequentialAudio(host(), clip.clip(), 4800, chunk.pointers()),
                  host::imNoErr);
        for (int32_t c = 0; c < channels; ++c) {
            all[c].insert(all[c].end(), chunk.channel(c).begin(), chunk.channel(c).end());
        }
    }
    const auto total = static_cast<int64_t>(all[0].size());
    for (const int64_t start : {total / 2 + 11, int64_t{1000}, int64_t{0}, total / 3}) {
        AudioPlanes window(channels, 2000, 9.0f);
        ASSERT_EQ(hostsim::importAudio(host(), clip.clip(), start, 2000, window.pointers()),
                  host::imNoErr);
        for (int32_t c = 0; c < channels; ++c) {
            for (int64_t i = 0; i < 2000; ++i) {
                ASSERT_NEAR(window.channel(c)[i], all[c][start + i], GetParam().tolerance)
                    << "channel " << c << " sample " << start + i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Audio, SequentialAndRandomTest,
                         ::testing::Values(SequentialCase{"pcm_s24le.wav", 0.0f},
                                           SequentialCase{"flac.flac", 0.0f},
                                           SequentialCase{"opus.webm", 1e-4f},
                                           SequentialCase{"h264_closed.mkv", 1e-3f}),
                         [](const auto& info) { return test::safeName(info.param.fixture); });

TEST_F(AudioModuleTest, ReadsAcrossTheEndAreZeroFilledAndOversizedReadsRefused) {
    OpenClip clip(host(), fixturePath("pcm_s16le.wav"));
    ASSERT_EQ(hostsim::getInfo(host(), clip.clip(), 0).result, host::imNoErr);
    AudioPlanes planes(2, 1000, 9.0f);
    // Two seconds at 48 kHz: the last 100 samples, then silence.
    EXPECT_EQ(hostsim::importAudio(host(), clip.clip(), 96000 - 100, 1000, planes.pointers()),
              host::imNoErr);
    EXPECT_FALSE(allEqual(planes.channel(0), 0, 100, 0.0f));
    EXPECT_TRUE(allEqual(planes.channel(0), 100, 1000, 0.0f));
    EXPECT_TRUE(allEqual(planes.channel(1), 100, 1000, 0.0f));
    // Wholly past the end: silence, not what the buffers held.
    AudioPlanes beyond(2, 1000, 9.0f);
    EXPECT_EQ(hostsim::importAudio(host(), clip.clip(), 500000, 1000, beyond.pointers()),
              host::imNoErr);
    EXPECT_TRUE(allEqual(beyond.channel(0), 0, 1000, 0.0f));
    // Far more than any host buffer holds: refused, the planes untouched.
    AudioPlanes small(2, 16, 9.0f);
    EXPECT_EQ(hostsim::importAudio(host(), clip.clip(), 0, 268435457u, small.pointers()),
              host::imFailure);
    EXPECT_TRUE(allEqual(small.channel(0), 0, 16, 9.0f));
}

TEST_F(AudioModuleTest, SequentialReadsPastTheEndAreEmptyThenStalled) {
    {
        OpenClip clip(host(), fixturePath("pcm_s16le.wav"));
        ASSERT_EQ(hostsim::getInfo(host(), clip.clip(), 0).result, host::imNoErr);
        AudioPlanes planes(2, 48000);
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(hostsim::sequentialAudio(host(), clip.clip(), 48000, planes.pointers()),
                      host::imNoErr);
        }
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(hostsim::sequentialAudio(host(), clip.clip(), 48000, planes.pointers()),
                      host::imNoErr);
        }
        // A reset starts the stream again.
        EXPECT_EQ(hostsim::resetSequentialAudio(host(), clip.clip()), host::imNoErr);
        AudioPlanes again(2, 480, 9.0f);
        EXPECT_EQ(hostsim::sequentialAudio(host(), clip.clip(), 480, again.pointers()),
                  host::imNoErr);
        AudioPlanes start(2, 480);
        EXPECT_EQ(hostsim::importAudio(host(), clip.clip(), 0, 480, start.pointers()),
                  host::imNoErr);
        EXPECT_EQ(again.channel(0), start.channel(0));
        EXPECT_GT(peakOf(again.channel(0)), 0.2f);
    }
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imGetSequentialAudio: EMPTY read #"), 8) << text;
    EXPECT_EQ(occurrences(text, "imGetSequentialAudio: STALLED #"), 8) << text;
    EXPECT_EQ(occurrences(text, "imGetSequentialAudio: STALLED #10 "), 0) << text;
    EXPECT_NE(text.find("seq stalls 10"), std::string::npos) << text;
}

TEST_F(AudioModuleTest, SilenceWhenThereIsNothingToRead) {
    const TempFolder folder;
    const std::filesystem::path media = folder.path() / "clip.wav";
    std::filesystem::copy_file(fixturePath("pcm_s16le.wav"), media);
    {
        OpenClip videoOnly(host(), fixturePath("ffv1.mkv"));
        ASSERT_EQ(hostsim::getInfo(host(), videoOnly.clip(), 0).result, host::imNoErr);
        AudioPlanes planes(2, 100, 9.0f);
        EXPECT_EQ(hostsim::importAudio(host(), videoOnly.clip(), 0, 100, planes.pointers()),
                  host::imNoErr);
        EXPECT_EQ(hostsim::importAudio(host(), videoOnly.clip(), 0, 0, nullptr), host::imNoErr);

        OpenClip gone(host(), media.string());
        ASSERT_EQ(hostsim::getInfo(host(), gone.clip(), 0).result, host::imNoErr);
        ASSERT_EQ(hostsim::quietFile(host(), gone.clip()), host::imNoErr);
        std::filesystem::remove(media);
        AudioPlanes silent(2, 100, 9.0f);
        EXPECT_EQ(hostsim::importAudio(host(), gone.clip(), 0, 100, silent.pointers()),
                  host::imNoErr);
        EXPECT_TRUE(allEqual(silent.channel(1), 0, 100, 0.0f));
        // The sequential position moves on through silence, so nothing stalls.
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(hostsim::sequentialAudio(host(), gone.clip(), 100, silent.pointers()),
                      host::imNoErr);
        }

        // Replaced by a file whose stream there is video: no audio decoder opens.
        std::filesystem::copy_file(fixturePath("pcm_s16le.wav"), media);
        OpenClip replaced(host(), media.string());
        ASSERT_EQ(hostsim::getInfo(host(), replaced.clip(), 0).result, host::imNoErr);
        ASSERT_EQ(hostsim::quietFile(host(), replaced.clip()), host::imNoErr);
        std::filesystem::copy_file(fixturePath("ffv1.mkv"), media,
                                   std::filesystem::copy_options::overwrite_existing);
        AudioPlanes stale(2, 100, 9.0f);
        EXPECT_EQ(hostsim::importAudio(host(), replaced.clip(), 0, 100, stale.pointers()),
                  host::imNoErr);
        EXPECT_TRUE(allEqual(stale.channel(0), 0, 100, 0.0f));
    }
    const std::string text = log();
    EXPECT_NE(text.find("imImportAudio7[no track]: Empty_Audio"), std::string::npos) << text;
    EXPECT_NE(text.find("imImportAudio7[reopen failed]: Empty_Audio -- zero-filled 2 channel(s)"),
              std::string::npos)
        << text;
    EXPECT_EQ(occurrences(text, "imGetSequentialAudio[reopen failed]: Empty_Audio"), 3) << text;
    EXPECT_EQ(occurrences(text, "STALLED"), 0) << text;
    EXPECT_NE(text.find("imImportAudio7[decoder open failed]: Empty_Audio"), std::string::npos)
        << text;
}

TEST_F(ClipModuleTest, AudioReadDuringAQuietIsDeclinedAndCounted) {
    {
        // Its description calls back into the host, where the selector is held.
        OpenClip clip(host(), fixturePath("h264_closed.mkv"));
        ASSERT_EQ(hostsim::getInfo(host(), clip.clip(), 0).result, host::imNoErr);
        AudioPlanes planes(2, 480);
        ASSERT_EQ(hostsim::importAudio(host(), clip.clip(), 0, 480, planes.pointers()),
                  host::imNoErr);
        auto stuck = selectorStuckInside(host(), clip.clip());
        auto quiet =
            std::async(std::launch::async, [&] { return hostsim::quietFile(host(), clip.clip()); });
        // The quiet is waiting for the stuck selector; audio is turned away.
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(hostsim::importAudio(host(), clip.clip(), 0, 480, planes.pointers()),
                  host::imUnsupported);
        EXPECT_EQ(hostsim::sequentialAudio(host(), clip.clip(), 480, planes.pointers()),
                  host::imUnsupported);
        host().releaseCallback(hostsim::Callback::CreateString);
        EXPECT_EQ(stuck.get().result, host::imNoErr);
        EXPECT_EQ(quiet.get(), host::imNoErr);
        // After the quiet the clip reopens for the next read.
        EXPECT_EQ(hostsim::importAudio(host(), clip.clip(), 0, 480, planes.pointers()),
                  host::imNoErr);
        EXPECT_GT(peakOf(planes.channel(1)), 0.2f);
    }
    const std::string text = log();
    EXPECT_NE(text.find("imImportAudio7: DECLINED #1 (quiet in progress)"), std::string::npos)
        << text;
    EXPECT_NE(text.find("imGetSequentialAudio: DECLINED #2 (quiet in progress)"), std::string::npos)
        << text;
    EXPECT_NE(text.find("audio summary (imQuietFile)"), std::string::npos) << text;
    EXPECT_NE(text.find("audio summary (imCloseFile)"), std::string::npos) << text;
    EXPECT_NE(text.find("declined 2, seq stalls 0"), std::string::npos) << text;
}

TEST_F(AudioModuleTest, ChannelLayoutsNameEachChannel) {
    const std::pair<const char*, std::vector<int32_t>> cases[] = {
        {"pcm_s16le.wav", {100, 101}},
        {"pcm_71.wav", {100, 101, 102, 103, 104, 105, 109, 110}},
    };
    for (const auto& [fixture, expected] : cases) {
        SCOPED_TRACE(fixture);
        OpenClip clip(host(), fixturePath(fixture));
        // Without a description first there is no stream to describe.
        EXPECT_EQ(hostsim::channelLayout(host(), clip.clip()).result, host::imUnsupported);
        ASSERT_EQ(hostsim::getInfo(host(), clip.clip(), 0).result, host::imNoErr);
        const hostsim::ChannelLayout layout = hostsim::channelLayout(host(), clip.clip());
        ASSERT_EQ(layout.result, host::imNoErr);
        std::vector<int32_t> want = expected;
        want.resize(32, 0);
        EXPECT_EQ(std::vector<int32_t>(layout.labels.begin(), layout.labels.end()), want);
    }
}

// Forty channels reach the host as two streams, 32 and 8 channels wide, each
// carrying its own tones (channel c is a tone of 200 + 25c Hz).
TEST_F(AudioModuleTest, FortyChannelsArriveAsThirtyTwoAndEight) {
    for (const auto& [stream, channels, firstTone] :
         {std::tuple{0, 32, 200.0}, std::tuple{1, 8, 1000.0}}) {
        SCOPED_TRACE(stream);
        OpenClip clip(host(), fixturePath("pcm_40ch.wav"), stream);
        const hostsim::ClipInfo info = hostsim::getInfo(host(), clip.clip(), stream);
        ASSERT_EQ(info.result, stream == 0 ? host::imAnotherStream : host::imNoErr);
        EXPECT_EQ(info.channels, channels);
        AudioPlanes planes(channels, 48000);
        ASSERT_EQ(hostsim::importAudio(host(), clip.clip(), 0, 48000, planes.pointers()),
                  host::imNoErr);
        EXPECT_NEAR(crossingsPerSecond(planes.channel(0)) / 2, firstTone, 5.0);
        EXPECT_NEAR(crossingsPerSecond(planes.channel(channels - 1)) / 2,
                    firstTone + 25.0 * (channels - 1), 5.0);
        const hostsim::ChannelLayout layout = hostsim::channelLayout(host(), clip.clip());
        EXPECT_EQ(layout.result, host::imNoErr);
    }
    EXPECT_EQ(
        hostsim::getInfo(host(), OpenClip(host(), fixturePath("pcm_40ch.wav")).clip(), 2).result,
        host::imBadStreamIndex);
}

}  // namespace
}  // namespace kestrova::moduletest
