// Trims as the host asks for them: imCheckTrim8 first, then imTrimFile8,
// checked by probing the output with the bundled ffprobe and by opening it
// in the importer again.
#include <gtest/gtest.h>

#include <cmath>

#include "fileops_records.h"
#include "fileops_test_support.h"

namespace kestrova::moduletest {
namespace {

struct TrimCase {
    std::string fixture;
    // In frames at the clip's rate (25 per second for every fixture here).
    int32_t in = 0;
    int32_t duration = 0;
    // Where imCheckTrim8 moves the in point: the keyframe at or before it.
    int32_t keyframeIn = 0;
};

// H.264 with B-frames in closed and open GOPs and VP9, keyframes every 12
// frames, and the all-intra DNxHR, FFV1 and MJPEG. The MOV is made from the
// FFV1 Matroska file: the importer leaves MOV and MP4 with the usual codecs
// to the host, so it never trims those, and QuickTime carries no VP9.
const TrimCase kTrimCases[] = {
    {"h264_closed.mkv", 30, 30, 24}, {"h264_closed.ts", 30, 30, 24}, {"h264_open.ts", 30, 30, 24},
    {"vp9.mp4", 15, 20, 12},         {"ffv1.mov", 7, 10, 7},         {"dnxhr.mxf", 13, 11, 13},
    {"mjpeg.avi", 7, 10, 7},
};

class TrimFileTest : public ClipModuleTest, public ::testing::WithParamInterface<TrimCase> {
  protected:
    void SetUp() override {
        if (!ffmpegProgramsPresent()) {
            GTEST_SKIP() << kNoFfmpegPrograms;
        }
        ClipModuleTest::SetUp();
    }
    // The fixture, or the MOV made here from the FFV1 Matroska file.
    std::string inputFile() {
        if (GetParam().fixture != "ffv1.mov") {
            return fixturePath(GetParam().fixture);
        }
        const std::string mov = platform::utf8FromPath(folder.path() / "ffv1.mov");
        const ToolRun made = runProgram(
            kFfmpegPath, {"-v", "error", "-i", fixturePath("ffv1.mkv"), "-c", "copy", mov});
        EXPECT_EQ(made.exitCode, 0) << made.err;
        return mov;
    }
    TempFolder folder;
};

TEST_P(TrimFileTest, WritesTheKeptSpanFromItsKeyframe) {
    const TrimCase& c = GetParam();
    const std::string input = inputFile();
    const std::string output = platform::utf8FromPath(folder.path() / ("trimmed." + c.fixture));
    hostsim::CheckTrimAnswer check;
    {
        OpenClip clip(host(), input);
        ASSERT_EQ(clip.answer.result, host::imNoErr) << log();
        check = hostsim::checkTrim(host(), clip.clip(), c.in, c.duration, true, true);
        ASSERT_EQ(check.result, host::imNoErr);
        EXPECT_EQ(check.in, c.keyframeIn);
        EXPECT_EQ(check.duration, c.duration + c.in - c.keyframeIn);
        hostsim::TrimOrder order;
        order.in = check.in;
        order.duration = check.duration;
        order.destination = output;
        hostsim::Progress progress;
        ASSERT_EQ(hostsim::trimFile(host(), clip.clip(), order, &progress), host::imNoErr);
        for (const auto& report : progress.reports()) {
            EXPECT_EQ(report.total, check.duration);
            EXPECT_LE(report.done, report.total);
        }
    }
    // Nothing but the source (when it is made here) and the trim is left.
    std::vector<std::string> expected = {"trimmed." + c.fixture};
    if (c.fixture == "ffv1.mov") {
        expected.insert(expected.begin(), "ffv1.mov");
    }
    EXPECT_EQ(filesIn(folder.path()), expected);

    const ProbedFile from = probeFile(input), trimmed = probeFile(output);
    ASSERT_TRUE(from.ok && trimmed.ok);
    EXPECT_EQ(trimmed.streamTypes, from.streamTypes);
    // The first picture is shown at 0, or later by as much as its decoding
    // precedes it where the muxer stores decoding times from 0 (MPEG-TS).
    ASSERT_TRUE(trimmed.videoStart);
    EXPECT_GE(*trimmed.videoStart, 0.0);
    EXPECT_LT(*trimmed.videoStart, 0.25);
    EXPECT_NEAR(trimmed.duration, check.duration / 25.0, 0.1);
    // Every stream's packets are one unbroken run of the source's, the video
    // from a keyframe. A muxer may put the stream's parameter sets into the
    // first keyframe (MPEG-TS does for H.264), so that one may differ.
    for (std::size_t stream = 0; stream < from.streamTypes.size(); ++stream) {
        const auto original = from.of(static_cast<int>(stream));
        auto kept = trimmed.of(static_cast<int>(stream));
        ASSERT_FALSE(kept.empty()) << "stream " << stream;
        const bool video = from.streamTypes[stream] == "video";
        if (video) {
            EXPECT_TRUE(kept.front().keyframe);
        }
        auto at = findRun(original, kept);
        if (!at && video && kept.size() > 1) {
            kept.erase(kept.begin());
            at = findRun(original, kept);
            ASSERT_TRUE(at && *at > 0) << "stream " << stream;
            // Its keyframe comes just before, or before the leading pictures
            // of an open GOP that the trim drops.
            const auto from = original.begin() + static_cast<std::ptrdiff_t>(*at);
            EXPECT_TRUE(std::any_of(from - std::min<std::ptrdiff_t>(*at, 8), from,
                                    [](const ProbedPacket& p) { return p.keyframe; }));
        }
        EXPECT_TRUE(at) << "stream " << stream;
    }
    // The trim's frames from 0 are the source's from the adjusted in point.
    const auto kept = frameHashes(input, check.in, check.duration);
    ASSERT_EQ(kept.size(), static_cast<std::size_t>(check.duration));
    EXPECT_EQ(frameHashes(output, 0, check.duration), kept);
}

INSTANTIATE_TEST_SUITE_P(Containers, TrimFileTest, ::testing::ValuesIn(kTrimCases),
                         FixtureTestName());

class TrimRulesTest : public ClipModuleTest {
  protected:
    TempFolder folder;
    std::string destination(const char* name) const {
        return platform::utf8FromPath(folder.path() / name);
    }
};

TEST_F(TrimRulesTest, AClipReadByTheWavDemuxerIsDeclined) {
    OpenClip clip(host(), fixturePath("pcm_s16le.wav"));
    ASSERT_EQ(clip.answer.result, host::imNoErr);
    EXPECT_EQ(hostsim::checkTrim(host(), clip.clip(), 0, 25, true, false).result,
              host::imTrimDeclined);
    hostsim::TrimOrder order{0, 25, 25, 1, true, false, destination("out.wav")};
    EXPECT_EQ(hostsim::trimFile(host(), clip.clip(), order), host::imTrimDeclined);
    EXPECT_TRUE(filesIn(folder.path()).empty());
    EXPECT_NE(log().find("imCheckTrim8: declining trim for"), std::string::npos);
}

// MXF rebuilds the picture order from the MPEG-2 headers, which still count
// the open GOP's dropped leading pictures: a trim would show other pictures.
TEST_F(TrimRulesTest, LongGopVideoInMxfIsDeclined) {
    OpenClip clip(host(), fixturePath("mpeg2_tff.mxf"));
    ASSERT_EQ(clip.answer.result, host::imNoErr);
    EXPECT_EQ(hostsim::checkTrim(host(), clip.clip(), 13, 25, true, true).result,
              host::imTrimDeclined);
    hostsim::TrimOrder order{12, 26, 25, 1, true, true, destination("out.mxf")};
    EXPECT_EQ(hostsim::trimFile(host(), clip.clip(), order), host::imTrimDeclined);
    EXPECT_TRUE(filesIn(folder.path()).empty());
    EXPECT_NE(log().find("would reorder its long-GOP pictures"), std::string::npos);
}

// A file of headers alone is no trim: the host would link an empty clip.
TEST_F(TrimRulesTest, ASpanPastTheEndFailsWithoutAFile) {
    OpenClip clip(host(), fixturePath("h264_closed.mkv"));
    hostsim::TrimOrder order{250, 25, 25, 1, true, false, destination("late.mkv")};
    EXPECT_EQ(hostsim::trimFile(host(), clip.clip(), order), host::imFailure);
    EXPECT_TRUE(filesIn(folder.path()).empty());
    EXPECT_NE(log().find("imTrimFile8: no packets of"), std::string::npos);
}

// The remux runs outside the clip's lock: the clip answers its other
// selectors meanwhile, the host's progress callback among them.
TEST_F(TrimRulesTest, TheClipAnswersDuringATrim) {
    OpenClip clip(host(), fixturePath("h264_closed.mkv"));
    hostsim::Progress progress;
    std::vector<host::Result> answers;
    progress.onReport = [&](int32_t) {
        answers.push_back(hostsim::getInfo(host(), clip.clip(), 0).result);
    };
    hostsim::TrimOrder order{0, 75, 25, 1, true, true, destination("whole.mkv")};
    ASSERT_EQ(hostsim::trimFile(host(), clip.clip(), order, &progress), host::imNoErr);
    ASSERT_FALSE(answers.empty());
    for (const host::Result answer : answers) {
        EXPECT_EQ(answer, host::imNoErr);
    }
}

TEST_F(TrimRulesTest, TheAudioPassAndIntraOnlyVideoKeepTheRequest) {
    OpenClip h264(host(), fixturePath("h264_closed.mkv"));
    const auto audioPass = hostsim::checkTrim(host(), h264.clip(), 30, 10, true, false);
    EXPECT_EQ(audioPass.result, host::imNoErr);
    EXPECT_EQ(audioPass.in, 30);
    EXPECT_EQ(audioPass.duration, 10);
    OpenClip intra(host(), fixturePath("h264_intra.mkv"));
    const auto videoPass = hostsim::checkTrim(host(), intra.clip(), 31, 10, true, true);
    EXPECT_EQ(videoPass.in, 31);
    EXPECT_EQ(videoPass.duration, 10);
}

TEST_F(TrimRulesTest, KeepingOnlyAudioOfAClipWithoutAudioCopiesNothing) {
    OpenClip clip(host(), fixturePath("vp9.webm"));
    hostsim::TrimOrder order{0, 25, 25, 1, true, false, destination("audio.webm")};
    EXPECT_EQ(hostsim::trimFile(host(), clip.clip(), order), host::imTrimDeclined);
    EXPECT_TRUE(filesIn(folder.path()).empty());
    EXPECT_NE(log().find("imTrimFile8: no streams to copy"), std::string::npos);
}

TEST_F(TrimRulesTest, AudioAloneIsTrimmedFromTheInPoint) {
    if (!ffmpegProgramsPresent()) {
        GTEST_SKIP() << kNoFfmpegPrograms;
    }
    OpenClip clip(host(), fixturePath("h264_closed.mkv"));
    const std::string out = destination("audio.mkv");
    hostsim::TrimOrder order{25, 25, 25, 1, true, false, out};
    ASSERT_EQ(hostsim::trimFile(host(), clip.clip(), order), host::imNoErr);
    const ProbedFile trimmed = probeFile(out);
    EXPECT_EQ(trimmed.streamTypes, std::vector<std::string>{"audio"});
    EXPECT_NEAR(trimmed.duration, 1.0, 0.05);
}

TEST_F(TrimRulesTest, EveryRecordNeedsItsClip) {
    hostsim::TrimOrder order{0, 25, 25, 1, true, true, destination("none.mkv")};
    EXPECT_EQ(hostsim::trimFile(host(), nullptr, order), host::imUnsupported);
    EXPECT_EQ(hostsim::checkTrim(host(), nullptr, 0, 25, true, true).result, host::imUnsupported);
    EXPECT_EQ(hostsim::calcSize(host(), nullptr, 0, 0, 25, 1).result, host::imUnsupported);
    EXPECT_EQ(host().call(host::imTrimFile8, nullptr, nullptr), host::imUnsupported);
    EXPECT_EQ(host().call(host::imCopyFile, nullptr, nullptr), host::imUnsupported);
}

TEST_F(TrimRulesTest, AnEmptyDestinationFails) {
    OpenClip clip(host(), fixturePath("h264_closed.mkv"));
    hostsim::TrimOrder order{0, 25, 25, 1, true, true, ""};
    EXPECT_EQ(hostsim::trimFile(host(), clip.clip(), order), host::imFailure);
}

// Sizes: the whole file exactly, a span from the container's bit rate, and
// the whole file when no rate can be found.
uint64_t sizeOf(const std::string& path) {
    return std::filesystem::file_size(platform::pathFromUtf8(path));
}

TEST_F(TrimRulesTest, TheWholeFileSizeIsExact) {
    for (const char* fixture : {"h264_closed.mkv", "pcm_s16le.wav", "mjpeg.avi"}) {
        OpenClip clip(host(), fixturePath(fixture));
        const auto size = hostsim::calcSize(host(), clip.clip(), 0, 0, 25, 1);
        EXPECT_EQ(size.result, host::imNoErr) << fixture;
        EXPECT_EQ(size.bytes, static_cast<int64_t>(sizeOf(fixturePath(fixture)))) << fixture;
    }
}

TEST_F(TrimRulesTest, ASpanIsEstimatedFromTheContainerBitRate) {
    if (!ffmpegProgramsPresent()) {
        GTEST_SKIP() << kNoFfmpegPrograms;
    }
    const std::string file = fixturePath("h264_closed.mkv");
    const ToolRun rate = runProgram(
        kFfprobePath, {"-v", "error", "-show_entries", "format=bit_rate", "-of", "csv=p=0", file});
    ASSERT_EQ(rate.exitCode, 0);
    const int64_t bitRate = std::stoll(rate.out);
    OpenClip clip(host(), file);
    // 50 frames at 25 per second: two seconds.
    const auto size = hostsim::calcSize(host(), clip.clip(), 10, 50, 25, 1);
    EXPECT_EQ(size.result, host::imNoErr);
    EXPECT_EQ(size.bytes, bitRate * 2 / 8);
}

TEST_F(TrimRulesTest, WithoutRatesOrDurationTheWholeFileIsTheEstimate) {
    // A raw H.264 stream has neither a bit rate nor a duration.
    const std::string file = fixturePath("h264_elementary.h264");
    OpenClip clip(host(), file);
    ASSERT_EQ(clip.answer.result, host::imNoErr);
    const auto size = hostsim::calcSize(host(), clip.clip(), 0, 10, 25, 1);
    EXPECT_EQ(size.result, host::imNoErr);
    EXPECT_EQ(size.bytes, static_cast<int64_t>(sizeOf(file)));
}

// kestrova-host trim reports the adjusted in point before trimming, and copy
// and size answer as the selectors do.
TEST(FileopsToolTest, TrimCopyAndSizeReportTheImportersAnswers) {
    TempFolder folder;
    const std::string app = platform::utf8FromPath(folder.path() / "app");
    const std::string out = platform::utf8FromPath(folder.path() / "t.mkv");
    const ToolRun trim =
        runTool({"--appdata", app, "--json", "trim", fixturePath("h264_closed.mkv"), "--in", "1.2",
                 "--dur", "1.2", "--out", out});
    ASSERT_EQ(trim.exitCode, 0) << trim.err;
    EXPECT_NE(trim.out.find("\"checkAnswer\":0,\"answer\":0,\"unit\":\"frames\","
                            "\"requestedIn\":30,\"requestedDuration\":30,\"in\":24,"
                            "\"duration\":36,"),
              std::string::npos)
        << trim.out;
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "t.mkv"));

    const ToolRun wav = runTool({"--appdata", app, "trim", fixturePath("pcm_s16le.wav"), "--in",
                                 "0", "--dur", "1", "--out", out + ".wav"});
    EXPECT_EQ(wav.exitCode, 3);
    EXPECT_NE(wav.out.find("imCheckTrim8: answer 20"), std::string::npos) << wav.out;

    const ToolRun copy = runTool({"--appdata", app, "--json", "copy", out, out + ".copy"});
    EXPECT_EQ(copy.exitCode, 0) << copy.err;
    EXPECT_EQ(readFile(folder.path() / "t.mkv.copy"), readFile(folder.path() / "t.mkv"));

    const ToolRun size = runTool({"--appdata", app, "--json", "size", out});
    EXPECT_EQ(size.exitCode, 0);
    EXPECT_NE(size.out.find("\"bytes\":" +
                            std::to_string(std::filesystem::file_size(folder.path() / "t.mkv"))),
              std::string::npos)
        << size.out;
}

}  // namespace
}  // namespace kestrova::moduletest
