#include "video/hw_devices.h"

#include <gtest/gtest.h>

#include <memory>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova {
namespace {

TEST(HwDeviceCandidates, OrderTypesAndDefaultFormats) {
    ASSERT_EQ(kHwDeviceCandidates.size(), 5u);
    EXPECT_STREQ(kHwDeviceCandidates[0].name, "cuda (nvdec)");
    EXPECT_EQ(kHwDeviceCandidates[0].type, AV_HWDEVICE_TYPE_CUDA);
    EXPECT_EQ(kHwDeviceCandidates[0].defaultPixelFormat, AV_PIX_FMT_CUDA);
    EXPECT_STREQ(kHwDeviceCandidates[1].name, "d3d11va");
    EXPECT_EQ(kHwDeviceCandidates[1].type, AV_HWDEVICE_TYPE_D3D11VA);
    EXPECT_EQ(kHwDeviceCandidates[1].defaultPixelFormat, AV_PIX_FMT_D3D11);
    EXPECT_STREQ(kHwDeviceCandidates[2].name, "qsv");
    EXPECT_EQ(kHwDeviceCandidates[2].type, AV_HWDEVICE_TYPE_QSV);
    EXPECT_EQ(kHwDeviceCandidates[2].defaultPixelFormat, AV_PIX_FMT_QSV);
    EXPECT_STREQ(kHwDeviceCandidates[3].name, "dxva2");
    EXPECT_EQ(kHwDeviceCandidates[3].type, AV_HWDEVICE_TYPE_DXVA2);
    EXPECT_EQ(kHwDeviceCandidates[3].defaultPixelFormat, AV_PIX_FMT_DXVA2_VLD);
    EXPECT_STREQ(kHwDeviceCandidates[4].name, "vulkan");
    EXPECT_EQ(kHwDeviceCandidates[4].type, AV_HWDEVICE_TYPE_VULKAN);
    EXPECT_EQ(kHwDeviceCandidates[4].defaultPixelFormat, AV_PIX_FMT_VULKAN);
}

TEST(AvErrorText, WithoutFfmpegOnlyTheCode) {
    const auto missing = ffmpeg::FfmpegRuntime::loadFrom("/nonexistent/kestrova-module-dir");
    ASSERT_FALSE(missing->available());
    EXPECT_EQ(avErrorText(*missing, AVERROR(EINVAL)), "av error -22");
    EXPECT_EQ(avErrorText(*missing, 0), "av error 0");
}

TEST(AvErrorText, FfmpegTextWithTheCode) {
    const auto runtime = ffmpeg::FfmpegRuntime::loadFrom(KESTROVA_BINARY_DIR "/bin");
    if (!runtime->available()) {
        GTEST_SKIP() << "no FFmpeg build beside the tests";
    }
    EXPECT_EQ(avErrorText(*runtime, AVERROR(EINVAL)), "Invalid argument (-22)");
    EXPECT_EQ(avErrorText(*runtime, AVERROR_EOF),
              "End of file (" + std::to_string(AVERROR_EOF) + ")");
    // A code FFmpeg has no text for.
    EXPECT_EQ(avErrorText(*runtime, -987654), "unknown av error -987654");
}

}  // namespace
}  // namespace kestrova
