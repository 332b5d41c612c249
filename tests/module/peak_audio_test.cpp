// Waveform peaks as the host asks for them: built once, kept beside the
// media, served at any coarser rate, scanned exactly when finer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "audio_records.h"
#include "clip_test_support.h"
#include "frame_records.h"
#include "platform/platform.h"

namespace kestrova::moduletest {
namespace {

using hostsim::AudioPlanes;
using PeakModuleTest = ClipModuleTest;

struct Peaks {
    host::Result result = host::imFailure;
    AudioPlanes maxima;
    AudioPlanes minima;
};

// Opens `path`, describes host stream 0 and asks for `frames` peaks.
Peaks peaksOf(const hostsim::Host& host, const std::string& path, float rate, int32_t frames,
              int64_t start = 0) {
    OpenClip clip(host, path);
    const hostsim::ClipInfo info = hostsim::getInfo(host, clip.clip(), 0);
    EXPECT_EQ(info.result, host::imNoErr);
    Peaks peaks{host::imFailure, AudioPlanes(std::max(info.channels, 1), frames, 9.0f),
                AudioPlanes(std::max(info.channels, 1), frames, 9.0f)};
    peaks.result = hostsim::peakAudio(host, clip.clip(), start, rate, frames,
                                      peaks.maxima.pointers(), peaks.minima.pointers());
    return peaks;
}

float largest(const std::vector<float>& plane) {
    return *std::max_element(plane.begin(), plane.end());
}
float smallest(const std::vector<float>& plane) {
    return *std::min_element(plane.begin(), plane.end());
}

TEST_F(PeakModuleTest, PcmPeaksAreExactAndServedFromTheCacheFileNextTime) {
    const TempFolder folder;
    const std::filesystem::path media = folder.path() / "clip.wav";
    std::filesystem::copy_file(fixturePath("pcm_s16le.wav"), media);
    const std::filesystem::path cacheFile = folder.path() / "clip.wav.a0.kstpk";
    // Two seconds of 0.3 tones at 200 points per second.
    const Peaks first = peaksOf(host(), media.string(), 200.0f, 400);
    ASSERT_EQ(first.result, host::imNoErr);
    for (int32_t c = 0; c < 2; ++c) {
        EXPECT_NEAR(largest(first.maxima.channel(c)), 0.3f, 0.01f);
        EXPECT_NEAR(smallest(first.minima.channel(c)), -0.3f, 0.01f);
        EXPECT_GT(smallest(first.maxima.channel(c)), 0.2f);
    }
    ASSERT_TRUE(std::filesystem::exists(cacheFile));
    // A coarser request merges the cached points; past the end stays zero.
    const Peaks coarse = peaksOf(host(), media.string(), 100.0f, 210);
    ASSERT_EQ(coarse.result, host::imNoErr);
    for (int32_t i = 0; i < 200; ++i) {
        EXPECT_EQ(coarse.maxima.channel(0)[i],
                  std::max(first.maxima.channel(0)[2 * i], first.maxima.channel(0)[2 * i + 1]));
    }
    EXPECT_EQ(largest(std::vector<float>(coarse.maxima.channel(0).begin() + 200,
                                         coarse.maxima.channel(0).end())),
              0.0f);
    // Finer than the cache: scanned exactly for this request.
    const Peaks fine = peaksOf(host(), media.string(), 400.0f, 800);
    ASSERT_EQ(fine.result, host::imNoErr);
    EXPECT_NEAR(largest(fine.maxima.channel(1)), 0.3f, 0.01f);
    EXPECT_GT(smallest(fine.maxima.channel(1)), 0.1f);

    const std::string text = log();
    EXPECT_EQ(occurrences(text, "PeakScanner::buildCache: built 2 ch x 400 points"), 1) << text;
    EXPECT_EQ(occurrences(text, "imGetPeakAudio: loaded peak cache from"), 2) << text;
}

TEST_F(PeakModuleTest, CompressedAudioPeaksComeFromPacketSizes) {
    const TempFolder folder;
    const std::filesystem::path media = folder.path() / "clip.mkv";
    std::filesystem::copy_file(fixturePath("aac.mkv"), media);
    // Longer than the stream, so the loudest packet is inside.
    const Peaks peaks = peaksOf(host(), media.string(), 200.0f, 1000);
    ASSERT_EQ(peaks.result, host::imNoErr);
    // Envelopes relative to the loudest packet: symmetric, the loudest full scale.
    EXPECT_EQ(largest(peaks.maxima.channel(0)), 1.0f);
    EXPECT_EQ(smallest(peaks.minima.channel(0)), -1.0f);
    EXPECT_EQ(peaks.maxima.channel(0), peaks.maxima.channel(1));
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "clip.mkv.a0.kstpk"));
    const std::string text = log();
    EXPECT_NE(text.find("(approximate, demux-only)"), std::string::npos) << text;
    // Only the description's length measure decoded; the peaks did not.
    EXPECT_EQ(occurrences(text, "AudioDecoder: opened stream"), 1) << text;
}

TEST_F(PeakModuleTest, NoAudioGivesZeroPeaks) {
    const Peaks peaks = peaksOf(host(), fixturePath("ffv1.mkv"), 200.0f, 50);
    EXPECT_EQ(peaks.result, host::imNoErr);
    EXPECT_NE(log().find("imGetPeakAudio[no track]: Empty_Audio peaks"), std::string::npos);
}

// The files the module keeps beside the media are found beside a path that
// is not ASCII: on Windows such a path survives only as UTF-16.
TEST_F(PeakModuleTest, FilesBesideANonAsciiPathAreFound) {
    const TempFolder folder;
    const std::string name = "\u043a\u043b\u0438\u043f \u65e5\u672c";  // "клип 日本"
    const std::string media = platform::joinPath(folder.str(), name + ".mkv");
    std::filesystem::copy_file(fixturePath("h264_closed.mkv"), platform::pathFromUtf8(media));
    // An accelerator for some other version of the file: found, then refused.
    const std::string accelerator = platform::joinPath(folder.str(), name + ".kstidx");
    std::ofstream(platform::pathFromUtf8(accelerator), std::ios::binary)
        .write("KSTX\1\0\0\0\1\0\0\0\0\0\0\0", 16)
        .write(std::string(20, '\0').data(), 20);

    ASSERT_EQ(peaksOf(host(), media, 200.0f, 100).result, host::imNoErr);
    EXPECT_TRUE(std::filesystem::exists(platform::pathFromUtf8(media + ".a1.kstpk")));
    ASSERT_EQ(peaksOf(host(), media, 200.0f, 100).result, host::imNoErr);
    {
        OpenClip clip(host(), media);
        ASSERT_EQ(clip.answer.result, host::imNoErr);
        const hostsim::ClipInfo info = hostsim::getInfo(host(), clip.clip(), 0);
        ASSERT_EQ(hostsim::getIndPixelFormat(host(), clip.clip(), 0).result, host::imNoErr);
        const hostsim::SourceVideoAnswer frame = hostsim::getSourceVideo(
            host(), clip.clip(), hostsim::frameTicks(3, info.frameRateNum, info.frameRateDen), {});
        EXPECT_EQ(frame.result, host::imNoErr);
        if (frame.ppix) {
            host().ppix().dispose(frame.ppix);
        }
    }
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imGetPeakAudio: loaded peak cache from " + media), 1) << text;
    EXPECT_EQ(occurrences(text, "SeekIndex::load: content state mismatch for " + accelerator), 1)
        << text;
}

}  // namespace
}  // namespace kestrova::moduletest
