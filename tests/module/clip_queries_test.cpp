// The host's questions about a clip beside decoding: analysis text, XMP,
// stereo labels, content state, the clip's files, the accelerator path and
// the embedded LUT.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "clip_test_support.h"
#include "json_writer.h"
#include "platform/platform.h"
#include "query_records.h"

namespace kestrova::moduletest {
namespace {

using ClipQueriesTest = ClipModuleTest;
namespace fs = std::filesystem;

// A fixture copied into a fresh folder, so files beside it can be made.
struct CopiedClip {
    CopiedClip(const std::string& fixture, const std::string& name)
        : path(folder.path() / name), utf8(platform::utf8FromPath(path)) {
        fs::copy_file(platform::pathFromUtf8(fixturePath(fixture)), path);
    }
    // Creates an empty file beside the clip.
    std::string touchBeside(const std::string& name) const {
        const fs::path file = folder.path() / name;
        std::ofstream(file).put('x');
        return platform::utf8FromPath(file);
    }
    std::string beside(const std::string& name) const {
        return platform::utf8FromPath(folder.path() / name);
    }

    TempFolder folder;
    fs::path path;
    std::string utf8;
};

// An open clip whose host stream 0 the host has described.
struct DescribedClip : OpenClip {
    DescribedClip(const hostsim::Host& host, const std::string& path) : OpenClip(host, path) {
        EXPECT_EQ(answer.result, host::imNoErr);
        const hostsim::ClipInfo info = hostsim::getInfo(host, clip(), 0);
        EXPECT_TRUE(info.result == host::imNoErr || info.result == host::imAnotherStream);
    }
};

// ---- Requests without a record ----------------------------------------------

class MissingRecord : public ClipQueriesTest,
                      public ::testing::WithParamInterface<host::Selector> {};

TEST_P(MissingRecord, AnswersUnsupported) {
    EXPECT_EQ(host().call(GetParam(), nullptr, nullptr), host::imUnsupported);
}

INSTANTIATE_TEST_SUITE_P(Selectors, MissingRecord,
                         ::testing::Values(host::imAnalysis, host::imGetMetaData,
                                           host::imQueryStreamLabel, host::imQueryContentState,
                                           host::imQueryInputFileList, host::imQueryDestinationPath,
                                           host::imGetEmbeddedLUT));

TEST_F(ClipQueriesTest, RecordsWithoutAClipAnswerUnsupported) {
    EXPECT_EQ(hostsim::analysis(host(), nullptr, std::nullopt).result, host::imUnsupported);
    EXPECT_EQ(hostsim::metadata(host(), nullptr, host::kXmpMetadataCode, std::nullopt).result,
              host::imUnsupported);
    EXPECT_EQ(hostsim::streamLabel(host(), nullptr, 0).result, host::imUnsupported);
    EXPECT_EQ(hostsim::inputFileCount(host(), nullptr).result, host::imUnsupported);
    EXPECT_EQ(hostsim::embeddedLut(host(), nullptr, std::nullopt).result, host::imUnsupported);
}

// ---- Analysis text -------------------------------------------------------------

TEST_F(ClipQueriesTest, AnalysisWaitsForTheHostToDescribeTheClip) {
    OpenClip clip(host(), fixturePath("h264_closed.mkv"));
    ASSERT_EQ(clip.answer.result, host::imNoErr);
    EXPECT_EQ(hostsim::analysis(host(), clip.clip(), std::nullopt).result, host::imUnsupported);
    ASSERT_EQ(hostsim::getInfo(host(), clip.clip(), 0).result, host::imNoErr);
    EXPECT_EQ(hostsim::analysis(host(), clip.clip(), std::nullopt).result, host::imNoErr);
}

TEST_F(ClipQueriesTest, AnalysisOfAKnownClip) {
    const std::string path = fixturePath("h264_closed.mkv");
    OpenClip clip(host(), path);
    const hostsim::ClipInfo info = hostsim::getInfo(host(), clip.clip(), 0);
    ASSERT_EQ(info.result, host::imNoErr);
    const hostsim::BufferAnswer size = hostsim::analysis(host(), clip.clip(), std::nullopt);
    ASSERT_EQ(size.result, host::imNoErr);
    const hostsim::BufferAnswer whole = hostsim::wholeAnalysis(host(), clip.clip());
    ASSERT_EQ(whole.result, host::imNoErr);
    const std::string text = whole.text();
    // The size asked for holds the text and its terminator.
    EXPECT_EQ(static_cast<std::size_t>(size.size), text.size() + 1);
    EXPECT_EQ(whole.bytes.back(), 0);
    const std::vector<std::string> got = lines(text);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), "File: " + path);
    // The frame count is the one the host was told.
    const std::string video =
        "Video: 320x240 @ 25.000 fps, " + std::to_string(info.durationFrames) + " frames";
    for (const std::string& line : {
             std::string("Container: Matroska / WebM (matroska,webm)"),
             "Codec: " + info.codec,
             video,
             std::string("Pixel Aspect Ratio: 1:1"),
             std::string("Scan: Progressive"),
             std::string("Alpha: Opaque"),
             std::string("Bit Depth: 8"),
             std::string("Chroma Subsampling: 4:2:0"),
             std::string("Audio: 2 ch, 48000 Hz"),
         }) {
        EXPECT_NE(std::find(got.begin(), got.end(), line), got.end()) << line << "\n" << text;
    }
    EXPECT_EQ(occurrences(text, "\nDuration: 0:00:03.0"), 1) << text;
    EXPECT_EQ(occurrences(text, "\nColour: primaries="), 1) << text;
    EXPECT_EQ(occurrences(text, "\nFFmpeg fingerprint: "), 1) << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST_F(ClipQueriesTest, AQuietClipIsDescribedAsFullyAsBefore) {
    DescribedClip clip(host(), fixturePath("h264_closed.mkv"));
    const std::string before = hostsim::wholeAnalysis(host(), clip.clip()).text();
    ASSERT_EQ(hostsim::quietFile(host(), clip.clip()), host::imNoErr);
    EXPECT_EQ(hostsim::wholeAnalysis(host(), clip.clip()).text(), before);
}

TEST_F(ClipQueriesTest, AnalysisListsEveryAudioTrackOfAClipWithSeveral) {
    DescribedClip clip(host(), fixturePath("multi_2v3a.mkv"));
    const std::string text = hostsim::wholeAnalysis(host(), clip.clip()).text();
    EXPECT_EQ(occurrences(text, "\nAudio Tracks: 3\n"), 1) << text;
    EXPECT_EQ(occurrences(text, "\n  1. stream 2: aac, 2 ch, 48000 Hz (stereo)\n"), 1) << text;
    EXPECT_EQ(occurrences(text, "\n  2. stream 3: aac, 1 ch, 48000 Hz (mono)\n"), 1) << text;
    EXPECT_EQ(occurrences(text, "\n  3. stream 4: aac, 6 ch, 48000 Hz (5.1)\n"), 1) << text;
}

TEST_F(ClipQueriesTest, ASmallAnalysisBufferGetsTheTextCutAndTerminated) {
    DescribedClip clip(host(), fixturePath("h264_closed.mkv"));
    const hostsim::BufferAnswer small = hostsim::analysis(host(), clip.clip(), 10);
    ASSERT_EQ(small.result, host::imNoErr);
    ASSERT_EQ(small.bytes.size(), 10u);
    EXPECT_EQ(small.bytes[9], 0);
    EXPECT_EQ(small.text(), "File: " + fixturePath("h264_closed.mkv").substr(0, 3));
    // The size field stays the host's.
    EXPECT_EQ(small.size, 10);
}

// ---- XMP metadata --------------------------------------------------------------

struct XmpCase {
    const char* fixture;
    const char* xmp;
};

class XmpLookup : public ClipQueriesTest, public ::testing::WithParamInterface<XmpCase> {};

TEST_P(XmpLookup, FindsThePacketThatComesFirstInLookupOrder) {
    DescribedClip clip(host(), fixturePath(GetParam().fixture));
    const hostsim::BufferAnswer size =
        hostsim::metadata(host(), clip.clip(), host::kXmpMetadataCode, std::nullopt);
    ASSERT_EQ(size.result, host::imNoErr);
    EXPECT_EQ(size.size, static_cast<int32_t>(std::string(GetParam().xmp).size()));
    const hostsim::BufferAnswer xmp =
        hostsim::wholeMetadata(host(), clip.clip(), host::kXmpMetadataCode);
    ASSERT_EQ(xmp.result, host::imNoErr);
    EXPECT_EQ(std::string(xmp.bytes.begin(), xmp.bytes.end()), GetParam().xmp);
    EXPECT_EQ(xmp.size, size.size);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, XmpLookup,
    ::testing::Values(XmpCase{"xmp_stream.nut", "<x:xmpmeta>video</x:xmpmeta>"},
                      XmpCase{"xmp_keys1.nut", "quicktime"}, XmpCase{"xmp_keys2.nut", "packet"},
                      XmpCase{"xmp_keys3.nut", "underscore"}, XmpCase{"xmp_keys4.nut", "plain"}),
    [](const auto& info) { return test::safeName(info.param.fixture); });

TEST_F(ClipQueriesTest, OnlyTheXmpCodeIsServed) {
    DescribedClip clip(host(), fixturePath("xmp_stream.nut"));
    EXPECT_EQ(hostsim::metadata(host(), clip.clip(), host::fourCC("XMP_"), std::nullopt).result,
              host::imNoMetadata);
    EXPECT_EQ(hostsim::metadata(host(), clip.clip(), 0, std::nullopt).result, host::imNoMetadata);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imGetMetaData: unknown fourCC 0x5F504D58"), 1) << text;
}

TEST_F(ClipQueriesTest, AClipWithoutXmpHasNoMetadata) {
    DescribedClip clip(host(), fixturePath("h264_closed.mkv"));
    EXPECT_EQ(hostsim::metadata(host(), clip.clip(), host::kXmpMetadataCode, std::nullopt).result,
              host::imNoMetadata);
}

TEST_F(ClipQueriesTest, ASmallMetadataBufferGetsTheFirstBytesAndTheirCount) {
    DescribedClip clip(host(), fixturePath("xmp_keys3.nut"));
    const hostsim::BufferAnswer part =
        hostsim::metadata(host(), clip.clip(), host::kXmpMetadataCode, 5);
    ASSERT_EQ(part.result, host::imNoErr);
    EXPECT_EQ(part.size, 5);
    EXPECT_EQ(std::string(part.bytes.begin(), part.bytes.end()), "under");
}

// ---- Stereo labels -------------------------------------------------------------

TEST_F(ClipQueriesTest, AStereoPairLabelsItsTwoViews) {
    DescribedClip clip(host(), fixturePath("stereo_pair.nut"));
    const hostsim::TextAnswer left = hostsim::streamLabel(host(), clip.clip(), 0);
    const hostsim::TextAnswer right = hostsim::streamLabel(host(), clip.clip(), 1);
    ASSERT_EQ(left.result, host::imNoErr);
    ASSERT_EQ(right.result, host::imNoErr);
    EXPECT_EQ(left.text, "ADBE.Stereoscopic.Left");
    EXPECT_EQ(right.text, "ADBE.Stereoscopic.Right");
    EXPECT_EQ(hostsim::streamLabel(host(), clip.clip(), 2).result, host::imUnsupported);
    EXPECT_EQ(hostsim::streamLabel(host(), clip.clip(), -1).result, host::imUnsupported);
}

TEST_F(ClipQueriesTest, TwoVideoStreamsWithoutEyeTagsHaveNoLabels) {
    DescribedClip clip(host(), fixturePath("multi_2v3a.mkv"));
    EXPECT_EQ(hostsim::streamLabel(host(), clip.clip(), 0).result, host::imUnsupported);
    EXPECT_EQ(hostsim::streamLabel(host(), clip.clip(), 1).result, host::imUnsupported);
}

// ---- Content state -------------------------------------------------------------

TEST_F(ClipQueriesTest, ContentStateFollowsTheFilesWriteTimeAndSize) {
    const CopiedClip copy("h264_closed.mkv", "clip.mkv");
    // Whole seconds, which every platform's file times can set back exactly.
    const fs::file_time_type written =
        std::chrono::floor<std::chrono::seconds>(fs::last_write_time(copy.path));
    fs::last_write_time(copy.path, written);
    const hostsim::TextAnswer first = hostsim::contentState(host(), copy.utf8);
    ASSERT_EQ(first.result, host::imNoErr);
    ASSERT_EQ(first.text.size(), 36u);
    EXPECT_EQ(first.text[8], '-');
    EXPECT_EQ(hostsim::contentState(host(), copy.utf8).text, first.text);

    // Touched: a new last-write time alone changes the state.
    fs::last_write_time(copy.path, written + std::chrono::seconds(10));
    const hostsim::TextAnswer touched = hostsim::contentState(host(), copy.utf8);
    ASSERT_EQ(touched.result, host::imNoErr);
    EXPECT_NE(touched.text, first.text);
    // Back to the old time: the old state.
    fs::last_write_time(copy.path, written);
    EXPECT_EQ(hostsim::contentState(host(), copy.utf8).text, first.text);
    // One byte more at the old time: another state.
    std::ofstream(copy.path, std::ios::app).put('x');
    fs::last_write_time(copy.path, written);
    EXPECT_NE(hostsim::contentState(host(), copy.utf8).text, first.text);
}

TEST_F(ClipQueriesTest, ContentStateOfAMissingFileOrNoPath) {
    const TempFolder folder;
    const std::string missing = platform::utf8FromPath(folder.path() / "gone.mkv");
    const hostsim::TextAnswer answer = hostsim::contentState(host(), missing);
    EXPECT_EQ(answer.result, host::imCannotExamineFile);
    EXPECT_EQ(hostsim::contentState(host(), std::nullopt).result, host::imUnsupported);
    EXPECT_EQ(hostsim::contentState(host(), std::string()).result, host::imUnsupported);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imQueryContentState: cannot stat '" + missing + "'"), 1) << text;
}

// ---- The clip's files ----------------------------------------------------------

TEST_F(ClipQueriesTest, FileListIsTheClipAloneWithoutCacheFiles) {
    const CopiedClip copy("multi_2v3a.mkv", "clip.mkv");
    DescribedClip clip(host(), copy.utf8);
    const hostsim::FileListAnswer files = hostsim::inputFiles(host(), clip.clip());
    ASSERT_EQ(files.result, host::imNoErr);
    EXPECT_EQ(files.count, 1);
    EXPECT_EQ(files.paths, std::vector<std::string>{copy.utf8});
}

TEST_F(ClipQueriesTest, FileListAddsTheAcceleratorThePeakCachesAndTheCaptionCache) {
    const CopiedClip copy("multi_2v3a.mkv", "clip.mkv");
    // Streams 2 to 4 are audio; a cache file named for video stream 0 is
    // no peak cache of this clip.
    const std::vector<std::string> expected = {
        copy.utf8, copy.touchBeside("clip.kstidx"), copy.touchBeside("clip.mkv.a2.kstpk"),
        copy.touchBeside("clip.mkv.a4.kstpk"), copy.touchBeside("clip.mkv.kstcc")};
    copy.touchBeside("clip.mkv.a0.kstpk");
    DescribedClip clip(host(), copy.utf8);
    const hostsim::FileListAnswer files = hostsim::inputFiles(host(), clip.clip());
    ASSERT_EQ(files.result, host::imNoErr);
    EXPECT_EQ(files.count, 5);
    EXPECT_EQ(files.paths, expected);

    // A shorter array receives the first entries; the count stays the host's.
    const hostsim::FileListAnswer firstTwo = hostsim::inputFileList(host(), clip.clip(), 2);
    ASSERT_EQ(firstTwo.result, host::imNoErr);
    EXPECT_EQ(firstTwo.count, 2);
    EXPECT_EQ(firstTwo.paths, std::vector<std::string>(expected.begin(), expected.begin() + 2));
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imQueryInputFileList (count): 5 files for " + copy.utf8), 1)
        << text;
    EXPECT_EQ(occurrences(text, "imQueryInputFileList (fill): 2 paths for " + copy.utf8), 1)
        << text;
}

TEST_F(ClipQueriesTest, AQuietClipListsThePeakCacheOfItsMappedAudioStreamOnly) {
    const CopiedClip copy("multi_2v3a.mkv", "clip.mkv");
    const std::string mapped = copy.touchBeside("clip.mkv.a2.kstpk");
    copy.touchBeside("clip.mkv.a3.kstpk");
    DescribedClip clip(host(), copy.utf8);
    ASSERT_EQ(hostsim::inputFiles(host(), clip.clip()).count, 3);
    ASSERT_EQ(hostsim::quietFile(host(), clip.clip()), host::imNoErr);
    const hostsim::FileListAnswer files = hostsim::inputFiles(host(), clip.clip());
    ASSERT_EQ(files.result, host::imNoErr);
    EXPECT_EQ(files.paths, (std::vector<std::string>{copy.utf8, mapped}));
}

// ---- Destination path ----------------------------------------------------------

TEST_F(ClipQueriesTest, DestinationIsTheAcceleratorBesideTheSource) {
    const TempFolder folder;
    const std::string base = platform::utf8FromPath(folder.path() / "clip");
    EXPECT_EQ(hostsim::destinationPath(host(), base + ".mxf").text, base + ".kstidx");
    EXPECT_EQ(hostsim::destinationPath(host(), base + ".tar.mxf").text, base + ".tar.kstidx");
    // Without an extension the accelerator's is appended.
    EXPECT_EQ(hostsim::destinationPath(host(), base).text, base + ".kstidx");
    EXPECT_EQ(hostsim::destinationPath(host(), base + ".mxf", false).result, host::imNoErr);
    EXPECT_EQ(hostsim::destinationPath(host(), "").result, host::imUnsupported);
}

// ---- Embedded LUT --------------------------------------------------------------

constexpr const char* kIdentityCube =
    "TITLE \"identity\"\nLUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n";

TEST_F(ClipQueriesTest, TheLutAttachmentIsHandedOutWhole) {
    DescribedClip clip(host(), fixturePath("lut_attachment.mkv"));
    const hostsim::BufferAnswer size = hostsim::embeddedLut(host(), clip.clip(), std::nullopt);
    ASSERT_EQ(size.result, host::imNoErr);
    EXPECT_EQ(size.size, static_cast<int32_t>(std::string(kIdentityCube).size()));
    const hostsim::BufferAnswer lut = hostsim::wholeEmbeddedLut(host(), clip.clip());
    ASSERT_EQ(lut.result, host::imNoErr);
    EXPECT_EQ(std::string(lut.bytes.begin(), lut.bytes.end()), kIdentityCube);
}

TEST_F(ClipQueriesTest, ALutBufferTooSmallReceivesNothing) {
    DescribedClip clip(host(), fixturePath("lut_attachment.mkv"));
    const hostsim::BufferAnswer small = hostsim::embeddedLut(host(), clip.clip(), 16);
    ASSERT_EQ(small.result, host::imNoErr);
    EXPECT_EQ(small.bytes, std::vector<uint8_t>(16, hostsim::Host::kFillByte));
}

TEST_F(ClipQueriesTest, AClipWithoutLutAnswersUnsupported) {
    DescribedClip clip(host(), fixturePath("h264_closed.mkv"));
    EXPECT_EQ(hostsim::embeddedLut(host(), clip.clip(), std::nullopt).result, host::imUnsupported);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imGetEmbeddedLUT: no LUT data for "), 1) << text;
}

// ---- kestrova-host info ----------------------------------------------------------

TEST(InfoQueriesToolTest, InfoShowsTheAnswersOfTheClipQueries) {
    const TempFolder appData;
    const std::string lutClip = fixturePath("lut_attachment.mkv");
    const ToolRun json = runTool({"--appdata", appData.str(), "info", lutClip, "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"analysis\":[" + cli::JsonWriter::quote("File: " + lutClip) + ","),
              std::string::npos)
        << json.out;
    const std::string lutBytes = std::to_string(std::string(kIdentityCube).size());
    const std::string stateKey =
        "\"xmp\":false,\"xmpBytes\":0,\"embeddedLutBytes\":" + lutBytes + ",\"contentState\":\"";
    const std::size_t state = json.out.find(stateKey);
    ASSERT_NE(state, std::string::npos) << json.out;
    EXPECT_EQ(json.out.find('"', state + stateKey.size()), state + stateKey.size() + 36)
        << json.out;
    // Files are named relative to the clip's folder.
    EXPECT_NE(json.out.find("\",\"files\":[\"lut_attachment.mkv\"]}"), std::string::npos)
        << json.out;

    const ToolRun text =
        runTool({"--appdata", appData.str(), "info", fixturePath("xmp_stream.nut")});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    for (const char* line : {"\nXMP: 28 bytes\n", "\nembedded LUT: none\n",
                             "\nfiles:\n  xmp_stream.nut\n", "\nanalysis:\n  File: "}) {
        EXPECT_EQ(occurrences(text.out, line), 1) << line << text.out;
    }
}

}  // namespace
}  // namespace kestrova::moduletest
