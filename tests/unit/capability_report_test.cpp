#include "containers/capability_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "test_support.h"

namespace kestrova {
namespace {

DecoderRow decoder(std::string name, std::string codec, bool hardwareOnly = false,
                   std::vector<std::string> backends = {}) {
    return DecoderRow{std::move(name), std::move(codec), "desc", hardwareOnly, std::move(backends)};
}

bool contains(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

TEST(CapabilityReport, EscapesCellsAndSortsDecodersByCodecThenNameByteWise) {
    EXPECT_EQ(escapeCell("one\r\ntwo\nthree\rfour||"), "one  two three four\\|\\|");
    std::vector<DecoderRow> rows = {decoder("zz", "h264"), decoder("libdav1d", "av1"),
                                    decoder("Zeta", "av1"), decoder("x", "H264")};
    sortDecoderRows(rows);
    std::vector<std::string> order;
    for (const DecoderRow& row : rows) {
        order.push_back(row.codecName + "/" + row.decoderName);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"H264/x", "av1/Zeta", "av1/libdav1d", "h264/zz"}));
}

TEST(CapabilityReport, Av1StatusAndItsText) {
    const struct {
        std::vector<DecoderRow> video;
        std::vector<std::string> usableTypes;
        Av1Status expected;
        const char* text;
    } cases[] = {
        {{decoder("h264", "h264")},
         {"cuda"},
         {false, false, "", false},
         "**This FFmpeg has no AV1 decoder at all.** AV1 clips cannot be imported.\n\n"},
        // The later software decoder in list order names the status.
        {{decoder("av1", "av1", true, {"vaapi", "cuda"}), decoder("libaom-av1", "av1"),
          decoder("libdav1d", "av1")},
         {"cuda"},
         {true, true, "libdav1d", true},
         "through `libdav1d`, and a usable GPU AV1 path is present as well.\n\n"},
        // Only AV1 decoders' backends count for the GPU path.
        {{decoder("av1", "av1", true, {"vulkan"}), decoder("hevc", "hevc", true, {"cuda"})},
         {"cuda", "qsv"},
         {true, false, "", false},
         "so **AV1 clips will fail** with\n`stream is undecodable by this build`."},
        {{decoder("av1", "av1", true, {"cuda", "vulkan"})},
         {"vulkan"},
         {true, false, "", true},
         "still\ndecode - but it will fail on any machine without one.\n\n"}};
    const auto fields = [](const Av1Status& s) {
        return std::tie(s.anyDecoder, s.softwareDecoder, s.softwareDecoderName, s.usableGpuPath);
    };
    for (const auto& c : cases) {
        CapabilityReport report;
        report.av1 = evaluateAv1Status(c.video, c.usableTypes);
        EXPECT_EQ(fields(report.av1), fields(c.expected)) << c.text;
        EXPECT_TRUE(contains(renderCapabilityReport(report), c.text)) << c.text;
    }
}

TEST(CapabilityReport, KeyLinesOfACraftedReport) {
    CapabilityReport report;
    report.version = "1.0.1+21";
    report.platform = "linux-x64";
    report.ffmpegDirectory = "/opt/plug|in/ffmpeg";
    report.configuration = "--enable-gpl --enable-libdav1d";
    report.libraryVersions = {"avutil 61.1.100 (expected major 61)"};
    report.backends = {{"cuda (nvdec)", true, false, "no device: Operation not permitted (-1)"},
                       {"vulkan", true, true, ""}};
    report.videoDecoders = {
        decoder("av1", "av1", true, {"cuda", "vulkan"}),
        DecoderRow{"weird", "raw|video", "first line\nsecond | line", false, {}}};
    report.containers = {{"Odd | format", "odd", ""}};
    report.devicesExcluded = 12;
    report.demuxersSeen = 350;
    report.withoutExtensions = 90;
    const std::string text = renderCapabilityReport(report);
    EXPECT_TRUE(text.ends_with("### Configuration\n\n```\n--enable-gpl --enable-libdav1d\n```\n"));
    for (const char* line :
         {"| Plug-in | 1.0.1+21 (linux-x64) |\n| FFmpeg directory | `/opt/plug\\|in/ffmpeg` |\n",
          "| cuda (nvdec) | yes | no | no device: Operation not permitted (-1) |\n"
          "| vulkan | yes | **yes** | - |\n",
          "| `av1` | av1 | GPU only | cuda, vulkan | desc |\n",
          "| `weird` | raw\\|video | software | - | first line second \\| line |\n",
          "## Audio decoders (0)\n\n_None._\n\n",
          "350 demuxers were seen; 12 capture devices and 90 demuxers with no file extension were "
          "excluded.",
          "| Odd \\| format | `odd` | - |\n", "- avutil 61.1.100 (expected major 61)\n\n"}) {
        EXPECT_TRUE(contains(text, line)) << line;
    }
}

bool lists(const std::vector<DecoderRow>& rows, const std::string& name) {
    return std::ranges::any_of(rows,
                               [&](const DecoderRow& row) { return row.decoderName == name; });
}

TEST(CapabilityReport, GatherListsTheBuildTheDevicesAndTheDecoders) {
    const auto runtime = ffmpeg::FfmpegRuntime::loadFrom(KESTROVA_BINARY_DIR "/bin");
    if (!runtime->available()) {
        GTEST_SKIP() << "no FFmpeg build beside the tests: " << runtime->loadMessage;
    }
    const CapabilityReport report = gatherCapabilityReport(*runtime);
    EXPECT_EQ(report.ffmpegDirectory, runtime->directory);
    ASSERT_EQ(report.libraryVersions.size(), 5u);
    std::vector<std::string> backendNames;
    for (const BackendRow& row : report.backends) {
        backendNames.push_back(row.name);
        if (!row.compiledIn) {
            EXPECT_EQ(row.detail, "not compiled into this FFmpeg") << row.name;
            EXPECT_FALSE(row.usable) << row.name;
        } else {
            EXPECT_TRUE(row.usable ? row.detail.empty() : row.detail.starts_with("no device: "))
                << row.name << ": " << row.detail;
        }
    }
    EXPECT_EQ(backendNames,
              (std::vector<std::string>{"cuda (nvdec)", "d3d11va", "qsv", "dxva2", "vulkan"}));
    // The bundled build has NVDEC and nothing that exists only on Windows or
    // needs a vendor SDK; FFmpeg still knows all of their names.
    EXPECT_TRUE(report.backends[0].compiledIn);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_FALSE(report.backends[i].compiledIn) << report.backends[i].name;
    }
    EXPECT_TRUE(lists(report.videoDecoders, "h264") && lists(report.audioDecoders, "flac") &&
                lists(report.subtitleDecoders, "subrip"));
    EXPECT_EQ(report.av1.softwareDecoderName, "libdav1d");
}

TEST(CapabilityReport, WritesOnceThenGivesTheRememberedPath) {
    test::TempDir appData;
    test::ScopedEnv env("LOCALAPPDATA", appData.str().c_str());
    const std::string path = writeCapabilityReport();
    if (!ffmpeg::FfmpegRuntime::instance().available()) {
        EXPECT_EQ(path, "");
        return;
    }
    if (!path.starts_with(appData.str())) {
        GTEST_SKIP() << "the report was already written in this process: " << path;
    }
    EXPECT_EQ(path, appData.str() + "/Kestrova/SUPPORTED-CODECS.md");
    // Later callers get the remembered path; the file is not written again.
    std::filesystem::remove(path);
    EXPECT_EQ(writeCapabilityReport(), path);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace kestrova
