// The clip's own decoder as the clip instance opens it: what it tells the
// pixel-format list about the frames it delivers.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "host/clip_instance.h"

namespace kestrova {
namespace {

// A readback format learnt from a device that has since given way to
// software (a fall-back, then a quiet and reopen, or a fall-back while open)
// must not describe the software frames.
TEST(ClipDecoderTest, SoftwareDecodingHasNoReadbackFormat) {
    host::ClipInstance clip;
    clip.path = test::fixturePath("h264_closed.mkv");
    clip.mappedVideo = 0;
    clip.hwReadbackFormat = AV_PIX_FMT_NV12;
    ASSERT_TRUE(clip.openVideoDecoder());
    ASSERT_FALSE(clip.videoDecoder.hardware().active);
    EXPECT_EQ(clip.hwReadbackFormat, -1);

    clip.hwReadbackFormat = AV_PIX_FMT_NV12;
    ASSERT_TRUE(clip.openVideoDecoder());
    EXPECT_EQ(clip.hwReadbackFormat, -1);
}

}  // namespace
}  // namespace kestrova
