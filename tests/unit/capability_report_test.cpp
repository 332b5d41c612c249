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

TEST(CapabilityReportEscape, PipesAndLineBreaks) {
    EXPECT_EQ(escapeCell("a|b"), "a\\|b");
    EXPECT_EQ(escapeCell("one\r\ntwo\nthree\rfour"), "one  two three four");
    EXPECT_EQ(escapeCell("||"), "\\|\\|");
    EXPECT_EQ(escapeCell("plain `text` \\ kept"), "plain `text` \\ kept");
    EXPECT_EQ(escapeCell(""), "");
}

TEST(CapabilityReportDecoders, SortedByCodecThenDecoderByteWise) {
    std::vector<DecoderRow> rows = {decoder("zz", "h264"),         decoder("libdav1d", "av1"),
                                    decoder("av1", "av1"),         decoder("Zeta", "av1"),
                                    decoder("h264_cuvid", "h264"), decoder("x", "H264")};
    sortDecoderRows(rows);
    std::vector<std::string> order;
    for (const DecoderRow& row : rows) {
        order.push_back(row.codecName + "/" + row.decoderName);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"H264/x", "av1/Zeta", "av1/av1", "av1/libdav1d",
                                               "h264/h264_cuvid", "h264/zz"}));
}

struct Av1Case {
    const char* label;
    std::vector<DecoderRow> video;
    std::vector<std::string> usableTypes;
    Av1Status expected;
    const char* text;
};

class CapabilityReportAv1 : public ::testing::TestWithParam<Av1Case> {};

TEST_P(CapabilityReportAv1, StatusAndText) {
    const Av1Case& c = GetParam();
    CapabilityReport report;
    report.av1 = evaluateAv1Status(c.video, c.usableTypes);
    const auto fields = [](const Av1Status& s) {
        return std::tie(s.anyDecoder, s.softwareDecoder, s.softwareDecoderName, s.usableGpuPath);
    };
    EXPECT_EQ(fields(report.av1), fields(c.expected));
    EXPECT_TRUE(contains(renderCapabilityReport(report), c.text)) << "missing: " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Variants, CapabilityReportAv1,
    ::testing::Values(
        Av1Case{"none",
                {decoder("h264", "h264")},
                {"cuda"},
                {false, false, "", false},
                "## AV1 status\n\n**This FFmpeg has no AV1 decoder at all.** AV1 clips cannot "
                "be imported.\n\n## Hardware decode backends\n"},
        // The later software decoder in list order names the status.
        Av1Case{"software",
                {decoder("libaom-av1", "av1"), decoder("libdav1d", "av1")},
                {},
                {true, true, "libdav1d", false},
                "**OK** - software AV1 decoding is available through `libdav1d`.\n\n"},
        Av1Case{"softwareAndGpu",
                {decoder("av1", "av1", true, {"vaapi", "cuda"}), decoder("libdav1d", "av1")},
                {"cuda"},
                {true, true, "libdav1d", true},
                "through `libdav1d`, and a usable GPU AV1 path is present as well.\n\n"},
        // Only AV1 decoders' backends count for the GPU path.
        Av1Case{"hardwareOnlyWithoutDevice",
                {decoder("av1", "av1", true, {"vulkan"}), decoder("hevc", "hevc", true, {"cuda"})},
                {"cuda", "qsv"},
                {true, false, "", false},
                "**Warning - no software AV1 decoder.** This FFmpeg was built without "
                "`libdav1d`\n(and without `libaom-av1`), so the only AV1 decoder present is "
                "FFmpeg's built-in\n`av1`, which is hardware-only and cannot produce frames on "
                "its own.\n\nNo usable GPU AV1 backend was found either, so **AV1 clips will "
                "fail** with\n`stream is undecodable by this build`. Rebuild the bundled FFmpeg "
                "with\n`--enable-libdav1d`.\n\n## Hardware decode backends\n"},
        Av1Case{"hardwareOnlyWithDevice",
                {decoder("av1", "av1", true, {"cuda", "vulkan"})},
                {"vulkan"},
                {true, false, "", true},
                "its own.\n\nA usable GPU AV1 backend was found on this machine, so AV1 should "
                "still\ndecode - but it will fail on any machine without one.\n\n"}),
    [](const ::testing::TestParamInfo<Av1Case>& info) { return std::string(info.param.label); });

