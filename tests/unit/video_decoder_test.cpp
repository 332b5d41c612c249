#include "video/video_decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "containers/clip_description.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "fixtures.h"

namespace kestrova {
namespace {

// A probed fixture and a decoder on its first video stream.
struct OpenClip {
    ClipDescription clip;
    VideoDecoder decoder;
    int32_t stream = -1;

    bool open(const std::string& name, bool hardware = false, int32_t deviceType = 0) {
        const ProbeResult probed = clip.probe(test::fixturePath(name));
        if (probed.status != ProbeStatus::Ok || clip.videoStreams().empty()) {
            ADD_FAILURE() << name << ": " << statusName(probed.status) << " " << probed.detail;
            return false;
        }
        stream = clip.videoStreams()[0]->index;
        return decoder.open(clip, stream, 0, hardware, deviceType, ThreadRole::Foreground);
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

TEST_F(VideoDecoderTest, NegativeRequestServesFrameZero) {
    openClosed();
    const FrameResult result = decoder().frameAt(-5);
    EXPECT_EQ(result.status, DecodeStatus::Ok);
    EXPECT_EQ(result.frameIndex, 0);
    EXPECT_FALSE(result.notExact);
}

// The request sequence shows when the decoder decodes forward and when it seeks.
TEST_F(VideoDecoderTest, ForwardWithinAGopSeekBehind) {
    openClosed();
    struct Step {
        int64_t request;
        bool seeks;
        bool decodes;
        int64_t gopSpacing;  // measured after the step
    };
    const Step steps[] = {
        {0, true, true, 0},     // nothing held yet; one keyframe seen
        {0, false, false, 0},   // the frame held: no flags, no decoding
        {5, false, true, 0},    // within the default window of 12
        {11, false, true, 12},  // the second keyframe was read
        {2, true, true, 12},    // behind
        {30, true, true, 12},   // beyond the window
        {41, false, true, 12},  // within it
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.request);
        const int64_t seeks = decoder().seekCount();
        const int64_t decoded = decoder().framesDecoded();
        const FrameResult result = decoder().frameAt(step.request);
        EXPECT_EQ(result.status, DecodeStatus::Ok);
        EXPECT_EQ(result.frameIndex, step.request);
        EXPECT_FALSE(result.notExact || result.repeatedLastGood || result.black);
        EXPECT_EQ(result.seeked, step.seeks);
        EXPECT_EQ(decoder().seekCount() - seeks, step.seeks ? 1 : 0);
        EXPECT_EQ(decoder().framesDecoded() > decoded, step.decodes);
        EXPECT_EQ(decoder().gopSpacing(), step.gopSpacing);
    }
}

TEST(VideoDecoderWindow, ForwardWindowTable) {
    struct Case {
        bool intraOnly;
        double seekCost;
        double frameCost;
        int64_t gopSpacing;
        int64_t expected;
    };
    const Case cases[] = {
        {false, 0, 0, 0, 12},      {false, 0, 0, 300, 96}, {false, 0, 0, 24, 24},
        {true, 0, 0, 0, 8},        {true, 40, 0, 0, 8},    {true, 40e6, 1e6, 0, 16},
        {true, 400e6, 1e6, 0, 16}, {true, 0.5, 1, 0, 1},   {true, 5.9, 1, 300, 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VideoDecoder::forwardWindow(c.intraOnly, c.seekCost, c.frameCost, c.gopSpacing),
                  c.expected)
            << c.intraOnly << " " << c.seekCost << " " << c.frameCost << " " << c.gopSpacing;
    }
}

TEST_F(VideoDecoderTest, PastTheEndRepeatsTheLastFrameLoggingOnce) {
    openClosed();
    test::LogCapture log;
    ASSERT_EQ(decoder().frameAt(74).frameIndex, 74);
    for (int64_t request : {75, 76, 80}) {
        SCOPED_TRACE(request);
        const FrameResult result = decoder().frameAt(request);
        EXPECT_EQ(result.status, DecodeStatus::Ok);
        EXPECT_EQ(result.frameIndex, 74);
        EXPECT_TRUE(result.notExact);
        EXPECT_TRUE(result.repeatedLastGood);
        EXPECT_EQ(result.detail, "EndOfStream");
        ASSERT_NE(decoder().currentFrame(), nullptr);
        EXPECT_NE(decoder().currentFrame()->data[0], nullptr);
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
    struct Case {
        int32_t level;
        bool changed;
        const char* logged;
    };
    const Case cases[] = {
        {0, true, "setQuality: level=0, skip_loop_filter=48, skip_frame=8"},
        {0, false, nullptr},
        {1, true, "setQuality: level=1, skip_loop_filter=32, skip_frame=16"},
        {2, true, "setQuality: level=2, skip_loop_filter=8, skip_frame=0"},
        {3, true, "setQuality: level=3, skip_loop_filter=0, skip_frame=0"},
        {7, false, "setQuality: level=7 needs no codec change"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        test::LogCapture log;
        EXPECT_EQ(decoder().setQuality(c.level), c.changed);
        EXPECT_EQ(log.count("setQuality: "), c.logged != nullptr ? 1 : 0);
        if (c.logged != nullptr) {
            EXPECT_EQ(log.count(c.logged), 1) << log.text();
        }
        if (c.changed) {
            EXPECT_EQ(decoder().currentIndex(), -1);
        }
    }
    const FrameResult result = decoder().frameAt(3);
    EXPECT_EQ(result.status, DecodeStatus::Ok);
    EXPECT_EQ(result.frameIndex, 3);
}

// Raw H.264 has no timestamps: after a seek the first picture is taken as
// the one asked for, and says so.
TEST_F(VideoDecoderTest, ElementaryStreamAfterSeekIsAssumedNotExact) {
    ASSERT_TRUE(clip_.open("h264_elementary.h264"));
    const FrameResult result = decoder().frameAt(20);
    EXPECT_EQ(result.status, DecodeStatus::Ok);
    EXPECT_EQ(result.frameIndex, 20);
    EXPECT_TRUE(result.notExact);
    EXPECT_TRUE(result.seeked);
}

// This build has the CUDA decoders but the machine has no GPU: the request
// ends in the generic software decoder, for both ways of asking.
TEST_F(VideoDecoderTest, HardwareRequestFallsBackToSoftware) {
    for (int32_t deviceType : {0, static_cast<int32_t>(AV_HWDEVICE_TYPE_CUDA)}) {
        SCOPED_TRACE(deviceType);
        test::LogCapture log;
        OpenClip clip;
        ASSERT_TRUE(clip.open("h264_closed.mkv", true, deviceType));
        EXPECT_FALSE(clip.decoder.hardware().active);
        EXPECT_EQ(clip.decoder.decoderName(), "h264");
        EXPECT_EQ(clip.decoder.currentHwPixelFormat(), -1);
        for (int64_t n : {0, 30, 10}) {
            const FrameResult result = clip.decoder.frameAt(n);
            EXPECT_EQ(result.status, DecodeStatus::Ok);
            EXPECT_EQ(result.frameIndex, n);
            EXPECT_FALSE(result.notExact);
        }
        EXPECT_EQ(log.count("HW decode: found hardware-native decoder 'h264_cuvid' for codec h264"),
                  1);
        EXPECT_EQ(log.count("HW decode: device init failed for h264_cuvid, falling back to generic "
                            "decoder"),
                  1);
    }
}

TEST_F(VideoDecoderTest, LowresSizesStartWithTheFullSize) {
    struct Case {
        const char* fixture;
        std::vector<std::vector<int32_t>> sizes;
    };
    const Case cases[] = {
        {"h264_closed.mkv", {{320, 240, 0}}},
        {"mjpeg.avi", {{320, 240, 0}, {160, 120, 1}, {80, 60, 2}, {40, 30, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        OpenClip clip;
        ASSERT_TRUE(clip.open(c.fixture));
        std::vector<std::vector<int32_t>> sizes;
        for (const LowresSize& size : clip.decoder.lowresSizes()) {
            sizes.push_back({size.width, size.height, size.lowres});
        }
        EXPECT_EQ(sizes, c.sizes);
    }
    EXPECT_TRUE(VideoDecoder().lowresSizes().empty());
}

TEST_F(VideoDecoderTest, StreamsThatCannotBeOpened) {
    OpenClip clip;
    ASSERT_EQ(clip.clip.probe(test::fixturePath("multi_2v3a.mkv")).status, ProbeStatus::Ok);
    const ClipDescription closed;
    struct Case {
        const ClipDescription* demuxer;
        int32_t stream;
        const char* why;
    };
    const Case cases[] = {
        {&clip.clip, 2, "an audio stream"},
        {&clip.clip, -1, "a negative index"},
        {&clip.clip, 99, "no such stream"},
        {&closed, 0, "no container"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        VideoDecoder decoder;
        EXPECT_FALSE(decoder.open(*c.demuxer, c.stream, 0, false, 0, ThreadRole::Foreground));
        EXPECT_FALSE(decoder.isOpen());
        EXPECT_EQ(decoder.frameAt(0).status, DecodeStatus::NotOpen);
        EXPECT_EQ(decoder.decodeNext().status, DecodeStatus::NotOpen);
        EXPECT_EQ(decoder.decoderName(), "<unknown>");
    }
    // The second video stream is a decodable one.
    VideoDecoder second;
    EXPECT_TRUE(second.open(clip.clip, 1, 0, false, 0, ThreadRole::Background));
    EXPECT_EQ(second.frameAt(3).frameIndex, 3);
}

TEST_F(VideoDecoderTest, BlackFrameHasTheStreamGeometry) {
    openClosed();
    ASSERT_TRUE(decoder().generateBlackFrame());
    const AVFrame* frame = decoder().currentFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 320);
    EXPECT_EQ(frame->height, 240);
    EXPECT_EQ(frame->format, AV_PIX_FMT_YUV420P);
    ASSERT_NE(frame->data[0], nullptr);
    ASSERT_NE(frame->data[1], nullptr);
    // Limited-range black.
    EXPECT_EQ(frame->data[0][0], 16);
    EXPECT_EQ(frame->data[0][239 * frame->linesize[0] + 319], 16);
    EXPECT_EQ(frame->data[1][0], 128);
    EXPECT_EQ(frame->data[2][119 * frame->linesize[2] + 159], 128);
    EXPECT_FALSE(VideoDecoder().generateBlackFrame());
}

}  // namespace
}  // namespace kestrova
