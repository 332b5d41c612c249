// Closed captions as the host scans and walks them: A53 caption data in MPEG-2
// and H.264 pictures, an EIA-608 track, text subtitle streams, clips without
// captions, and the caption cache file beside the media.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "caption_records.h"
#include "clip_test_support.h"
#include "fileops_test_support.h"
#include "support/little_endian.h"

namespace kestrova::moduletest {
namespace {

namespace fs = std::filesystem;
using hostsim::CaptionWalk;
using hostsim::NextCaption;

// The text the caption fixtures' byte pairs spell (tools/caption-media).
constexpr char kCea608Text[] = "HELLO KESTROVA";
constexpr std::size_t kCaptionedPictures = 60;

fs::path captionFixture(const std::string& name) {
    return test::buildFolder() / "fixtures-captions" / name;
}

// A fixture copied into a folder of the test's own, so its cache file is too.
struct MediaCopy {
    MediaCopy(const fs::path& source, const std::string& name = "") {
        path = folder.path() / (name.empty() ? source.filename() : platform::pathFromUtf8(name));
        fs::copy_file(source, path);
    }
    std::string media() const { return platform::utf8FromPath(path); }
    fs::path cache() const { return platform::pathFromUtf8(media() + ".kstcc"); }

    TempFolder folder;
    fs::path path;
};

class CaptionModuleTest : public ClipModuleTest {
  protected:
    CaptionWalk walk(const MediaCopy& copy) {
        const OpenClip clip(host(), copy.media());
        EXPECT_EQ(clip.answer.result, host::imNoErr);
        return hostsim::walkCaptions(host(), clip.clip());
    }
};

std::string cea608TextOf(const CaptionWalk& walk) {
    std::string text;
    for (const NextCaption& caption : walk.captions) {
        text += hostsim::cea608Text(caption.data);
    }
    return text;
}

struct ByteCaptionCase {
    std::string fixture;
    uint32_t format;
};

class ByteCaptions : public CaptionModuleTest,
                     public ::testing::WithParamInterface<ByteCaptionCase> {};

TEST_P(ByteCaptions, SpellTheKnownTextOnePairPerPictureInTimeOrder) {
    const MediaCopy copy(captionFixture(GetParam().fixture));
    const CaptionWalk result = walk(copy);
    ASSERT_EQ(result.scan.result, host::imNoErr);
    // The stream's average rate as the container reports it: Matroska's
    // millisecond timestamps and the MOV's mixed tracks give it only roughly.
    ASSERT_GT(result.scan.frameRateDen, 0);
    EXPECT_NEAR(static_cast<double>(result.scan.frameRateNum) / result.scan.frameRateDen,
                30000.0 / 1001, 0.6);
    EXPECT_NEAR(static_cast<double>(result.scan.durationFrames), 60.0, 2.0);
    ASSERT_EQ(result.captions.size(), kCaptionedPictures);
    EXPECT_EQ(cea608TextOf(result), kCea608Text);
    // The first picture carries roll-up, two rows, with odd parity.
    EXPECT_EQ(result.captions[0].data, (std::vector<uint8_t>{0xFC, 0x94, 0x25}));
    for (std::size_t i = 0; i < result.captions.size(); ++i) {
        const NextCaption& caption = result.captions[i];
        EXPECT_EQ(caption.format, GetParam().format) << i;
        EXPECT_EQ(caption.size, 3u) << i;
        EXPECT_FLOAT_EQ(caption.progress, static_cast<float>(i + 1) / kCaptionedPictures) << i;
        if (i > 0) {
            EXPECT_GT(caption.time, result.captions[i - 1].time) << i;
        }
    }
    // Times count the clip's pictures from its first, whatever the container's
    // start time (the MPEG-TS one starts a frame late): the first caption
    // rides on picture 0 in every fixture.
    EXPECT_EQ(result.captions[0].time, 0);
    EXPECT_NEAR(static_cast<double>(result.captions.back().time - result.captions[0].time),
                kCaptionedPictures - 1.0, 1.0);
    EXPECT_EQ(result.completed, host::imNoErr);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ByteCaptions,
                         ::testing::Values(ByteCaptionCase{"mpeg2_a53.ts", host::kCaptionFormat708},
                                           ByteCaptionCase{"h264_a53.mkv", host::kCaptionFormat708},
                                           ByteCaptionCase{"ffv1_c608.mov",
                                                           host::kCaptionFormat608}),
                         FixtureTestName());

class TextCaptions : public CaptionModuleTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(TextCaptions, ComeOutWithTheirTextAtTheirTimes) {
    const MediaCopy copy(captionFixture(GetParam()));
    const CaptionWalk result = walk(copy);
    ASSERT_EQ(result.scan.result, host::imNoErr);
    EXPECT_EQ(result.scan.frameRateNum, 25);
    EXPECT_EQ(result.scan.frameRateDen, 1);
    // Timed text also marks the gaps between cues, with empty samples.
    std::vector<NextCaption> cues;
    for (const NextCaption& caption : result.captions) {
        EXPECT_EQ(caption.format, host::kCaptionFormatText);
        EXPECT_TRUE(caption.textTerminated);
        EXPECT_EQ(caption.size, caption.text.size());
        if (!caption.text.empty()) {
            cues.push_back(caption);
        }
    }
    ASSERT_EQ(cues.size(), 2u);
    // 0.2 s and 1.0 s at 25 frames per second.
    EXPECT_EQ(cues[0].time, 5);
    EXPECT_EQ(cues[1].time, 25);
    EXPECT_NE(cues[0].text.find("Hello from subtitles"), std::string::npos) << cues[0].text;
    EXPECT_NE(cues[1].text.find("Second caption"), std::string::npos) << cues[1].text;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TextCaptions,
                         ::testing::Values("subrip.mkv", "webvtt.mkv", "ass.mkv", "mov_text.mp4"),
                         [](const auto& info) { return test::safeName(info.param); });

TEST_F(CaptionModuleTest, AClipWithoutVideoScansItsSubtitlesAtTheDefaultRate) {
    const MediaCopy copy(captionFixture("audio_subrip.mkv"));
    const CaptionWalk result = walk(copy);
    ASSERT_EQ(result.scan.result, host::imNoErr);
    EXPECT_EQ(result.scan.frameRateNum, 30000);
    EXPECT_EQ(result.scan.frameRateDen, 1001);
    ASSERT_EQ(result.captions.size(), 2u);
    // 0.2 s and 1.0 s at 29.97 frames per second, truncated.
    EXPECT_EQ(result.captions[0].time, 5);
    EXPECT_EQ(result.captions[1].time, 29);
    EXPECT_EQ(result.captions[1].text, "Second caption");
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "(video stream -1, 1 subtitle streams)"), 1) << text;
}