CapabilityReport craftedReport() {
    CapabilityReport report;
    report.generated = "2024-05-06 07:08:09 UTC";
    report.version = "1.0.1+21";
    report.platform = "linux-x64";
    report.ffmpegDirectory = "/opt/plug|in/ffmpeg";
    report.licence = "GPL version 2 or later";
    report.configuration = "--enable-gpl --enable-libdav1d";
    report.libraryVersions = {"avutil 61.1.100 (expected major 61)",
                              "avcodec 63.2.100 (expected major 63)"};
    report.backends = {{"cuda (nvdec)", true, false, "no device: Operation not permitted (-1)"},
                       {"d3d11va", false, false, "not compiled into this FFmpeg"},
                       {"vulkan", true, true, ""}};
    report.videoDecoders = {
        DecoderRow{"av1", "av1", "Alliance for Open Media AV1", true, {"cuda", "vulkan"}},
        DecoderRow{"libdav1d", "av1", "dav1d AV1 decoder by VideoLAN", false, {}},
        DecoderRow{"weird", "raw|video", "first line\nsecond | line", false, {}}};
    report.audioDecoders = {
        DecoderRow{"flac", "flac", "FLAC (Free Lossless Audio Codec)", false, {}}};
    report.av1 = Av1Status{true, true, "libdav1d", true};
    report.containers = {{"Matroska / WebM", "matroska,webm", "mkv, mk3d, mka, mks, webm"},
                         {"Odd | format", "odd", ""}};
    report.demuxersSeen = 350;
    report.devicesExcluded = 12;
    report.withoutExtensions = 90;
    return report;
}

TEST(CapabilityReportRender, WholeTextOfACraftedReport) {
    const std::string expected =
        "# Kestrova - supported formats on this system\n"
        "\n"
        "This file is generated by the Kestrova Premiere Pro importer every time it starts.\n"
        "It lists what the FFmpeg libraries **on this machine** can decode and which GPU\n"
        "decode backends are actually usable here. It is regenerated automatically, so any\n"
        "edits are lost; delete it freely.\n"
        "\n"
        "Attach this file to a support report when a clip will not import.\n"
        "\n"
        "| | |\n"
        "|---|---|\n"
        "| Generated | 2024-05-06 07:08:09 UTC |\n"
        "| Plug-in | 1.0.1+21 (linux-x64) |\n"
        "| FFmpeg directory | `/opt/plug\\|in/ffmpeg` |\n"
        "| FFmpeg licence | GPL version 2 or later |\n"
        "\n"
        "## AV1 status\n"
        "\n"
        "**OK** - software AV1 decoding is available through `libdav1d`, and a usable GPU AV1 "
        "path is present as well.\n"
        "\n"
        "## Hardware decode backends\n"
        "\n"
        "\"Compiled in\" means this FFmpeg knows the backend. \"Usable\" means a device was\n"
        "successfully created on this machine just now.\n"
        "\n"
        "| Backend | Compiled in | Usable here | Detail |\n"
        "|---------|-------------|-------------|--------|\n"
        "| cuda (nvdec) | yes | no | no device: Operation not permitted (-1) |\n"
        "| d3d11va | no | no | not compiled into this FFmpeg |\n"
        "| vulkan | yes | **yes** | - |\n"
        "\n"
        "## Video decoders (3)\n"
        "\n"
        "| Decoder | Codec | Kind | Hardware backends | Description |\n"
        "|---------|-------|------|-------------------|-------------|\n"
        "| `av1` | av1 | GPU only | cuda, vulkan | Alliance for Open Media AV1 |\n"
        "| `libdav1d` | av1 | software | - | dav1d AV1 decoder by VideoLAN |\n"
        "| `weird` | raw\\|video | software | - | first line second \\| line |\n"
        "\n"
        "## Audio decoders (1)\n"
        "\n"
        "| Decoder | Codec | Description |\n"
        "|---------|-------|-------------|\n"
        "| `flac` | flac | FLAC (Free Lossless Audio Codec) |\n"
        "\n"
        "## Subtitle and caption decoders (0)\n"
        "\n"
        "_None._\n"
        "\n"
        "## Container formats offered to Premiere (2)\n"
        "\n"
        "Derived from this FFmpeg's demuxer list. 350 demuxers were seen; 12 capture devices "
        "and 90 demuxers with no file extension were excluded.\n"
        "\n"
        "| Format | Demuxer | Extensions |\n"
        "|--------|---------|------------|\n"
        "| Matroska / WebM | `matroska,webm` | mkv, mk3d, mka, mks, webm |\n"
        "| Odd \\| format | `odd` | - |\n"
        "\n"
        "## FFmpeg build details\n"
        "\n"
        "### Library versions\n"
        "\n"
        "- avutil 61.1.100 (expected major 61)\n"
        "- avcodec 63.2.100 (expected major 63)\n"
        "\n"
        "### Configuration\n"
        "\n"
        "```\n"
        "--enable-gpl --enable-libdav1d\n"
        "```\n";
    EXPECT_EQ(renderCapabilityReport(craftedReport()), expected);
}

