#include "video/hw_devices.h"

#include <gtest/gtest.h>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova {
namespace {

TEST(AvErrorText, FfmpegTextWithTheCodeOrOnlyTheCodeWithoutFfmpeg) {
    const auto missing = ffmpeg::FfmpegRuntime::loadFrom("/nonexistent/kestrova-module-dir");
    ASSERT_FALSE(missing->available());
    EXPECT_EQ(avErrorText(*missing, AVERROR(EINVAL)), "av error -22");
    const auto runtime = ffmpeg::FfmpegRuntime::loadFrom(KESTROVA_BINARY_DIR "/bin");
    if (!runtime->available()) {
        GTEST_SKIP() << "no FFmpeg build beside the tests";
    }
    EXPECT_EQ(avErrorText(*runtime, AVERROR(EINVAL)), "Invalid argument (-22)");
    // A code FFmpeg has no text for.
    EXPECT_EQ(avErrorText(*runtime, -987654), "unknown av error -987654");
}

}  // namespace
}  // namespace kestrova