TEST_F(CaptionModuleTest, AClipThatCannotCarryCaptionsIsNeverDecodedAndAnswersNoCaptions) {
    const MediaCopy copy(platform::pathFromUtf8(fixturePath("vp9.webm")));
    EXPECT_EQ(walk(copy).scan.result, host::imNoCaptions);
    // The empty result is cached: the next scan does not open the media.
    EXPECT_EQ(walk(copy).scan.result, host::imNoCaptions);
    ASSERT_TRUE(fs::exists(copy.cache()));
    const std::string text = log();
    EXPECT_EQ(occurrences(text,
                          "CaptionScanner: vp9 cannot carry A53_CC side data, skipping the "
                          "video scan of stream 0 entirely"),
              1)
        << text;
    EXPECT_EQ(occurrences(text, "CaptionScanner: served 0 caption(s) for"), 1) << text;
    EXPECT_EQ(occurrences(text, "imInitiateAsyncClosedCaptionScan: no captions in"), 2) << text;
}

TEST_F(CaptionModuleTest, DecodingStopsAfterThirtySecondsWithoutACaption) {
    const MediaCopy copy(captionFixture("h264_40s_nocc.mkv"));
    EXPECT_EQ(walk(copy).scan.result, host::imNoCaptions);
    const std::string text = log();
    EXPECT_EQ(occurrences(text,
                          "CaptionScanner: no embedded captions in the first 30 s of stream "
                          "0, stopping instead of decoding the rest of the file"),
              1)
        << text;
}

