// The decision from measured times, and the examination that gathers them,
// with the machine's answers injected.
#include "video/decoder_selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "fixtures.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

constexpr double kFailed = -1;

struct DecisionCase {
    const char* name;
    double softwareMs;
    std::vector<BackendTiming> backends;
    bool forceHardware;
    DecoderVerdict expected;
    const char* logged;
};

DecoderVerdict software(double ms) {
    return {false, 0, "software", ms, ms, true};
}
DecoderVerdict hardware(const char* name, int32_t type, double ms, double softwareMs) {
    return {true, type, name, ms, softwareMs, true};
}

const DecisionCase kDecisions[] = {
    {"NoBackendWorked",
     10,
     {{"cuda (nvdec)", 2, kFailed}},
     false,
     software(10),
     "using software -- no usable GPU decoder"},
    {"NoBackendAtAll", 10, {}, false, software(10), "using software -- no usable GPU decoder"},
    {"AtTheToleranceHardware",
     10,
     {{"d3d11va", 7, 12.5}},
     false,
     hardware("d3d11va", 7, 12.5, 10),
     "using d3d11va (12.50 ms/frame vs 10.00 software)"},
    {"BeyondTheToleranceSoftware",
     10,
     {{"d3d11va", 7, 12.6}},
     false,
     software(10),
     "beyond the 1.25x tolerance"},
    {"BeyondTheToleranceForced",
     10,
     {{"d3d11va", 7, 12.6}},
     true,
     hardware("d3d11va", 7, 12.6, 10),
     "using d3d11va because forceHardwareDecoding is set"},
    {"FasterBackendWins",
     10,
     {{"cuda (nvdec)", 2, 9}, {"qsv", 5, 4}},
     false,
     hardware("qsv", 5, 4, 10),
     "using qsv"},
    {"TieKeepsTheEarlierCandidate",
     10,
     {{"cuda (nvdec)", 2, 6}, {"qsv", 5, 6}},
     false,
     hardware("cuda (nvdec)", 2, 6, 10),
     "using cuda (nvdec)"},
    {"FailedCandidateIsNoBest",
     10,
     {{"cuda (nvdec)", 2, kFailed}, {"qsv", 5, 30}},
     false,
     software(10),
     "best GPU backend (qsv)"},
    {"OnlyHardwareDecodes",
     kFailed,
     {{"cuda (nvdec)", 2, kFailed}, {"vulkan", 11, 20}},
     false,
     hardware("vulkan", 11, 20, 0),
     "it is the only decode path"},
    {"NothingDecodes",
     kFailed,
     {{"cuda (nvdec)", 2, kFailed}},
     false,
     DecoderVerdict{},
     "NEITHER software NOR any GPU backend can decode av1"},
};

class DecisionTest : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(DecisionTest, ChoosesAndLogs) {
    const DecisionCase& c = GetParam();
    test::LogCapture log;
    EXPECT_EQ(decideVerdict(c.softwareMs, c.backends, c.forceHardware, "av1"), c.expected);
    EXPECT_EQ(log.count(c.logged), 1) << log.text();
}

INSTANTIATE_TEST_SUITE_P(Verdicts, DecisionTest, ::testing::ValuesIn(kDecisions),
                         [](const auto& info) { return std::string(info.param.name); });

// Answers of a machine: times per device type (0: software), and the types
// that take the codec at all.
class FakeProbe final : public DecodePathProbe {
  public:
    std::map<int32_t, double> msPerType;
    std::vector<int32_t> supported;
    std::vector<int32_t> measured;

    bool supports(int32_t deviceType) override {
        return std::find(supported.begin(), supported.end(), deviceType) != supported.end();
    }
    DecodePathMeasurement measure(bool useHardware, int32_t deviceType) override {
        EXPECT_EQ(useHardware, deviceType != 0);
        measured.push_back(deviceType);
        DecodePathMeasurement result;
        const auto found = msPerType.find(deviceType);
        result.msPerFrame = found != msPerType.end() ? found->second : -1;
        result.hardwareActive = useHardware && result.msPerFrame >= 0;
        result.pixelFormat = result.msPerFrame >= 0 ? AV_PIX_FMT_NV12 : -1;
        if (result.msPerFrame < 0 && deviceType == AV_HWDEVICE_TYPE_QSV) {
            result.detail = "no device";
        }
        return result;
    }
    std::string pixelFormatName(int32_t pixelFormat) override {
        return pixelFormat == AV_PIX_FMT_NV12 ? "nv12" : "?";
    }
};

