// Audio as the host receives it, through kestrova-host audio and peaks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "clip_test_support.h"

namespace kestrova::moduletest {
namespace {

// The text after "KEY": in a one-line JSON document, up to the next , } or ].
std::string jsonField(const std::string& json, const std::string& key) {
    const std::string marker = "\"" + key + "\":";
    const std::size_t at = json.find(marker);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t from = at + marker.size();
    if (json[from] == '[' || json[from] == '{') {
        return json.substr(from, json.find(json[from] == '[' ? ']' : '}', from) - from + 1);
    }
    return json.substr(from, json.find_first_of(",}]", from) - from);
}

// The numbers of a JSON array of numbers.
std::vector<double> jsonNumbers(const std::string& array) {
    std::vector<double> numbers;
    for (std::size_t at = 1; at < array.size() && array[at] != ']';) {
        std::size_t used = 0;
        numbers.push_back(std::stod(array.substr(at), &used));
        at += used + 1;
    }
    return numbers;
}

uint32_t le32(const std::string& bytes, std::size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}
uint16_t le16(const std::string& bytes, std::size_t at) {
    uint16_t value = 0;
    std::memcpy(&value, bytes.data() + at, 2);
    return value;
}

struct AudioCase {
    const char* fixture;
    int32_t stream;
    int32_t channels;
    int64_t samples;
    const char* labels;
    uint32_t speakerMask;    // above two channels
    std::vector<int> tones;  // Hz per channel, as the fixture script made them
};
void PrintTo(const AudioCase& c, std::ostream* out) {
    *out << c.fixture << " stream " << c.stream;
}

class AudioToolTest : public ::testing::TestWithParam<AudioCase> {};

// Whole-stream reads in one-second chunks report the described stream, and
// the saved WAV carries each channel's own tone in the host's channel order.
// The 40-channel file reaches the host as 32 channels and 8.
TEST_P(AudioToolTest, ReadsTheWholeStreamAndSavesItAsFloatWav) {
    const AudioCase& c = GetParam();
    TempFolder appData, out;
    const std::filesystem::path wav = out.path() / "out.wav";
    const ToolRun run =
        runTool({"--appdata", appData.str(), "audio", fixturePath(c.fixture), "--stream",
                 std::to_string(c.stream), "--json", "--out", wav.string()});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(jsonField(run.out, "channels"), std::to_string(c.channels)) << run.out;
    EXPECT_EQ(jsonField(run.out, "sampleRate"), "48000") << run.out;
    EXPECT_EQ(jsonField(run.out, "samples"), std::to_string(c.samples)) << run.out;
    EXPECT_EQ(jsonField(run.out, "labels"), c.labels) << run.out;
    EXPECT_EQ(jsonField(run.out, "answers"),
              "{\"0\":" + std::to_string((c.samples + 47999) / 48000) + "}")
        << run.out;

    const std::string bytes = readFile(wav);
    ASSERT_GE(bytes.size(), 58u);
    const bool extensible = c.channels > 2;
    const std::size_t fmtSize = extensible ? 40 : 18;
    const std::size_t data =
        20 + fmtSize + 12 + 8;  // first sample, after fmt, fact and data headers
    ASSERT_EQ(bytes.size(), data + static_cast<std::size_t>(c.samples * c.channels * 4));
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(bytes, 16), fmtSize);
    EXPECT_EQ(le16(bytes, 20), extensible ? 0xFFFE : 3);
    EXPECT_EQ(le16(bytes, 22), c.channels);
    EXPECT_EQ(le32(bytes, 24), 48000u);
    EXPECT_EQ(le32(bytes, 28), 48000u * 4 * c.channels);
    EXPECT_EQ(le16(bytes, 32), 4 * c.channels);
    EXPECT_EQ(le16(bytes, 34), 32);
    if (extensible) {
        EXPECT_EQ(le16(bytes, 36), 22);
        EXPECT_EQ(le16(bytes, 38), 32);
        EXPECT_EQ(le32(bytes, 40), c.speakerMask);
        EXPECT_EQ(
            bytes.substr(44, 16),
            std::string("\x03\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16));
    }
    EXPECT_EQ(bytes.substr(20 + fmtSize, 8), std::string("fact\x04\x00\x00\x00", 8));
    EXPECT_EQ(le32(bytes, 28 + fmtSize), c.samples);
    EXPECT_EQ(bytes.substr(data - 8, 4), "data");
    EXPECT_EQ(le32(bytes, data - 4), c.samples * c.channels * 4);

    // A tone of f Hz crosses zero 2f times a second.
    std::vector<float> samples(static_cast<std::size_t>(c.samples * c.channels));
    std::memcpy(samples.data(), bytes.data() + data, samples.size() * 4);
    for (int32_t ch = 0; ch < static_cast<int32_t>(c.tones.size()); ++ch) {
        int crossings = 0;
        for (int64_t i = 1; i < 48000; ++i) {
            crossings +=
                (samples[i * c.channels + ch] < 0) != (samples[(i - 1) * c.channels + ch] < 0);
        }
        EXPECT_NEAR(crossings, 2 * c.tones[static_cast<std::size_t>(ch)], 3) << "channel " << ch;
    }
}

// The 40-channel fixture's tones, from channel `first` on.
std::vector<int> fortyChannelTones(int first, int count) {
    std::vector<int> tones;
    for (int ch = first; ch < first + count; ++ch) {
        tones.push_back(200 + 25 * ch);
    }
    return tones;
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, AudioToolTest,
    ::testing::Values(AudioCase{"pcm_s16le.wav", 0, 2, 96000, "[100,101]", 0, {440, 660}},
                      AudioCase{"pcm_f32le.wav", 0, 2, 96000, "[100,101]", 0, {440, 660}},
                      AudioCase{"flac.flac", 0, 2, 96000, "[100,101]", 0, {440, 660}},
                      AudioCase{"pcm_71.wav",
                                0,
                                8,
                                96000,
                                "[100,101,102,103,104,105,109,110]",
                                0x63F,
                                {440, 550, 660, 55, 770, 880, 990, 1100}},
                      AudioCase{"pcm_40ch.wav", 0, 32, 48000,
                                "[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]",
                                0, fortyChannelTones(0, 32)},
                      AudioCase{"pcm_40ch.wav", 1, 8, 48000, "[0,0,0,0,0,0,0,0]", 0,
                                fortyChannelTones(32, 8)}),
    [](const auto& info) {
        return test::safeName(info.param.fixture) + "_stream" + std::to_string(info.param.stream);
    });

// Sequential reads from the reset position deliver what random reads do, and
// --range reads COUNT frames from START in chunks.
TEST(AudioToolReadsTest, SequentialAndRangeReadsDeliverTheSameSamples) {
    TempFolder appData, out;
    const std::string file = fixturePath("pcm_s24le.wav");
    const auto read = [&](const std::string& name, std::vector<std::string> extra) {
        std::vector<std::string> arguments = {"--appdata",
                                              appData.str(),
                                              "audio",
                                              file,
                                              "--json",
                                              "--out",
                                              (out.path() / name).string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        return run.out;
    };
    const std::string random = read("random.wav", {"--chunk", "10000"});
    const std::string sequential = read("sequential.wav", {"--sequential", "--chunk", "7000"});
    const std::string range = read("range.wav", {"--range", "30000:5000", "--chunk", "2048"});
    EXPECT_EQ(jsonField(random, "answers"), "{\"0\":10}") << random;
    EXPECT_EQ(jsonField(sequential, "answers"), "{\"0\":14}") << sequential;
    EXPECT_EQ(jsonField(range, "samples"), "5000") << range;
    EXPECT_EQ(jsonField(range, "answers"), "{\"0\":3}") << range;
    const std::string all = readFile(out.path() / "random.wav");
    ASSERT_EQ(all.size(), 58u + 96000 * 8);
    EXPECT_EQ(readFile(out.path() / "sequential.wav"), all);
    EXPECT_EQ(readFile(out.path() / "range.wav").substr(58), all.substr(58 + 30000 * 8, 5000 * 8));
}

TEST(AudioToolReadsTest, StreamWithoutAudioExitsTwoAndSaysSo) {
    TempFolder appData;
    const ToolRun run =
        runTool({"--appdata", appData.str(), "audio", fixturePath("h264_intra.mkv")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("has no audio"), std::string::npos) << run.err;
}

class PeaksToolTest : public ::testing::TestWithParam<const char*> {};

// The first call builds the peaks and keeps them beside the media; the second
// finds that file and gets the same peaks from it. PCM peaks are exact (the
// fixture's tones peak at 0.3); compressed audio gets approximate peaks.
TEST_P(PeaksToolTest, SecondCallFindsTheCacheFileOfTheFirst) {
    TempFolder appData, media;
    const std::filesystem::path file = media.path() / GetParam();
    std::filesystem::copy_file(fixturePath(GetParam()), file);
    const std::filesystem::path png = media.path() / "waveform.png";
    const std::vector<std::string> arguments = {"--appdata", appData.str(), "peaks", file.string(),
                                                "--json"};
    std::vector<std::string> withPng = arguments;
    withPng.insert(withPng.end(), {"--png", png.string(), "--width", "300"});
    const ToolRun first = runTool(withPng);
    ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
    EXPECT_EQ(jsonField(first.out, "cacheFileBefore"), "false") << first.out;
    EXPECT_EQ(jsonField(first.out, "channels"), "2") << first.out;
    EXPECT_EQ(jsonField(first.out, "rate"), "200.000") << first.out;
    EXPECT_FALSE(jsonField(first.out, "ms").empty()) << first.out;
    const std::string ext = file.extension().string();
    if (ext == ".wav") {
        EXPECT_EQ(jsonField(first.out, "points"), "400") << first.out;
        for (const char* key : {"max", "min"}) {
            const std::vector<double> peaks = jsonNumbers(jsonField(first.out, key));
            ASSERT_EQ(peaks.size(), 2u) << first.out;
            for (const double peak : peaks) {
                EXPECT_NEAR(std::abs(peak), 0.3, 0.001) << key;
            }
        }
    }
    const std::string picture = readFile(png);
    ASSERT_GE(picture.size(), 24u);
    EXPECT_EQ(picture.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(picture.substr(16, 8), std::string("\0\0\x01\x2c\0\0\x01\x40", 8)) << "300 x 320";
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".a0.kstpk"));

    const ToolRun second = runTool(arguments);
    ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
    EXPECT_EQ(jsonField(second.out, "cacheFileBefore"), "true") << second.out;
    EXPECT_EQ(jsonField(second.out, "max"), jsonField(first.out, "max"));
    EXPECT_EQ(jsonField(second.out, "min"), jsonField(first.out, "min"));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PeaksToolTest, ::testing::Values("pcm_s16le.wav", "aac.mkv"),
                         [](const auto& info) { return test::safeName(info.param); });

}  // namespace
}  // namespace kestrova::moduletest