// A broadcast capture starts long after 0: its captions still count from its
// first picture, and the half minute without captions is measured from there.
TEST_F(CaptionModuleTest, AClipStartingLateIsScannedFromItsFirstPicture) {
    if (!ffmpegProgramsPresent()) {
        GTEST_SKIP() << kNoFfmpegPrograms;
    }
    const TempFolder folder;
    const fs::path late = folder.path() / "late.ts";
    const ToolRun made = runProgram(
        kFfmpegPath, {"-v", "error", "-i", platform::utf8FromPath(captionFixture("h264_a53.mkv")),
                      "-c", "copy", "-output_ts_offset", "40", platform::utf8FromPath(late)});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const MediaCopy copy(late);
    const CaptionWalk result = walk(copy);
    ASSERT_EQ(result.scan.result, host::imNoErr) << log();
    ASSERT_EQ(result.captions.size(), kCaptionedPictures);
    EXPECT_EQ(result.captions[0].time, 0);
    EXPECT_EQ(cea608TextOf(result), kCea608Text);
}

TEST_F(CaptionModuleTest, AnUnchangedFileIsServedFromItsCacheFile) {
    const MediaCopy copy(captionFixture("h264_a53.mkv"));
    const CaptionWalk scanned = walk(copy);
    ASSERT_TRUE(fs::exists(copy.cache()));
    const CaptionWalk cached = walk(copy);
    ASSERT_EQ(cached.scan.result, host::imNoErr);
    EXPECT_EQ(cached.scan.durationFrames, scanned.scan.durationFrames);
    ASSERT_EQ(cached.captions.size(), scanned.captions.size());
    for (std::size_t i = 0; i < cached.captions.size(); ++i) {
        EXPECT_EQ(cached.captions[i].time, scanned.captions[i].time);
        EXPECT_EQ(cached.captions[i].data, scanned.captions[i].data);
    }
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "CaptionScanner: wrote 60 caption(s) to"), 1) << text;
    EXPECT_EQ(occurrences(text, "CaptionScanner: served 60 caption(s) for"), 1) << text;
}

TEST_F(CaptionModuleTest, ADamagedCacheIsIgnoredAndRewritten) {
    const MediaCopy copy(captionFixture("subrip.mkv"));
    std::ofstream(copy.cache(), std::ios::binary) << "KSTX garbage";
    EXPECT_EQ(walk(copy).captions.size(), 2u);
    EXPECT_EQ(readFile(copy.cache()).substr(0, 8), std::string("KSTC\x01\0\0\0", 8));
    EXPECT_EQ(walk(copy).captions.size(), 2u);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "not usable (CorruptOrTruncated), scanning"), 1) << text;
    EXPECT_EQ(occurrences(text, "CaptionScanner: served 2 caption(s)"), 1) << text;
}

// Replaces the records of a cache the module wrote with `records` (count
// first), keeping its header so the module still takes it for the media.
void replaceRecords(const fs::path& cache, uint32_t count, const std::string& records) {
    constexpr std::size_t kHeaderBeforeCount = 56;
    std::string bytes = readFile(cache).substr(0, kHeaderBeforeCount);
    appendLittleEndian(bytes, count);
    std::ofstream(cache, std::ios::binary | std::ios::trunc) << bytes << records;
}

std::string record(int64_t time, uint32_t format, const std::string& data,
                   const std::string& text) {
    std::string bytes;
    appendLittleEndian(bytes, time);
    appendLittleEndian(bytes, format);
    appendLittleEndian(bytes, static_cast<uint32_t>(data.size()));
    bytes += data;
    appendLittleEndian(bytes, static_cast<uint32_t>(text.size()));
    return bytes + text;
}