TEST(CapabilityReportRender, EmptyListsAreWrittenAsNone) {
    const std::string text = renderCapabilityReport(CapabilityReport{});
    EXPECT_TRUE(contains(text,
                         "## Video decoders (0)\n\n_None._\n\n## Audio decoders (0)\n\n"
                         "_None._\n\n## Subtitle and caption decoders (0)\n\n_None._\n\n"
                         "## Container formats offered to Premiere (0)\n"));
    EXPECT_TRUE(contains(text, "|--------|---------|------------|\n\n## FFmpeg build details\n"));
    EXPECT_TRUE(contains(text, "### Library versions\n\n\n### Configuration\n\n```\n\n```\n"));
}

TEST(CapabilityReportGather, ListsTheBuildTheDevicesAndTheDecoders) {
    const auto runtime = ffmpeg::FfmpegRuntime::loadFrom(KESTROVA_BINARY_DIR "/bin");
    if (!runtime->available()) {
        GTEST_SKIP() << "no FFmpeg build beside the tests: " << runtime->loadMessage;
    }
    const CapabilityReport report = gatherCapabilityReport(*runtime);
    EXPECT_EQ(report.ffmpegDirectory, runtime->directory);
    ASSERT_EQ(report.libraryVersions.size(), 5u);
    const std::string& avutil = report.libraryVersions[0];
    EXPECT_TRUE(avutil.starts_with("avutil 61.") && avutil.ends_with(" (expected major 61)"))
        << avutil;

    std::vector<std::string> backendNames;
    for (const BackendRow& row : report.backends) {
        backendNames.push_back(row.name);
        EXPECT_TRUE(row.compiledIn) << row.name;
        // Either a device opened, or the row says why not.
        EXPECT_TRUE(row.usable ? row.detail.empty() : row.detail.starts_with("no device: "))
            << row.name << ": " << row.detail;
    }
    EXPECT_EQ(backendNames,
              (std::vector<std::string>{"cuda (nvdec)", "d3d11va", "qsv", "dxva2", "vulkan"}));

    const auto byCodecThenDecoder = [](const DecoderRow& a, const DecoderRow& b) {
        return std::tie(a.codecName, a.decoderName) < std::tie(b.codecName, b.decoderName);
    };
    for (const auto* rows :
         {&report.videoDecoders, &report.audioDecoders, &report.subtitleDecoders}) {
        EXPECT_TRUE(std::is_sorted(rows->begin(), rows->end(), byCodecThenDecoder));
    }
    const auto find = [](const std::vector<DecoderRow>& rows, const std::string& name) {
        const auto it = std::find_if(rows.begin(), rows.end(), [&](const DecoderRow& row) {
            return row.decoderName == name;
        });
        return it == rows.end() ? nullptr : &*it;
    };
    const DecoderRow* h264 = find(report.videoDecoders, "h264");
    ASSERT_NE(h264, nullptr);
    EXPECT_EQ(h264->codecName, "h264");
    EXPECT_FALSE(h264->hardwareOnly);
    EXPECT_NE(find(report.audioDecoders, "flac"), nullptr);
    EXPECT_EQ(find(report.videoDecoders, "flac"), nullptr);
    EXPECT_NE(find(report.subtitleDecoders, "subrip"), nullptr);
    if (const DecoderRow* cuvid = find(report.videoDecoders, "h264_cuvid")) {
        EXPECT_TRUE(cuvid->hardwareOnly);
        EXPECT_EQ(cuvid->hardwareBackends, std::vector<std::string>{"cuda"});
    }
    // The bundled build carries libdav1d.
    EXPECT_EQ(report.av1.softwareDecoderName, "libdav1d");

    EXPECT_GT(report.demuxersSeen, static_cast<int32_t>(report.containers.size()));
    EXPECT_GT(report.withoutExtensions, 0);
    const auto mpegts =
        std::find_if(report.containers.begin(), report.containers.end(),
                     [](const ContainerRow& row) { return row.demuxerName == "mpegts"; });
    ASSERT_NE(mpegts, report.containers.end());
    EXPECT_TRUE(mpegts->extensions.starts_with("ts, m2t, m2ts")) << mpegts->extensions;
}

TEST(CapabilityReportWrite, WritesOnceThenGivesTheRememberedPath) {
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
    const std::string text = test::readFile(path);
    EXPECT_TRUE(text.ends_with("\n```\n"));
    EXPECT_EQ(text.find('\r'), std::string::npos);

    // Later callers get the remembered path; the file is not written again.
    std::filesystem::remove(path);
    EXPECT_EQ(writeCapabilityReport(), path);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace kestrova
