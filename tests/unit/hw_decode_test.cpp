#include "video/hw_decode.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "fixtures.h"

namespace kestrova {
namespace {

const ffmpeg::FfmpegFunctions& fn() {
    return ffmpeg::FfmpegRuntime::instance().fn();
}

class HwDecodeTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
};

// The bundled build has the CUDA decoders but none of the QSV ones; type 0
// takes the first candidate type that has one.
TEST_F(HwDecodeTest, FindsTheTableDecoderThisBuildHas) {
    const auto name = [](AVCodecID codec, int32_t deviceType) {
        const AVCodec* decoder = findHardwareNativeDecoder(codec, deviceType);
        return decoder ? decoder->name : nullptr;
    };
    EXPECT_STREQ(name(AV_CODEC_ID_HEVC, 0), "hevc_cuvid");
    EXPECT_STREQ(name(AV_CODEC_ID_H264, AV_HWDEVICE_TYPE_QSV), nullptr);
    EXPECT_STREQ(name(AV_CODEC_ID_MJPEG, AV_HWDEVICE_TYPE_CUDA), nullptr);  // not in the table
    test::LogCapture log;
    EXPECT_EQ(findHardwareNativeDecoder(AV_CODEC_ID_VP9, AV_HWDEVICE_TYPE_QSV), nullptr);
    EXPECT_EQ(log.count("HW decode: 'vp9_qsv' not available in this FFmpeg build"), 1);
}

// A requested type rules out the other candidates; the state stays inactive.
TEST_F(HwDecodeTest, SetupWithoutGpuFailsAndStaysInactive) {
    test::LogCapture log;
    HwDecodeState state;
    EXPECT_FALSE(setupHardwareDevice(state, fn().avcodec_find_decoder_by_name("h264_cuvid"),
                                     AV_HWDEVICE_TYPE_D3D11VA));
    EXPECT_FALSE(state.active);
    EXPECT_EQ(state.deviceRef, nullptr);
    EXPECT_EQ(log.count("HW decode: codec h264_cuvid does not support d3d11va"), 1) << log.text();
    EXPECT_EQ(log.count("HW decode: no suitable device found, will use software decoding"), 1);
    EXPECT_EQ(log.count("cuda"), 0) << log.text();
}

TEST_F(HwDecodeTest, FallbackIsDeclaredOnceAndStopsSetup) {
    HwDecodeState state;
    EXPECT_FALSE(setupHardwareDevice(state, nullptr, 0));
    test::LogCapture log;
    state.active = true;
    declareFallback(state, "first");
    declareFallback(state, "second");
    EXPECT_FALSE(state.active);
    EXPECT_TRUE(state.fallenBack);
    EXPECT_EQ(state.reason, "first");
    EXPECT_EQ(log.count("HW decode fallback to software: first"), 1);
    EXPECT_FALSE(setupHardwareDevice(state, fn().avcodec_find_decoder_by_name("h264_cuvid"), 0));
    EXPECT_EQ(log.count("HW decode"), 1);  // the fallback line alone
}

TEST_F(HwDecodeTest, GetFormatNegotiation) {
    const std::tuple<bool, std::vector<AVPixelFormat>, AVPixelFormat> cases[] = {
        {false, {AV_PIX_FMT_CUDA, AV_PIX_FMT_NV12, AV_PIX_FMT_YUV420P}, AV_PIX_FMT_NV12},
        {false, {AV_PIX_FMT_VULKAN, AV_PIX_FMT_CUDA}, AV_PIX_FMT_VULKAN},  // only hardware ones
        {true, {AV_PIX_FMT_YUV420P, AV_PIX_FMT_CUDA}, AV_PIX_FMT_CUDA},
        {true, {AV_PIX_FMT_VULKAN, AV_PIX_FMT_P010LE}, AV_PIX_FMT_P010LE},  // device one absent
    };
    ffmpeg::CodecContextPtr context(fn().avcodec_alloc_context3(nullptr));
    ASSERT_NE(context, nullptr);
    for (auto [active, offered, expected] : cases) {
        SCOPED_TRACE(offered.size());
        HwDecodeState state;
        state.active = active;
        state.hwPixelFormat = AV_PIX_FMT_CUDA;
        context->opaque = &state;
        offered.push_back(AV_PIX_FMT_NONE);
        EXPECT_EQ(hwGetFormat(context.get(), offered.data()), expected);
        EXPECT_EQ(state.active, active);  // declining the device format is no fallback
        EXPECT_FALSE(state.fallenBack);
    }
    EXPECT_EQ(hwGetFormat(context.get(), nullptr), AV_PIX_FMT_NONE);
}

}  // namespace
}  // namespace kestrova
