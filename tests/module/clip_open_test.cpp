// Which files the importer opens and which it leaves to the host, and how
// host streams map onto the file's streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "clip_test_support.h"

namespace kestrova::moduletest {
namespace {

struct OpenCase {
    const char* fixture;
    host::Result answer;
    const char* logged;  // a line the decision leaves in the log
};
void PrintTo(const OpenCase& c, std::ostream* out) {
    *out << c.fixture;
}

class OpenDecisionTest : public ClipModuleTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenDecisionTest, OpensOrDeclines) {
    const OpenCase& c = GetParam();
    const std::string path = fixturePath(c.fixture);
    {
        OpenClip clip(host(), path);
        EXPECT_EQ(clip.answer.result, c.answer);
        // Declined or not, the host owns an instance it closes like any other.
        EXPECT_NE(clip.clip(), nullptr);
    }
    EXPECT_EQ(host().liveBlocks(), 0u);
    const std::string text = log();
    EXPECT_NE(text.find(c.logged), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenDecisionTest,
    ::testing::Values(
        OpenCase{"h264_closed.mp4", host::imDeclined, "from the container header (mov,mp4"},
        OpenCase{"aac.m4a", host::imDeclined, "from the container header"},
        OpenCase{"vp9.mp4", host::imNoErr, "premiere stream 0 -> video 0"},
        OpenCase{"h264_closed.mkv", host::imNoErr, "premiere stream 0 -> video 0, audio 1"},
        OpenCase{"data_attachment.mkv", host::imDeclined, "(NoDecodableStream)"},
        OpenCase{"corrupt/h264_closed.trunc.mkv", host::imNoErr, "premiere stream 0"}),
    FixtureTestName());

// The extension decides whether the header is examined; without one the
// full probe still finds the native container.
TEST_F(ClipModuleTest, IsoMediaExtensionIsCaseBlindAndNeedsADot) {
    TempFolder folder;
    // One folder each: Windows drops a trailing dot, so "clip." is "clip" there.
    int copies = 0;
    const auto copy = [&](const char* name) {
        const auto subfolder = folder.path() / std::to_string(++copies);
        std::filesystem::create_directory(subfolder);
        std::filesystem::copy_file(fixturePath("h264_closed.mov"), subfolder / name);
        return (subfolder / name).string();
    };
    for (const char* name : {"CLIP.MOV", "clip", "clip."}) {
        OpenClip clip(host(), copy(name));
        EXPECT_EQ(clip.answer.result, host::imDeclined) << name;
    }
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "from the container header"), 1) << text;
    EXPECT_EQ(occurrences(text, "(native container with standard codecs)"), 2) << text;
}

TEST_F(ClipModuleTest, EmptyPathIsDeclined) {
    {
        OpenClip clip(host(), "");
        EXPECT_EQ(clip.answer.result, host::imDeclined);
    }
    EXPECT_NE(log().find("imOpenFile8: empty path"), std::string::npos);
}

TEST_F(ClipModuleTest, HostStreamsOfTwoVideoAndThreeAudioStreams) {
    auto clip = std::make_unique<OpenClip>(host(), fixturePath("multi_2v3a.mkv"));
    ASSERT_EQ(clip->answer.result, host::imNoErr);
    EXPECT_EQ(clip->answer.fileRef, clip->clip());
    EXPECT_GT(clip->answer.extraMemory, 0);
    struct Expected {
        host::Result answer;
        bool video;
        bool audio;
        int32_t width;
        int32_t channels;
    };
    const Expected expected[] = {{host::imAnotherStream, true, true, 320, 2},
                                 {host::imAnotherStream, true, false, 160, 0},
                                 {host::imAnotherStream, false, true, 0, 1},
                                 {host::imNoErr, false, true, 0, 6},
                                 {host::imBadStreamIndex, false, false, 0, 0}};
    for (int32_t s = 0; s < 5; ++s) {
        const hostsim::ClipInfo info = hostsim::getInfo(host(), clip->clip(), s);
        EXPECT_EQ(info.result, expected[s].answer) << s;
        EXPECT_EQ(info.hasVideo, expected[s].video) << s;
        EXPECT_EQ(info.hasAudio, expected[s].audio) << s;
        EXPECT_EQ(info.width, expected[s].video ? expected[s].width : 0) << s;
        EXPECT_EQ(info.channels, expected[s].audio ? expected[s].channels : 0) << s;
    }
    EXPECT_EQ(hostsim::getInfo(host(), clip->clip(), -1).result, host::imBadStreamIndex);
    clip.reset();
    const std::string text = log();
    EXPECT_NE(text.find("imGetInfo8 stream 1/4: video 1 (160x120), audio -1"), std::string::npos);
    EXPECT_NE(text.find("imGetInfo8 stream 3/4: video -1 (0x0), audio 4"), std::string::npos);
}

TEST_F(ClipModuleTest, OutOfRangeHostStreamStillOpens) {
    {
        OpenClip clip(host(), fixturePath("h264_closed.mkv"), 7);
        EXPECT_EQ(clip.answer.result, host::imNoErr);
        // Nothing is mapped, so there is no decoder to size.
        EXPECT_EQ(hostsim::preferredFrameSize(host(), clip.clip(), 0).result, host::imUnsupported);
        EXPECT_EQ(hostsim::getInfo(host(), clip.clip(), 0).result, host::imNoErr);
    }
    EXPECT_NE(log().find("imOpenFile8: stream index 7 out of range for"), std::string::npos);
}

TEST_F(ClipModuleTest, InfoWithoutPrivateDataIsDeclined) {
    EXPECT_EQ(hostsim::getInfo(host(), nullptr, 0).result, host::imDeclined);
    EXPECT_EQ(host().call(host::imGetInfo8, nullptr, nullptr), host::imFailure);
    EXPECT_NE(log().find("imGetInfo8: no privatedata"), std::string::npos);
}

}  // namespace
}  // namespace kestrova::moduletest
