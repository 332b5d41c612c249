#include "video/hw_decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "fixtures.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

const ffmpeg::FfmpegFunctions& fn() {
    return ffmpeg::FfmpegRuntime::instance().fn();
}

class HwDecodeTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available()); }
};

struct NativeCase {
    AVCodecID codec;
    int32_t deviceType;
    const char* expected;  // null: none
};

class NativeDecoderTest : public HwDecodeTest, public ::testing::WithParamInterface<NativeCase> {};

// The bundled build has the CUDA decoders but none of the QSV ones; type 0
// takes the first candidate type that has one.
TEST_P(NativeDecoderTest, FindsTheTableDecoderThisBuildHas) {
    const NativeCase& c = GetParam();
    const AVCodec* decoder = findHardwareNativeDecoder(c.codec, c.deviceType);
    if (c.expected == nullptr) {
        EXPECT_EQ(decoder, nullptr);
    } else {
        ASSERT_NE(decoder, nullptr);
        EXPECT_STREQ(decoder->name, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, NativeDecoderTest,
    ::testing::Values(NativeCase{AV_CODEC_ID_H264, AV_HWDEVICE_TYPE_CUDA, "h264_cuvid"},
                      NativeCase{AV_CODEC_ID_H264, 0, "h264_cuvid"},
                      NativeCase{AV_CODEC_ID_HEVC, 0, "hevc_cuvid"},
                      NativeCase{AV_CODEC_ID_AV1, 0, "av1_cuvid"},
                      NativeCase{AV_CODEC_ID_H264, AV_HWDEVICE_TYPE_QSV, nullptr},
                      NativeCase{AV_CODEC_ID_H264, AV_HWDEVICE_TYPE_D3D11VA, nullptr},
                      // MJPEG has a cuvid decoder, but it is not in the table.
                      NativeCase{AV_CODEC_ID_MJPEG, AV_HWDEVICE_TYPE_CUDA, nullptr},
                      NativeCase{AV_CODEC_ID_PRORES, 0, nullptr}));

TEST_F(HwDecodeTest, MissingNativeDecoderIsLoggedAtDebug) {
    test::LogCapture log;
    EXPECT_EQ(findHardwareNativeDecoder(AV_CODEC_ID_VP9, AV_HWDEVICE_TYPE_QSV), nullptr);
    EXPECT_EQ(log.count("HW decode: 'vp9_qsv' not available in this FFmpeg build"), 1);
}

// No GPU here: every device creation fails and the state stays inactive.
TEST_F(HwDecodeTest, SetupWithoutGpuFailsAndStaysInactive) {
    struct Case {
        const char* decoder;
        int32_t deviceType;
        const char* logged;
    };
    const Case cases[] = {
        {"h264_cuvid", AV_HWDEVICE_TYPE_CUDA,
         "HW decode: av_hwdevice_ctx_create(cuda (nvdec)) failed"},
        {"h264", 0, "HW decode: codec h264 does not support d3d11va"},
        // A requested type rules out the other candidates.
        {"h264_cuvid", AV_HWDEVICE_TYPE_D3D11VA,
         "HW decode: codec h264_cuvid does not support d3d11va"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decoder);
        test::LogCapture log;
        HwDecodeState state;
        const AVCodec* decoder = fn().avcodec_find_decoder_by_name(c.decoder);
        ASSERT_NE(decoder, nullptr);
        EXPECT_FALSE(setupHardwareDevice(state, decoder, c.deviceType));
        EXPECT_FALSE(state.active);
        EXPECT_EQ(state.deviceRef, nullptr);
        EXPECT_STREQ(deviceTypeName(state), "software");
        const std::string text = log.text();
        EXPECT_NE(text.find(c.logged), std::string::npos) << text;
        EXPECT_NE(text.find("HW decode: no suitable device found, will use software decoding"),
                  std::string::npos);
        if (c.deviceType == AV_HWDEVICE_TYPE_D3D11VA) {
            EXPECT_EQ(text.find("cuda"), std::string::npos) << text;
        }
    }
}

TEST_F(HwDecodeTest, SetupRefusesWithoutDecoderOrAfterFallback) {
    HwDecodeState state;
    EXPECT_FALSE(setupHardwareDevice(state, nullptr, 0));
    declareFallback(state, "earlier failure");
    test::LogCapture log;
    EXPECT_FALSE(setupHardwareDevice(state, fn().avcodec_find_decoder_by_name("h264_cuvid"), 0));
    EXPECT_EQ(log.count("HW decode"), 0);
}

TEST_F(HwDecodeTest, OnlyTheFirstFallbackCounts) {
    test::LogCapture log;
    HwDecodeState state;
    state.active = true;
    declareFallback(state, "first");
    declareFallback(state, "second");
    EXPECT_FALSE(state.active);
    EXPECT_TRUE(state.fallenBack);
    EXPECT_EQ(state.reason, "first");
    EXPECT_EQ(log.count("HW decode fallback to software: "), 1);
    EXPECT_EQ(log.count("HW decode fallback to software: first"), 1);
}

TEST_F(HwDecodeTest, DeviceTypeNames) {
    EXPECT_STREQ(deviceTypeName(AV_HWDEVICE_TYPE_CUDA), "cuda (nvdec)");
    EXPECT_STREQ(deviceTypeName(AV_HWDEVICE_TYPE_VULKAN), "vulkan");
    EXPECT_STREQ(deviceTypeName(AV_HWDEVICE_TYPE_VAAPI), "software");
    EXPECT_STREQ(deviceTypeName(0), "software");
}

struct FormatCase {
    const char* name;
    bool active;
    std::vector<AVPixelFormat> offered;  // without the terminator
    AVPixelFormat expected;
};

TEST_F(HwDecodeTest, GetFormatNegotiation) {
    const FormatCase cases[] = {
        {"inactive: first software format",
         false,
         {AV_PIX_FMT_CUDA, AV_PIX_FMT_NV12, AV_PIX_FMT_YUV420P},
         AV_PIX_FMT_NV12},
        {"inactive: only hardware formats",
         false,
         {AV_PIX_FMT_VULKAN, AV_PIX_FMT_CUDA},
         AV_PIX_FMT_VULKAN},
        {"inactive: empty list", false, {}, AV_PIX_FMT_NONE},
        {"active: the device format", true, {AV_PIX_FMT_YUV420P, AV_PIX_FMT_CUDA}, AV_PIX_FMT_CUDA},
        {"active: device format not offered",
         true,
         {AV_PIX_FMT_VULKAN, AV_PIX_FMT_P010LE},
         AV_PIX_FMT_P010LE},
    };
    ffmpeg::CodecContextPtr context(fn().avcodec_alloc_context3(nullptr));
    ASSERT_NE(context, nullptr);
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        HwDecodeState state;
        state.active = c.active;
        state.hwPixelFormat = AV_PIX_FMT_CUDA;
        context->opaque = &state;
        std::vector<AVPixelFormat> offered = c.offered;
        offered.push_back(AV_PIX_FMT_NONE);
        EXPECT_EQ(hwGetFormat(context.get(), offered.data()), c.expected);
        // Declining the device format is no fallback.
        EXPECT_EQ(state.active, c.active);
        EXPECT_FALSE(state.fallenBack);
    }
    EXPECT_EQ(hwGetFormat(context.get(), nullptr), AV_PIX_FMT_NONE);
}

TEST_F(HwDecodeTest, ErrorTextForCodesWithoutText) {
    EXPECT_EQ(avErrorText(AVERROR(ENOSYS)),
              "Function not implemented (" + std::to_string(AVERROR(ENOSYS)) + ")");
    // av_strerror has no text for this positive code.
    EXPECT_EQ(avErrorText(12345678), "unknown av error 12345678");
}

}  // namespace
}  // namespace kestrova
