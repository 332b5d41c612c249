// Probing media files into descriptions, the container header probe, stereo
// pairs and the lazy content probes of a clip.
#include <gtest/gtest.h>

#include <cstring>

#include "containers/clip_description.h"
#include "fixtures.h"
#include "host/clip_instance.h"

namespace kestrova {
namespace {

using test::fixturePath;

// The host-visible facts are checked through the module; here what only the
// description itself shows: what close and failed probes leave behind.
TEST(ClipDescriptionTest, CloseAndFailuresLeaveNothingOpen) {
    ClipDescription description;
    ASSERT_EQ(description.probe(fixturePath("multi_2v3a.mkv")).status, ProbeStatus::Ok);
    EXPECT_TRUE(description.isSeekable());
    EXPECT_FALSE(description.audioStreams()[0]->channelLayoutText.empty());
    description.close();
    EXPECT_FALSE(description.isOpen());
    EXPECT_TRUE(description.streams().empty());
    EXPECT_TRUE(description.path().empty());

    const ProbeResult missing = description.probe(fixturePath("no-such-file.mkv"));
    EXPECT_EQ(missing.status, ProbeStatus::CannotOpen);
    EXPECT_LT(missing.errorCode, 0);
    EXPECT_EQ(missing.detail.rfind("avformat_open_input: ", 0), 0u) << missing.detail;
    EXPECT_FALSE(description.isOpen());

    for (const char* name : {"data_attachment.mkv", "data_stream.nut"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(description.probe(fixturePath("stereo_pair.nut")).status, ProbeStatus::Ok);
        const ProbeResult data = description.probe(fixturePath(name));
        EXPECT_EQ(data.status, ProbeStatus::NoDecodableStream);
        EXPECT_EQ(data.detail, "no video or audio stream with an available decoder");
        EXPECT_FALSE(description.isOpen());
        EXPECT_TRUE(description.streams().empty());
        EXPECT_EQ(description.path(), fixturePath(name));
        // Nothing of the file outlives the failed probe.
        EXPECT_EQ(description.formatName(), "");
        EXPECT_EQ(description.formatLongName(), "");
        EXPECT_EQ(description.duration(), 0);
        EXPECT_FALSE(description.durationUnknown());
        EXPECT_FALSE(description.stereoPair().found);
        EXPECT_TRUE(description.metadata().empty());
    }

    ASSERT_EQ(description.probe(fixturePath("h264_elementary.h264")).status, ProbeStatus::Ok);
    EXPECT_TRUE(description.durationUnknown());
}

TEST(ClipDescriptionTest, StereoTaggedStreamsListTheLeftEyeFirst) {
    ClipDescription description;
    ASSERT_EQ(description.probe(fixturePath("stereo_pair.nut")).status, ProbeStatus::Ok);
    const StereoPair& pair = description.stereoPair();
    EXPECT_TRUE(pair.found);
    EXPECT_EQ(pair.left, 1);
    EXPECT_EQ(pair.right, 0);
    ASSERT_EQ(description.videoStreams().size(), 2u);
    EXPECT_EQ(description.videoStreams()[0]->index, 1);
    EXPECT_EQ(description.eyeForView(0), 1);
    EXPECT_EQ(description.eyeForView(1), 2);
    EXPECT_EQ(description.eyeForView(2), 0);
}

StreamInfo videoWith(int32_t index, const char* stereoMode) {
    StreamInfo info;
    info.index = index;
    info.mediaType = AVMEDIA_TYPE_VIDEO;
    info.hasDecoder = true;
    if (const auto tag = stereoFromMetadata(stereoMode)) {
        info.stereoPresent = true;
        info.stereoType = tag->type;
        info.stereoView = tag->view;
    }
    return info;
}

TEST(StereoPairTest, PairsOnlyTwoTaggedStreams) {
    const StereoPair bothLeft =
        classifyStereoPair({videoWith(0, "left_eye"), videoWith(1, "left_eye")});
    EXPECT_TRUE(bothLeft.found);
    EXPECT_EQ(bothLeft.left, 0);
    EXPECT_EQ(bothLeft.right, 1);
    EXPECT_FALSE(classifyStereoPair({videoWith(0, "left_eye"), videoWith(1, "right_eye"),
                                     videoWith(2, "right_eye")})
                     .found);
    EXPECT_FALSE(classifyStereoPair({videoWith(0, "left_eye"), videoWith(1, "")}).found);
    // Two packed layouts both read as left, and neither is a single eye.
    EXPECT_FALSE(
        classifyStereoPair({videoWith(3, "top_bottom"), videoWith(5, "top_bottom")}).found);
    EXPECT_FALSE(stereoFromMetadata("LEFT_EYE").has_value());
    EXPECT_EQ(stereoFromMetadata("bottom_top")->type, 2);
}

TEST(ProbeContainerTest, ReadsTheHeaderOnly) {
    const ContainerHeader mp4 = probeContainer(fixturePath("h264_closed.mp4"));
    EXPECT_TRUE(mp4.opened);
    EXPECT_EQ(mp4.formatName, "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_EQ(mp4.streamCount, 2);
    EXPECT_EQ(mp4.videoCodecIds, std::vector<int32_t>{AV_CODEC_ID_H264});
    EXPECT_TRUE(mp4.everyVideoCodecKnown);
    EXPECT_FALSE(probeContainer(fixturePath("no-such-file.mp4")).opened);
}

TEST(DoviTest, ProfileAndLevelNeedAUsableHeaderOffset) {
    std::vector<uint8_t> block(64, 0);
    const auto withOffset = [&](uint64_t offset) {
        std::memcpy(block.data(), &offset, sizeof offset);
        return doviProfileLevel(block.data(), block.size());
    };
    block[44] = 8;
    block[45] = 6;
    EXPECT_EQ(withOffset(0), std::make_pair(-1, -1));
    EXPECT_EQ(withOffset(40), std::make_pair(8, 6));
    EXPECT_EQ(withOffset(45), std::make_pair(-1, -1));  // 45 + 20 bytes do not fit
    EXPECT_EQ(withOffset(~uint64_t{0}), std::make_pair(-1, -1));
    EXPECT_EQ(doviProfileLevel(block.data(), 47), std::make_pair(-1, -1));
}

struct LazyProbeClip : host::ClipInstance {
    explicit LazyProbeClip(const std::string& fixture) {
        path = fixturePath(fixture);
        mappedVideo = 0;
    }
};

TEST(LazyProbeTest, FindsAnAttachedLutWithAnUpperCaseExtension) {
    LazyProbeClip withLut("lut_attachment.mkv");
    withLut.probeEmbeddedLut();
    EXPECT_FALSE(withLut.lutBytes.empty());
    EXPECT_NE(std::string(withLut.lutBytes.begin(), withLut.lutBytes.end()).find("LUT_3D_SIZE"),
              std::string::npos);
    LazyProbeClip plain("h264_closed.mkv");
    plain.probeEmbeddedLut();
    EXPECT_TRUE(plain.lutBytes.empty());
    EXPECT_TRUE(plain.lutProbed);
}

TEST(LazyProbeTest, ReadsMasteringMetadataFromTheFirstFrame) {
    LazyProbeClip clip("hevc10_pq.mkv");
    clip.probeHdrMetadata();
    const HdrMetadata& hdr = clip.hdrMetadata;
    EXPECT_TRUE(hdr.masteringPresent);
    EXPECT_TRUE(hdr.hasPrimaries);
    EXPECT_NEAR(hdr.primaries[0], 0.68, 1e-9);   // red x
    EXPECT_NEAR(hdr.primaries[7], 0.329, 1e-9);  // white y
    EXPECT_NEAR(hdr.maxLuminance, 1000.0, 1e-9);
    clip.probeIccProfile();
    EXPECT_TRUE(clip.iccProfile.empty());
    EXPECT_TRUE(clip.iccProbed);
}

// Frame 0 of this clip cannot be decoded: the black stand-in carries no side
// data, so neither probe may conclude from it.
TEST(LazyProbeTest, StandInFirstFrameConcludesNothing) {
    LazyProbeClip clip("corrupt/vp9.blank0.mp4");
    clip.probeHdrMetadata();
    EXPECT_FALSE(clip.hdrProbed);
    clip.probeIccProfile();
    EXPECT_FALSE(clip.iccProbed);
}

}  // namespace
}  // namespace kestrova
