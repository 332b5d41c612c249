#include "audio/audio_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "containers/clip_description.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "fixtures.h"

namespace kestrova {
namespace {

// Every channel of a stretch of audio, one vector per channel.
using Planes = std::vector<std::vector<float>>;

struct OpenAudio {
    ClipDescription clip;
    AudioDecoder decoder;
    const StreamInfo* stream = nullptr;

    bool open(const std::string& name, std::size_t audioIndex = 0) {
        const ProbeResult probed = clip.probe(test::fixturePath(name));
        if (probed.status != ProbeStatus::Ok || clip.audioStreams().size() <= audioIndex) {
            ADD_FAILURE() << name << ": " << statusName(probed.status) << " " << probed.detail;
            return false;
        }
        stream = clip.audioStreams()[audioIndex];
        return decoder.open(clip, stream->index, 0);
    }

    AudioReadResult read(int64_t start, int64_t count, Planes& out, float fill = 7.0f) {
        out.assign(static_cast<std::size_t>(decoder.channels()),
                   std::vector<float>(static_cast<std::size_t>(count), fill));
        std::vector<float*> pointers;
        for (auto& plane : out) {
            pointers.push_back(plane.data());
        }
        return decoder.read(start, count, pointers.data());
    }

    // The whole stream in one-second reads from the start, as a host plays it.
    Planes readAll() {
        Planes all(static_cast<std::size_t>(decoder.channels()));
        const int64_t chunk = decoder.sampleRate();
        for (int64_t at = 0;; at += chunk) {
            Planes part;
            const AudioReadResult result = read(at, chunk, part);
            for (std::size_t c = 0; c < all.size(); ++c) {
                all[c].insert(all[c].end(), part[c].begin(), part[c].begin() + result.samples);
            }
            if (result.samples < chunk) {
                return all;
            }
        }
    }
};

// How far a random read may stray from the sequential decode.
float tolerance(const StreamInfo& stream) {
    if (stream.codecName == "flac" || stream.codecName.rfind("pcm_", 0) == 0) {
        return 0.0f;
    }
    // These codecs fill bands coded without bits with noise from a
    // generator that runs through the whole stream, so a read that did not
    // decode from the start gets other noise of the same level.
    if (stream.codecName == "aac" || stream.codecName == "ac3" || stream.codecName == "eac3") {
        return 2e-3f;
    }
    return 1e-4f;
}

class AudioDecoderTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
};

// Random reads must give the samples a sequential decode gives at the same
// positions: bit-exact for lossless codecs, within 1e-4 where a lossy codec
// had to be pre-rolled.
class AudioAccuracyTest : public ::testing::TestWithParam<std::string> {};

TEST_P(AudioAccuracyTest, RandomReadsMatchOneSequentialDecode) {
    OpenAudio sequential;
    ASSERT_TRUE(sequential.open(GetParam()));
    const Planes reference = sequential.readAll();
    const auto total = static_cast<int64_t>(reference[0].size());
    ASSERT_GT(total, 4096);
    const float allowed = tolerance(*sequential.stream);

    OpenAudio random;
    ASSERT_TRUE(random.open(GetParam()));
    // The length the host is told is what a sequential decode delivers, even
    // from an estimate far too long; measuring it leaves reads undisturbed.
    EXPECT_EQ(random.decoder.measureLength(3 * total), total);
    const int64_t frame = 1024;
    // Later windows first, so each earlier one seeks back.
    const std::pair<int64_t, int64_t> windows[] = {
        {total / 2 + 17, 3000},     {total - 2000, 1500},   {frame - 100, 200},
        {3 * frame - 1, 2 * frame}, {total / 3, 1},         {0, 700},
        {total / 4 + 5, 48000 / 7}, {total / 2 + 17, 3000},
    };
    for (const auto& [start, count] : windows) {
        SCOPED_TRACE("window at " + std::to_string(start));
        const int64_t n = std::min(count, total - start);
        Planes got;
        const AudioReadResult result = random.read(start, n, got);
        ASSERT_EQ(result.status, AudioStatus::Ok) << result.detail;
        ASSERT_EQ(result.samples, n);
        float worst = 0;
        for (std::size_t c = 0; c < got.size(); ++c) {
            for (int64_t i = 0; i < n; ++i) {
                worst = std::max(worst, std::fabs(got[c][i] - reference[c][start + i]));
            }
        }
        EXPECT_LE(worst, allowed);
    }
}

std::vector<std::string> audioFixtures() {
    std::vector<std::string> names;
    for (const test::FixtureEntry& entry : test::fixturesOfKind("audio")) {
        // After a rate change the resampler's delay shifts the sequential
        // samples against the timestamps; that stream has its own test.
        if (entry.name.find("ratechange") == std::string::npos) {
            names.push_back(entry.name);
        }
    }
    return names;
}

INSTANTIATE_TEST_SUITE_P(AudioFixtures, AudioAccuracyTest, ::testing::ValuesIn(audioFixtures()),
                         [](const auto& info) { return test::safeName(info.param); });

TEST_F(AudioDecoderTest, InterleavedSixteenBitIsResampledPlanarFloatIsCopied) {
    OpenAudio pcm;
    ASSERT_TRUE(pcm.open("pcm_s16le.wav"));
    EXPECT_FALSE(pcm.decoder.passthrough());
    EXPECT_EQ(pcm.decoder.channels(), 2);
    EXPECT_EQ(pcm.decoder.sampleRate(), 48000);
    Planes samples;
    ASSERT_EQ(pcm.read(0, 4800, samples).samples, 4800);
    // The two channels carry different tones.
    EXPECT_NE(samples[0], samples[1]);
    EXPECT_GT(*std::max_element(samples[0].begin(), samples[0].end()), 0.25f);

    OpenAudio aac;
    ASSERT_TRUE(aac.open("aac.m4a"));
    EXPECT_TRUE(aac.decoder.passthrough());
}

TEST_F(AudioDecoderTest, SeeksOnlyWhenTheReadIsNotAheadInTheHeldFrame) {
    OpenAudio audio;
    ASSERT_TRUE(audio.open("aac.m4a"));
    Planes samples;
    // Position, whether the read seeks.
    const std::pair<int64_t, bool> steps[] = {
        {0, true}, {300, false}, {700, false}, {600, true}, {20000, true}, {20400, false},
    };
    for (const auto& [start, seeks] : steps) {
        SCOPED_TRACE(start);
        const int64_t before = audio.decoder.stats().seeks;
        ASSERT_EQ(audio.read(start, 300, samples).samples, 300);
        EXPECT_EQ(audio.decoder.stats().seeks - before, seeks ? 1 : 0);
    }
}

TEST_F(AudioDecoderTest, ReadsAcrossTheEndAreZeroFilledAndBeyondItSilent) {
    OpenAudio audio;
    ASSERT_TRUE(audio.open("pcm_s16le.wav"));
    const int64_t total = 96000;  // two seconds at 48 kHz
    Planes samples;
    AudioReadResult result = audio.read(total - 100, 1000, samples);
    EXPECT_EQ(result.status, AudioStatus::Ok);
    EXPECT_EQ(result.samples, 100);
    for (const auto& plane : samples) {
        EXPECT_TRUE(std::all_of(plane.begin() + 100, plane.end(), [](float v) { return v == 0; }));
    }
    // Wholly past the end: nothing decoded, and the host's planes hold silence.
    result = audio.read(total + 5000, 500, samples);
    EXPECT_EQ(result.samples, 0);
    for (const auto& plane : samples) {
        EXPECT_TRUE(std::all_of(plane.begin(), plane.end(), [](float v) { return v == 0; }));
    }
}

TEST_F(AudioDecoderTest, AMissingPlaneIsSkippedAndTheOthersFilled) {
    OpenAudio audio;
    ASSERT_TRUE(audio.open("pcm_s16le.wav"));
    Planes reference;
    ASSERT_EQ(audio.read(1000, 70000, reference).samples, 70000);
    std::vector<float> right(70000, 7.0f);
    float* planes[] = {nullptr, right.data()};
    ASSERT_EQ(audio.decoder.read(1000, 70000, planes).samples, 70000);
    EXPECT_EQ(right, reference[1]);
}

TEST_F(AudioDecoderTest, ARateChangeKeepsTheFirstRateAndIsLoggedOnce) {
    test::LogCapture log;
    OpenAudio audio;
    ASSERT_TRUE(audio.open("mp2_ratechange.ts"));
    ASSERT_EQ(audio.decoder.sampleRate(), 48000);
    const Planes all = audio.readAll();
    EXPECT_EQ(audio.decoder.stats().configChanges, 1);
    EXPECT_EQ(test::occurrences(log.text(), "mid-stream config change #"), 1);
    EXPECT_NE(log.text().find("rate 48000->44100"), std::string::npos);
    // Both segments arrive, the second resampled to 48 kHz: about 2 s each.
    EXPECT_NEAR(static_cast<double>(all[0].size()), 4 * 48000.0, 48000.0 / 10);
}

TEST_F(AudioDecoderTest, UnorderedLayoutsAreNamedOnlyForTheUsualCounts) {
    const std::pair<int32_t, std::vector<int32_t>> cases[] = {
        {1, {102}},
        {2, {100, 101}},
        {3, {0, 0, 0}},
        {6, {100, 101, 102, 103, 104, 105}},
        {8, {100, 101, 102, 103, 104, 105, 109, 110}},
    };
    for (const auto& [channels, expected] : cases) {
        AVChannelLayout layout{};
        layout.order = AV_CHANNEL_ORDER_UNSPEC;
        layout.nb_channels = channels;
        std::vector<int32_t> labels(32, -1);
        EXPECT_EQ(channelLabels(layout, labels.data(), 32), channels);
        labels.resize(static_cast<std::size_t>(channels));
        EXPECT_EQ(labels, expected) << channels << " channels";
    }
}

TEST_F(AudioDecoderTest, OrderedLayoutsMapEachChannel) {
    OpenAudio audio;
    ASSERT_TRUE(audio.open("pcm_71.wav"));
    const AVStream* stream = audio.clip.demuxer()->streams[audio.stream->index];
    std::vector<int32_t> labels(32, -1);
    ASSERT_EQ(channelLabels(stream->codecpar->ch_layout, labels.data(), 4), 4);
    EXPECT_EQ(std::vector<int32_t>(labels.begin(), labels.begin() + 5),
              (std::vector<int32_t>{100, 101, 102, 103, -1}));
    ASSERT_EQ(channelLabels(stream->codecpar->ch_layout, labels.data(), 32), 8);
    EXPECT_EQ(std::vector<int32_t>(labels.begin(), labels.begin() + 8),
              (std::vector<int32_t>{100, 101, 102, 103, 104, 105, 109, 110}));
}

}  // namespace
}  // namespace kestrova