TEST(DecoderExaminationTest, MeasuresOnlyCandidatesThatTakeTheCodec) {
    test::LogCapture log;
    FakeProbe probe;
    probe.supported = {AV_HWDEVICE_TYPE_CUDA, AV_HWDEVICE_TYPE_QSV, AV_HWDEVICE_TYPE_VULKAN};
    probe.msPerType = {{0, 8}, {AV_HWDEVICE_TYPE_VULKAN, 10}};
    const DecoderVerdict verdict =
        examineDecodePaths({27, 1920, 1080}, "h264", probe, /*forceHardware=*/false);

    EXPECT_EQ(probe.measured, (std::vector<int32_t>{0, AV_HWDEVICE_TYPE_CUDA, AV_HWDEVICE_TYPE_QSV,
                                                    AV_HWDEVICE_TYPE_VULKAN}));
    EXPECT_EQ(verdict, hardware("vulkan", AV_HWDEVICE_TYPE_VULKAN, 10, 8));
    const std::string text = log.text();
    EXPECT_EQ(test::occurrences(text,
                                "decoder selection for 1920x1080 h264: software 8.00 "
                                "ms/frame (control)"),
              1)
        << text;
    for (const char* line : {
             "decoder selection:   d3d11va        not supported for h264, skipped without opening",
             "decoder selection:   dxva2          not supported for h264",
             "decoder selection:   cuda (nvdec)   unavailable (unsupported)",
             "decoder selection:   qsv            unavailable (no device)",
             "decoder selection:   vulkan         10.00 ms/frame including readback (1.25x "
             "software), readback format nv12",
             "decoder selection examination took ",
         }) {
        EXPECT_EQ(test::occurrences(text, line), 1) << line << "\n" << text;
    }
}

TEST(DecoderExaminationTest, SoftwareFailureIsReportedAndBackendsStillTried) {
    test::LogCapture log;
    FakeProbe probe;
    probe.supported = {AV_HWDEVICE_TYPE_D3D11VA};
    probe.msPerType = {{AV_HWDEVICE_TYPE_D3D11VA, 3}};
    const DecoderVerdict verdict = examineDecodePaths({225, 3840, 2160}, "av1", probe, false);
    EXPECT_EQ(verdict, hardware("d3d11va", AV_HWDEVICE_TYPE_D3D11VA, 3, 0));
    EXPECT_EQ(log.count("decoder selection for 3840x2160 av1: SOFTWARE CANNOT DECODE THIS STREAM "
                        "(no detail)."),
              1);
}

// The real measurement on a clip of this machine, which has no GPU.
TEST(DecodePathMeasurementTest, SoftwareIsTimedOnTheClipItself) {
    const DecodePathMeasurement software =
        measureDecodePath(test::fixturePath("h264_closed.mkv"), 0, false, 0);
    EXPECT_GT(software.msPerFrame, 0) << software.detail;
    EXPECT_FALSE(software.hardwareActive);
    EXPECT_EQ(software.pixelFormat, AV_PIX_FMT_YUV420P);
}

TEST(DecodePathMeasurementTest, PathsThatCannotDecodeSayWhy) {
    const std::string clip = test::fixturePath("h264_closed.mkv");
    const DecodePathMeasurement missing =
        measureDecodePath(test::fixturePath("absent.mkv"), 0, false, 0);
    EXPECT_EQ(missing.msPerFrame, -1);
    EXPECT_FALSE(missing.detail.empty());
    EXPECT_EQ(measureDecodePath(clip, 7, false, 0).detail, "decoder open failed");
    const DecodePathMeasurement cuda = measureDecodePath(clip, 0, true, AV_HWDEVICE_TYPE_CUDA);
    if (cuda.hardwareActive) {
        GTEST_SKIP() << "a CUDA device works on this machine";
    }
    EXPECT_EQ(cuda.msPerFrame, -1);
    EXPECT_EQ(cuda.detail, "device or codec unsupported");
}

}  // namespace
}  // namespace kestrova
