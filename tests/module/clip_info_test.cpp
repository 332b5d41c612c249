// What the host learns from imGetInfo8 and imGetPreferredFrameSize.
#include <gtest/gtest.h>

#include "clip_test_support.h"

namespace kestrova::moduletest {
namespace {

TEST_F(ClipModuleTest, DescribesVideoAndAudioOfAClip) {
    const std::string path = fixturePath("h264_closed.mkv");
    hostsim::ClipInfo info;
    {
        OpenClip clip(host(), path);
        ASSERT_EQ(clip.answer.result, host::imNoErr);
        info = hostsim::getInfo(host(), clip.clip(), 0);
    }
    ASSERT_EQ(info.result, host::imNoErr);
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);
    EXPECT_EQ(info.depth, 32);
    // The host's multi-character constant 'RAW ': bytes 0x20 0x57 0x41 0x52.
    EXPECT_EQ(info.subType, 0x52415720u);
    EXPECT_EQ(info.frameRateNum * 1, 25 * info.frameRateDen);
    EXPECT_NEAR(static_cast<double>(info.durationFrames), 75, 1);
    EXPECT_EQ(info.durationFrames32, info.durationFrames);
    EXPECT_EQ(info.fieldType, 0);
    EXPECT_EQ(info.alphaType, 6);
    EXPECT_EQ(info.aspectNum, 1);
    EXPECT_EQ(info.aspectDen, 1);
    EXPECT_EQ(info.bitDepth, 8);
    EXPECT_EQ(info.still, 0);
    EXPECT_EQ(info.hasEmbeddedLut, 0);
    EXPECT_EQ(info.captionsPossible, 1);  // H.264 can carry A53 captions
    EXPECT_NE(info.codec.find("H.264"), std::string::npos) << info.codec;
    EXPECT_NE(info.codec.find("@ Level"), std::string::npos) << info.codec;
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sampleRate, 48000.0f);
    EXPECT_EQ(info.sampleType, 12);
    EXPECT_NEAR(static_cast<double>(info.audioDuration), 3.0 * 48000, 48000 * 0.1);
    EXPECT_EQ(info.audioNoDuration, 0);
    EXPECT_EQ(info.path, path);
    EXPECT_EQ(info.settingsId, "com.kestrova.importer.sourcesettings");
    EXPECT_NE(log().find("imGetInfo8 stream 0 audio contract: ffmpeg stream 1, 2 ch, 48000 Hz"),
              std::string::npos);
}

struct PictureCase {
    const char* fixture;
    uint8_t fieldType;
    uint8_t still;
    int32_t hasLut;
    uint8_t captions;
};
void PrintTo(const PictureCase& c, std::ostream* out) {
    *out << c.fixture;
}

class PictureFactsTest : public ClipModuleTest,
                         public ::testing::WithParamInterface<PictureCase> {};

TEST_P(PictureFactsTest, ReportsFieldOrderStillLutAndCaptions) {
    const PictureCase& c = GetParam();
    OpenClip clip(host(), fixturePath(c.fixture));
    ASSERT_EQ(clip.answer.result, host::imNoErr);
    const hostsim::ClipInfo info = hostsim::getInfo(host(), clip.clip(), 0);
    ASSERT_EQ(info.result, host::imNoErr);
    EXPECT_TRUE(info.hasVideo);
    EXPECT_EQ(info.fieldType, c.fieldType);
    EXPECT_EQ(info.still, c.still);
    EXPECT_EQ(info.stillDuration, c.still ? 2 : 0);
    EXPECT_EQ(info.hasEmbeddedLut, c.hasLut);
    EXPECT_EQ(info.captionsPossible, c.captions);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PictureFactsTest,
                         ::testing::Values(PictureCase{"mpeg2_tff.ts", 1, 0, 0, 1},
                                           PictureCase{"mpeg2_tff.mxf", 1, 0, 0, 1},
                                           PictureCase{"still.png", 0, 1, 0, 0},
                                           PictureCase{"h264_elementary.h264", 0, 0, 0, 1},
                                           PictureCase{"vp9.webm", 0, 0, 0, 0},
                                           PictureCase{"lut_attachment.mkv", 0, 0, 1, 1}),
                         FixtureTestName());

struct AudioCase {
    const char* fixture;
    int32_t sampleType;
    int32_t channels;
};
void PrintTo(const AudioCase& c, std::ostream* out) {
    *out << c.fixture;
}

class AudioFactsTest : public ClipModuleTest, public ::testing::WithParamInterface<AudioCase> {};

TEST_P(AudioFactsTest, ReportsSampleTypeAndChannels) {
    const AudioCase& c = GetParam();
    OpenClip clip(host(), fixturePath(c.fixture));
    ASSERT_EQ(clip.answer.result, host::imNoErr);
    const hostsim::ClipInfo info = hostsim::getInfo(host(), clip.clip(), 0);
    ASSERT_EQ(info.result, host::imNoErr);
    EXPECT_FALSE(info.hasVideo);
    EXPECT_TRUE(info.hasAudio);
    EXPECT_EQ(info.sampleType, c.sampleType);
    EXPECT_EQ(info.channels, c.channels);
    EXPECT_EQ(info.accessModes, 0);
}

INSTANTIATE_TEST_SUITE_P(Pcm, AudioFactsTest,
                         ::testing::Values(AudioCase{"pcm_s16le.wav", 3, 2},
                                           AudioCase{"pcm_s24le.wav", 4, 2},
                                           AudioCase{"pcm_f32le.wav", 6, 2},
                                           AudioCase{"pcm_u8.wav", 1, 2},
                                           AudioCase{"pcm_s16be.aif", 8, 2}),
                         FixtureTestName());

TEST_F(ClipModuleTest, FortyChannelsSplitInTwo) {
    {
        OpenClip clip(host(), fixturePath("pcm_40ch.wav"));
        const hostsim::ClipInfo info = hostsim::getInfo(host(), clip.clip(), 0);
        // The other eight channels follow as a host stream of their own.
        ASSERT_EQ(info.result, host::imAnotherStream);
        EXPECT_EQ(info.channels, 32);
    }
    const std::string text = log();
    EXPECT_NE(text.find("32 ch, 48000 Hz"), std::string::npos) << text;
    EXPECT_NE(text.find("splitCount 2, canAvoidConform 1"), std::string::npos) << text;
}

TEST_F(ClipModuleTest, PreferredSizesStartWithTheFullSize) {
    OpenClip h264(host(), fixturePath("h264_closed.mkv"));
    const hostsim::FrameSize full = hostsim::preferredFrameSize(host(), h264.clip(), 0);
    EXPECT_EQ(full.result, host::imNoErr);
    EXPECT_EQ(full.width, 320);
    EXPECT_EQ(full.height, 240);
    EXPECT_EQ(hostsim::preferredFrameSize(host(), h264.clip(), 1).result, host::imBadFormatIndex);
    EXPECT_EQ(hostsim::preferredFrameSize(host(), h264.clip(), -1).result, host::imBadFormatIndex);

    // MPEG-2 decodes at reduced sizes too: each halving follows the full size.
    OpenClip mpeg2(host(), fixturePath("mpeg2_tff.ts"));
    const hostsim::FrameSize first = hostsim::preferredFrameSize(host(), mpeg2.clip(), 0);
    EXPECT_EQ(first.result, host::imIterateFrameSizes);
    const hostsim::FrameSize half = hostsim::preferredFrameSize(host(), mpeg2.clip(), 1);
    EXPECT_EQ(half.width, first.width / 2);
    EXPECT_EQ(half.height, first.height / 2);
}

}  // namespace
}  // namespace kestrova::moduletest
