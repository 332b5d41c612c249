#include "video/video_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "containers/clip_description.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "fixtures.h"
#include "picture_hash.h"

namespace kestrova {
namespace {

// A probed fixture and a decoder on its first video stream.
struct OpenClip {
    ClipDescription clip;
    VideoDecoder decoder;

    bool open(const std::string& name, bool hardware = false, int32_t deviceType = 0) {
        const ProbeResult probed = clip.probe(test::fixturePath(name));
        if (probed.status != ProbeStatus::Ok || clip.videoStreams().empty()) {
            ADD_FAILURE() << name << ": " << statusName(probed.status) << " " << probed.detail;
            return false;
        }
        return decoder.open(clip, clip.videoStreams()[0]->index, 0, hardware, deviceType,
                            ThreadRole::Foreground);
    }
};

class VideoDecoderTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
    // A decoder on the closed-GOP H.264 clip: 75 frames, a keyframe every 12.
    void openClosed() { ASSERT_TRUE(clip_.open("h264_closed.mkv")); }
    VideoDecoder& decoder() { return clip_.decoder; }

    OpenClip clip_;
};

// The request sequence shows when the decoder decodes forward and when it seeks.
TEST_F(VideoDecoderTest, ForwardWithinAGopSeekBehind) {
    openClosed();
    // Request, whether it seeks, whether it decodes, GOP spacing measured after it.
    const std::tuple<int64_t, bool, bool, int64_t> steps[] = {
        {-5, true, true, 0},    // nothing held yet; frame 0 served, one keyframe seen
        {0, false, false, 0},   // the frame held: no flags, no decoding
        {5, false, true, 0},    // within the default window of 12
        {11, false, true, 12},  // the second keyframe was read
        {2, true, true, 12},    // behind
        {30, true, true, 12},   // beyond the window
    };
    for (const auto& [request, seeks, decodes, gopSpacing] : steps) {
        SCOPED_TRACE(request);
        const int64_t seeksBefore = decoder().seekCount();
        const int64_t decoded = decoder().framesDecoded();
        const FrameResult result = decoder().frameAt(request);
        EXPECT_EQ(result.status, DecodeStatus::Ok);
        EXPECT_EQ(result.frameIndex, std::max<int64_t>(request, 0));
        EXPECT_FALSE(result.notExact || result.repeatedLastGood || result.black);
        EXPECT_EQ(result.seeked, seeks);
        EXPECT_EQ(decoder().seekCount() - seeksBefore, seeks ? 1 : 0);
        EXPECT_EQ(decoder().framesDecoded() > decoded, decodes);
        EXPECT_EQ(decoder().gopSpacing(), gopSpacing);
    }
}

TEST_F(VideoDecoderTest, PastTheEndRepeatsTheLastFrameLoggingOnce) {
    openClosed();
    test::LogCapture log;
    ASSERT_EQ(decoder().frameAt(74).frameIndex, 74);
    for (int64_t request : {75, 80}) {
        SCOPED_TRACE(request);
        const FrameResult result = decoder().frameAt(request);
        EXPECT_EQ(result.status, DecodeStatus::Ok);
        EXPECT_EQ(result.frameIndex, 74);
        EXPECT_TRUE(result.notExact);
        EXPECT_TRUE(result.repeatedLastGood);
        EXPECT_EQ(result.detail, "EndOfStream");
    }
    EXPECT_EQ(log.count("frameAt(75): past end of stream, serving the last frame (index 74); "
                        "further requests past the end are not logged"),
              1);
    EXPECT_EQ(log.count("past end of stream"), 1);
}

TEST_F(VideoDecoderTest, QualityLevels) {
    EXPECT_FALSE(decoder().setQuality(1));  // closed: only remembered
    openClosed();
    ASSERT_EQ(decoder().frameAt(3).frameIndex, 3);
    const std::tuple<int32_t, bool, const char*> cases[] = {
        {0, true, "setQuality: level=0, skip_loop_filter=48, skip_frame=8"},
        {0, false, nullptr},
        {3, true, "setQuality: level=3, skip_loop_filter=0, skip_frame=0"},
        {7, false, "setQuality: level=7 needs no codec change"},
    };
    for (const auto& [level, changed, logged] : cases) {
        SCOPED_TRACE(level);
        test::LogCapture log;
        EXPECT_EQ(decoder().setQuality(level), changed);
        EXPECT_EQ(log.count("setQuality: "), logged != nullptr ? 1 : 0);
        if (logged != nullptr) {
            EXPECT_EQ(log.count(logged), 1) << log.text();
        }
        if (changed) {
            EXPECT_EQ(decoder().currentIndex(), -1);
        }
    }
    const FrameResult result = decoder().frameAt(3);
    EXPECT_EQ(result.status, DecodeStatus::Ok);
    EXPECT_EQ(result.frameIndex, 3);
}

// This build has the CUDA decoders but the machine has no GPU: the request
// ends in the generic software decoder.
TEST_F(VideoDecoderTest, HardwareRequestFallsBackToSoftware) {
    test::LogCapture log;
    ASSERT_TRUE(clip_.open("h264_closed.mkv", true, 0));
    EXPECT_FALSE(decoder().hardware().active);
    EXPECT_EQ(decoder().decoderName(), "h264");
    EXPECT_EQ(decoder().currentHwPixelFormat(), -1);
    for (int64_t n : {0, 30, 10}) {
        const FrameResult result = decoder().frameAt(n);
        EXPECT_EQ(result.status, DecodeStatus::Ok);
        EXPECT_EQ(result.frameIndex, n);
        EXPECT_FALSE(result.notExact);
    }
    EXPECT_EQ(log.count("HW decode: found hardware-native decoder 'h264_cuvid' for codec h264"), 1);
    EXPECT_EQ(
        log.count("HW decode: device init failed for h264_cuvid, falling back to generic decoder"),
        1);
}

// What a decoder delivers for frames 0 to 11 of the closed-GOP clip: index,
// exactness and picture.
std::vector<std::tuple<int64_t, bool, uint64_t>> firstGop(VideoDecoder& decoder) {
    std::vector<std::tuple<int64_t, bool, uint64_t>> delivered;
    for (int64_t n = 0; n < 12; ++n) {
        const FrameResult result = decoder.frameAt(n);
        EXPECT_EQ(result.status, DecodeStatus::Ok) << n;
        delivered.emplace_back(result.frameIndex, result.notExact,
                               test::hashPicture(decoder.currentFrame()));
    }
    return delivered;
}

// A draft level set before a reopen (the instance's quiet, the software
// fall-back) still leaves out what it left out before.
TEST_F(VideoDecoderTest, QualityLevelSurvivesAReopen) {
    openClosed();
    const auto full = firstGop(decoder());
    ASSERT_TRUE(decoder().setQuality(0));
    const auto draft = firstGop(decoder());
    ASSERT_NE(draft, full);
    for (const bool storedWhileClosed : {false, true}) {
        SCOPED_TRACE(storedWhileClosed ? "stored while closed" : "stored while open");
        OpenClip reopened;
        if (storedWhileClosed) {
            EXPECT_FALSE(reopened.decoder.setQuality(0));
        }
        ASSERT_TRUE(reopened.open("h264_closed.mkv"));
        if (!storedWhileClosed) {
            ASSERT_TRUE(reopened.decoder.setQuality(0));
            reopened.decoder.close();
            ASSERT_TRUE(reopened.open("h264_closed.mkv"));
        }
        EXPECT_EQ(firstGop(reopened.decoder), draft);
    }
}

// Without a device in force, a damaged picture is an ordinary decode error:
// no hardware fall-back is claimed, no reopen loses the last good picture.
TEST_F(VideoDecoderTest, FailedDeviceSetUpLeavesDecodeErrorsToTheSoftwarePath) {
    test::LogCapture log;
    ASSERT_TRUE(clip_.open("corrupt/vp9.flip.webm", true, 0));
    if (decoder().hardware().active) {
        GTEST_SKIP() << "a hardware device is in force on this machine";
    }
    int lastGoodAfterError = 0;
    for (int64_t n = 0; n < 50; ++n) {
        const FrameResult result = decoder().frameAt(n);
        ASSERT_EQ(result.status, DecodeStatus::Ok) << n;
        lastGoodAfterError += result.repeatedLastGood && result.detail != "EndOfStream" ? 1 : 0;
    }
    EXPECT_GT(lastGoodAfterError, 0) << "the damage never reached the decoder";
    EXPECT_FALSE(decoder().hardware().fallenBack);
    EXPECT_EQ(log.count("HW decode fallback to software"), 0);
    EXPECT_EQ(log.count("Reopening decoder in software-only mode"), 0);
}

// A keyframe index made for another stream of the file is not used: its
// positions belong to that stream. This one sends every seek near the end.
TEST_F(VideoDecoderTest, SeekIndexOfAnotherStreamIsIgnored) {
    const std::string name = "multi_2v3a.mkv";
    SeekIndex misleading;
    const auto nearTheEnd =
        static_cast<int64_t>(std::filesystem::file_size(test::fixturePath(name)));
    misleading.entries = {{0, nearTheEnd * 3 / 4, 0}};
    for (const int32_t indexedStream : {1, 0}) {
        SCOPED_TRACE(indexedStream);
        OpenClip clip;
        ASSERT_TRUE(clip.open(name));
        misleading.streamIndex = indexedStream;
        clip.decoder.setSeekIndex(&misleading);
        const FrameResult result = clip.decoder.frameAt(5);
        ASSERT_EQ(result.status, DecodeStatus::Ok);
        // The index of stream 0 is honoured, and misleads as it was made to.
        EXPECT_EQ(result.frameIndex == 5 && !result.notExact, indexedStream != 0)
            << result.frameIndex;
    }
}

TEST_F(VideoDecoderTest, StreamsThatCannotBeOpened) {
    OpenClip clip;
    ASSERT_EQ(clip.clip.probe(test::fixturePath("multi_2v3a.mkv")).status, ProbeStatus::Ok);
    const ClipDescription closed;
    const std::tuple<const ClipDescription*, int32_t, const char*> cases[] = {
        {&clip.clip, 2, "an audio stream"},
        {&clip.clip, 99, "no such stream"},
        {&closed, 0, "no container"},
    };
    for (const auto& [demuxer, stream, why] : cases) {
        SCOPED_TRACE(why);
        VideoDecoder decoder;
        EXPECT_FALSE(decoder.open(*demuxer, stream, 0, false, 0, ThreadRole::Foreground));
        EXPECT_FALSE(decoder.isOpen());
        EXPECT_EQ(decoder.frameAt(0).status, DecodeStatus::NotOpen);
        EXPECT_EQ(decoder.decodeNext().status, DecodeStatus::NotOpen);
        EXPECT_EQ(decoder.decoderName(), "<unknown>");
    }
}

TEST_F(VideoDecoderTest, BlackFrameHasTheStreamGeometry) {
    openClosed();
    ASSERT_TRUE(decoder().generateBlackFrame());
    const AVFrame* frame = decoder().currentFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 320);
    EXPECT_EQ(frame->height, 240);
    EXPECT_EQ(frame->format, AV_PIX_FMT_YUV420P);
    EXPECT_FALSE(VideoDecoder().generateBlackFrame());
}

}  // namespace
}  // namespace kestrova