TEST_F(CaptionModuleTest, LongTextIsCutTo511BytesAndANullBufferAsksForTheSize) {
    const MediaCopy copy(captionFixture("subrip.mkv"));
    (void)walk(copy);
    const std::string longText(900, 'x');
    replaceRecords(
        copy.cache(), 2,
        record(4, host::kCaptionFormatText, "", longText) +
            record(9, host::kCaptionFormat608, std::string("\xFC\x94\x25\xFC\x80\x80", 6), ""));

    const OpenClip clip(host(), copy.media());
    const hostsim::CaptionScan scan = hostsim::startCaptionScan(host(), clip.clip());
    ASSERT_EQ(scan.result, host::imNoErr);
    const NextCaption text = hostsim::nextCaption(host(), scan.state, 16);
    EXPECT_EQ(text.result, host::imNoErr);
    EXPECT_EQ(text.time, 4);
    EXPECT_EQ(text.size, 511u);
    EXPECT_TRUE(text.textTerminated);
    EXPECT_EQ(text.text, longText.substr(0, 511));
    EXPECT_FLOAT_EQ(text.progress, 0.5f);

    const NextCaption query = hostsim::nextCaption(host(), scan.state, std::nullopt);
    EXPECT_EQ(query.result, host::imNoErr);
    EXPECT_EQ(query.format, host::kCaptionFormat608);
    EXPECT_EQ(query.size, 6u);
    EXPECT_FLOAT_EQ(query.progress, 1.0f);
    // The size query used up the caption: the cursor never goes back.
    EXPECT_EQ(hostsim::nextCaption(host(), scan.state, 16).result, host::imNoCaptions);
    EXPECT_EQ(hostsim::completeCaptionScan(host(), scan.state, false), host::imNoErr);
}

TEST_F(CaptionModuleTest, AByteCaptionIsCutToTheHostBuffer) {
    const MediaCopy copy(captionFixture("ffv1_c608.mov"));
    const OpenClip clip(host(), copy.media());
    const hostsim::CaptionScan scan = hostsim::startCaptionScan(host(), clip.clip());
    ASSERT_EQ(scan.result, host::imNoErr);
    const NextCaption cut = hostsim::nextCaption(host(), scan.state, 2);
    EXPECT_EQ(cut.size, 2u);
    EXPECT_EQ(cut.data, (std::vector<uint8_t>{0xFC, 0x94}));
    EXPECT_EQ(hostsim::completeCaptionScan(host(), scan.state, true), host::imNoErr);
}

TEST_F(CaptionModuleTest, RecordsWithoutAClipOrAScanAnswerNoCaptions) {
    EXPECT_EQ(hostsim::startCaptionScan(host(), nullptr).result, host::imNoCaptions);
    EXPECT_EQ(hostsim::nextCaption(host(), nullptr, 16).result, host::imNoCaptions);
    EXPECT_EQ(hostsim::completeCaptionScan(host(), nullptr, true), host::imNoErr);
    for (const host::Selector selector :
         {host::imInitiateAsyncClosedCaptionScan, host::imGetNextClosedCaption}) {
        EXPECT_EQ(host().call(selector, nullptr, nullptr), host::imNoCaptions) << selector;
    }
    EXPECT_EQ(host().call(host::imCompleteAsyncClosedCaptionScan, nullptr, nullptr), host::imNoErr);
}

TEST(CaptionTool, PrintsTheKnownCea608TextAndEachCaption) {
    const MediaCopy copy(captionFixture("mpeg2_a53.ts"));
    const TempFolder appData;
    const ToolRun plain = runTool({"--appdata", appData.str(), "captions", copy.media()});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_NE(plain.out.find("captions: 60 at 30000/1001 frames per second"), std::string::npos)
        << plain.out;
    EXPECT_NE(plain.out.find("708   fc 94 25"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("CEA-608 text: HELLO KESTROVA\n"), std::string::npos) << plain.out;

    const ToolRun json = runTool({"--appdata", appData.str(), "--json", "captions", copy.media()});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"cea608Text\":\"HELLO KESTROVA\""), std::string::npos) << json.out;
    EXPECT_EQ(occurrences(json.out, "\"format\":\"708\""), 60) << json.out;
}

TEST(CaptionTool, PrintsSubtitleTextAndTheAnswerOfAClipWithoutCaptions) {
    const MediaCopy subtitles(captionFixture("webvtt.mkv"));
    const TempFolder appData;
    const ToolRun text =
        runTool({"--appdata", appData.str(), "--json", "captions", subtitles.media()});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("\"format\":\"TTML\",\"text\":\"Hello from subtitles\""),
              std::string::npos)
        << text.out;

    const MediaCopy none(platform::pathFromUtf8(fixturePath("vp9.webm")));
    const ToolRun empty = runTool({"--appdata", appData.str(), "captions", none.media()});
    EXPECT_EQ(empty.exitCode, 0) << empty.err;
    EXPECT_EQ(empty.out, "no captions (imInitiateAsyncClosedCaptionScan answered 40)\n");
}

}  // namespace
}  // namespace kestrova::moduletest
