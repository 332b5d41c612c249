// Pure rules behind the clip selectors: host stream mapping, the files left
// to the host, colour defaults, alpha and audio sample types. The module tests
// check the common cases through real files; these check the edges.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/open_rules.h"
#include "host/stream_mapping.h"
#include "host/stream_summary.h"
#include "pixels/summary_pixels.h"

namespace kestrova {
namespace {

using host::StreamMapping;

TEST(StreamMappingTest, AudioOnlyAndEmptyFiles) {
    const std::vector<int32_t> none;
    const std::vector<int32_t> audio = {0, 1};
    EXPECT_EQ(host::hostStreamCount(0, 2), 2);
    EXPECT_EQ(host::mapHostStream(1, none, audio).audio, 1);
    // Nothing importable still counts one host stream, mapped to nothing.
    EXPECT_EQ(host::hostStreamCount(0, 0), 1);
    const StreamMapping empty = host::mapHostStream(0, none, none);
    EXPECT_TRUE(empty.valid);
    EXPECT_EQ(empty.video, -1);
    EXPECT_EQ(empty.audio, -1);
}

TEST(OpenRulesTest, IsoMediaNamesAndNativeContainers) {
    for (const char* iso : {"a.mov", "a.MOV", "b/c.Mp4", "x.m4a", "y.3g2", "z.qt", "q.mj2"}) {
        EXPECT_TRUE(host::isIsoMediaExtension(iso)) << iso;
    }
    for (const char* other : {"a.mkv", "clip", "clip.", "mov", "a.mov.bak", ""}) {
        EXPECT_FALSE(host::isIsoMediaExtension(other)) << other;
    }
    EXPECT_TRUE(host::isNativeContainer("mov,mp4,m4a,3gp,3g2,mj2"));
    EXPECT_FALSE(host::isNativeContainer("matroska,webm"));
    EXPECT_TRUE(host::anyOpenCodec({AV_CODEC_ID_H264, AV_CODEC_ID_VP9}));
    EXPECT_FALSE(host::anyOpenCodec({AV_CODEC_ID_H264, AV_CODEC_ID_PRORES}));
    EXPECT_FALSE(host::anyOpenCodec({}));
}

struct ColourCase {
    int32_t primaries, transfer, matrix, height;
    int32_t wantPrimaries, wantTransfer, wantMatrix;
    bool tagged, guessed;
};

TEST(ColourDefaultsTest, FillsUnspecifiedTagsByHeightAndGamut) {
    const ColourCase cases[] = {
        {2, 2, 2, 486, 6, 6, 6, false, true},     // NTSC-like
        {2, 2, 2, 576, 5, 6, 5, false, true},     // PAL-like
        {2, 2, 2, 1080, 1, 1, 1, false, true},    // HD
        {2, 16, 2, 2160, 9, 16, 9, false, true},  // PQ only: BT.2020 around it
        {9, 2, 2, 2160, 9, 14, 9, false, true},   // BT.2020 primaries
        {2, 2, 10, 1080, 9, 14, 10, false, true},
        {1, 1, 1, 576, 1, 1, 1, true, false},  // fully tagged stays
        {5, 2, 2, 480, 5, 6, 6, false, true},  // only the gaps are filled
    };
    for (const ColourCase& c : cases) {
        const ColourTags tags = applyColourDefaults(c.primaries, c.transfer, c.matrix, c.height);
        SCOPED_TRACE(std::to_string(c.primaries) + "/" + std::to_string(c.transfer) + "/" +
                     std::to_string(c.matrix) + " at " + std::to_string(c.height));
        EXPECT_EQ(tags.primaries, c.wantPrimaries);
        EXPECT_EQ(tags.transfer, c.wantTransfer);
        EXPECT_EQ(tags.matrix, c.wantMatrix);
        EXPECT_EQ(tags.tagged, c.tagged);
        EXPECT_EQ(tags.guessed, c.guessed);
    }
}

TEST(PixelFactsTest, AlphaModeFromMetadataOnlyWhenTheFormatHasAlpha) {
    bool assumed = false;
    EXPECT_EQ(alphaModeFor(false, "1", "", assumed), AlphaMode::Opaque);
    EXPECT_FALSE(assumed);
    EXPECT_EQ(alphaModeFor(true, "1", "0", assumed), AlphaMode::Premultiplied);
    EXPECT_EQ(alphaModeFor(true, "", "0", assumed), AlphaMode::Straight);
    EXPECT_FALSE(assumed);
    EXPECT_EQ(alphaModeFor(true, "yes", "", assumed), AlphaMode::Straight);
    EXPECT_TRUE(assumed);
}

TEST(AudioSampleTypeTest, CodecDecidesBeforeSampleFormat) {
    struct Case {
        int32_t codec, format, bits, want;
    } const cases[] = {
        {AV_CODEC_ID_PCM_S16BE, AV_SAMPLE_FMT_S16, 16, 8},
        {AV_CODEC_ID_PCM_S24BE, AV_SAMPLE_FMT_S32, 24, 9},
        {AV_CODEC_ID_PCM_S32BE, AV_SAMPLE_FMT_S32, 32, 10},
        {AV_CODEC_ID_PCM_F32BE, AV_SAMPLE_FMT_FLT, 32, 11},
        {AV_CODEC_ID_PCM_S32LE, AV_SAMPLE_FMT_S32, 32, 5},
        {AV_CODEC_ID_PCM_F64LE, AV_SAMPLE_FMT_DBL, 64, 7},
        {AV_CODEC_ID_PCM_S64LE, AV_SAMPLE_FMT_S64, 64, 14},
        {AV_CODEC_ID_AAC, AV_SAMPLE_FMT_FLTP, 0, 12},
        {0, AV_SAMPLE_FMT_NONE, 0, 12},
        {AV_CODEC_ID_PCM_ALAW, AV_SAMPLE_FMT_NONE, 0, 14},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(host::audioSampleType(c.codec, c.format, c.bits), c.want) << c.codec;
    }
}

TEST(StreamSummaryTest, SplitsOfWideTracks) {
    host::StreamSummary summary;
    summary.channels = 40;
    summary.splitCount = 2;
    EXPECT_EQ(summary.channelsOfSplit(0), 32);
    EXPECT_EQ(summary.channelsOfSplit(1), 8);
    EXPECT_EQ(summary.channelsOfSplit(2), 40);
    summary.splitCount = 1;
    EXPECT_EQ(summary.channelsOfSplit(0), 40);
}

}  // namespace
}  // namespace kestrova
