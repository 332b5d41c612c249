#include "captions/caption_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "captions/caption.h"
#include "support/file_replace.h"
#include "support/little_endian.h"
#include "test_support.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Status = CaptionCacheStatus;

const ContentState kState{52'000, 13'300'000'123, 2};
constexpr int32_t kVideo = 0;
// Header: magic, version, size, mtime, streams, video stream, rate, rate,
// duration, count.
constexpr std::size_t kHeaderBytes = 4 + 4 + 8 + 8 + 4 + 4 + 8 + 8 + 8 + 4;
constexpr std::size_t kCountOffset = kHeaderBytes - 4;

Caption byteCaption(int64_t time, uint32_t format, std::vector<uint8_t> data) {
    Caption caption;
    caption.time = time;
    caption.format = format;
    caption.data = std::move(data);
    return caption;
}

Caption textCaption(int64_t time, std::string text) {
    Caption caption;
    caption.time = time;
    caption.format = kCaptionFormatText;
    caption.text = std::move(text);
    return caption;
}

CaptionCacheContent sampleContent() {
    CaptionCacheContent content;
    content.frameRateNum = 25;
    content.frameRateDen = 1;
    content.estimatedDurationFrames = 50;
    content.captions = {byteCaption(0, kCaptionFormat708, {0xFC, 0x94, 0x25}),
                        byteCaption(3, kCaptionFormat608, {0xFC, 0xC8, 0xC5, 0xFD, 0x80, 0x80}),
                        textCaption(7, std::string("Hello\0world", 11)),
                        byteCaption(-2, kCaptionFormat708, {})};
    return content;
}

Status loadBytes(const std::string& bytes, CaptionCacheContent& out,
                 const ContentState& state = kState, int32_t video = kVideo) {
    std::istringstream in(bytes);
    return loadCaptionCache(in, state, video, out);
}

template <typename T>
void overwrite(std::string& bytes, std::size_t offset, T value) {
    std::string field;
    appendLittleEndian(field, value);
    bytes.replace(offset, field.size(), field);
}

void expectSameCaptions(const std::vector<Caption>& a, const std::vector<Caption>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].time, b[i].time) << i;
        EXPECT_EQ(a[i].format, b[i].format) << i;
        EXPECT_EQ(a[i].data, b[i].data) << i;
        EXPECT_EQ(a[i].text, b[i].text) << i;
    }
}

TEST(CaptionCache, RoundTripKeepsEveryCaptionAndTheScanFacts) {
    const CaptionCacheContent written = sampleContent();
    CaptionCacheContent read;
    ASSERT_EQ(loadBytes(captionCacheBytes(written, kState, kVideo), read), Status::Ok);
    EXPECT_EQ(read.frameRateNum, 25);
    EXPECT_EQ(read.frameRateDen, 1);
    EXPECT_EQ(read.estimatedDurationFrames, 50);
    expectSameCaptions(read.captions, written.captions);
}

TEST(CaptionCache, FieldsLieEndToEndLittleEndian) {
    CaptionCacheContent content;
    content.frameRateNum = 30000;
    content.frameRateDen = 1001;
    content.estimatedDurationFrames = 0x0102;
    content.captions = {textCaption(0x0A0B, "Hi")};
    const std::string bytes = captionCacheBytes(content, kState, -1);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    ASSERT_EQ(bytes.size(), kHeaderBytes + 8 + 4 + 4 + 0 + 4 + 2);
    EXPECT_EQ(bytes.substr(0, 4), "KSTC");
    EXPECT_EQ(fromLittleEndian<uint32_t>(b + 4), 1u);
    EXPECT_EQ(fromLittleEndian<int64_t>(b + 8), kState.size);
    EXPECT_EQ(fromLittleEndian<int64_t>(b + 16), kState.modTime);
    EXPECT_EQ(fromLittleEndian<uint32_t>(b + 24), kState.streamCount);
    EXPECT_EQ(fromLittleEndian<int32_t>(b + 28), -1);
    EXPECT_EQ(fromLittleEndian<int64_t>(b + 32), 30000);
    EXPECT_EQ(fromLittleEndian<int64_t>(b + 40), 1001);
    EXPECT_EQ(fromLittleEndian<int64_t>(b + 48), 0x0102);
    EXPECT_EQ(fromLittleEndian<uint32_t>(b + 56), 1u);
    EXPECT_EQ(fromLittleEndian<int64_t>(b + 60), 0x0A0B);
    // 'TTML' is stored so that its bytes read "LMTT".
    EXPECT_EQ(bytes.substr(68, 4), "LMTT");
    EXPECT_EQ(fromLittleEndian<uint32_t>(b + 72), 0u);
    EXPECT_EQ(fromLittleEndian<uint32_t>(b + 76), 2u);
    EXPECT_EQ(bytes.substr(80), "Hi");
}

TEST(CaptionCache, AnEmptyScanIsCachedToo) {
    CaptionCacheContent read = sampleContent();
    ASSERT_EQ(loadBytes(captionCacheBytes(CaptionCacheContent{}, kState, kVideo), read),
              Status::Ok);
    EXPECT_TRUE(read.captions.empty());
    EXPECT_EQ(read.frameRateNum, 30000);
    EXPECT_EQ(read.frameRateDen, 1001);
}

struct Damage {
    const char* name;
    std::function<void(std::string&)> apply;
    Status expected;
    ContentState state = kState;
    int32_t video = kVideo;
};

std::string damaged(const Damage& damage) {
    std::string bytes = captionCacheBytes(sampleContent(), kState, kVideo);
    damage.apply(bytes);
    return bytes;
}

class CaptionCacheRejection : public ::testing::TestWithParam<Damage> {};

TEST_P(CaptionCacheRejection, IsRejectedWithItsStatusAndChangesNothing) {
    CaptionCacheContent read;
    read.frameRateNum = 7;
    read.captions = {textCaption(1, "before")};
    EXPECT_EQ(loadBytes(damaged(GetParam()), read, GetParam().state, GetParam().video),
              GetParam().expected);
    EXPECT_EQ(read.frameRateNum, 7);
    ASSERT_EQ(read.captions.size(), 1u);
    EXPECT_EQ(read.captions[0].text, "before");
}

// Offsets of the first record's fields.
constexpr std::size_t kFirstFormat = kHeaderBytes + 8;
constexpr std::size_t kFirstDataLength = kFirstFormat + 4;
constexpr std::size_t kFirstTextLength = kFirstDataLength + 4 + 3;

const Damage kDamages[] = {
    {"Empty", [](std::string& b) { b.clear(); }, Status::CorruptOrTruncated},
    {"ForeignMagic", [](std::string& b) { b[3] = 'X'; }, Status::CorruptOrTruncated},
    {"MagicOnly", [](std::string& b) { b.resize(4); }, Status::CorruptOrTruncated},
    {"OtherVersion", [](std::string& b) { overwrite<uint32_t>(b, 4, 2); }, Status::VersionMismatch},
    {"HeaderCut", [](std::string& b) { b.resize(kHeaderBytes - 1); }, Status::CorruptOrTruncated},
    {"OtherSize",
     [](std::string&) {},
     Status::ContentStateMismatch,
     {kState.size + 1, kState.modTime, kState.streamCount}},
    {"OtherTime",
     [](std::string&) {},
     Status::ContentStateMismatch,
     {kState.size, kState.modTime - 1, kState.streamCount}},
    {"OtherStreamCount",
     [](std::string&) {},
     Status::ContentStateMismatch,
     {kState.size, kState.modTime, kState.streamCount + 1}},
    // Written for video stream 0, asked for stream 1.
    {"OtherVideoStream", [](std::string&) {}, Status::ContentStateMismatch, kState, 1},
    {"StaleBeforeImplausible",
     [](std::string& b) { overwrite<uint32_t>(b, kCountOffset, 5'000'001); },
     Status::ContentStateMismatch, kState, 1},
    {"CountAboveLimit", [](std::string& b) { overwrite<uint32_t>(b, kCountOffset, 5'000'001); },
     Status::CorruptOrTruncated},
    {"ZeroRateNumerator", [](std::string& b) { overwrite<int64_t>(b, 32, 0); },
     Status::CorruptOrTruncated},
    {"NegativeRateDenominator", [](std::string& b) { overwrite<int64_t>(b, 40, -1001); },
     Status::CorruptOrTruncated},
    {"UnknownFormat", [](std::string& b) { overwrite<uint32_t>(b, kFirstFormat, 609); },
     Status::CorruptOrTruncated},
    {"DataAboveOneMebibyte",
     [](std::string& b) { overwrite<uint32_t>(b, kFirstDataLength, 0x100001); },
     Status::CorruptOrTruncated},
    {"TextAboveOneMebibyte",
     [](std::string& b) { overwrite<uint32_t>(b, kFirstTextLength, 0x100001); },
     Status::CorruptOrTruncated},
    {"LastByteMissing", [](std::string& b) { b.pop_back(); }, Status::CorruptOrTruncated},
    {"OneRecordMoreThanWritten", [](std::string& b) { overwrite<uint32_t>(b, kCountOffset, 5); },
     Status::CorruptOrTruncated},
    {"HugeCountOfMissingRecords",
     [](std::string& b) { overwrite<uint32_t>(b, kCountOffset, 5'000'000); },
     Status::CorruptOrTruncated},
};

INSTANTIATE_TEST_SUITE_P(Damaged, CaptionCacheRejection, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CaptionCache, DataAndTextOfExactlyOneMebibyteAreAccepted) {
    CaptionCacheContent content;
    content.captions = {byteCaption(0, kCaptionFormat708, std::vector<uint8_t>(0x100000, 0xFC)),
                        textCaption(1, std::string(0x100000, 'x'))};
    CaptionCacheContent read;
    ASSERT_EQ(loadBytes(captionCacheBytes(content, kState, kVideo), read), Status::Ok);
    expectSameCaptions(read.captions, content.captions);
}

TEST(CaptionCache, PathIsTheMediaPathWithKstccAppended) {
    EXPECT_EQ(platform::utf8FromPath(captionCachePathFor("/media/clip.mxf")),
              "/media/clip.mxf.kstcc");
    EXPECT_TRUE(captionCachePathFor("").empty());
}

TEST(CaptionCache, SavedFileLoadsAndAMissingFileIsNotFound) {
    const test::TempDir dir;
    const fs::path file = dir.path() / "clip.mov.kstcc";
    CaptionCacheContent read;
    EXPECT_EQ(loadCaptionCache(file, kState, kVideo, read), Status::FileNotFound);
    ASSERT_TRUE(saveCaptionCache(file, sampleContent(), kState, kVideo));
    ASSERT_EQ(loadCaptionCache(file, kState, kVideo, read), Status::Ok);
    expectSameCaptions(read.captions, sampleContent().captions);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
        << "no temporary is left beside the cache";
}

TEST(CaptionCache, AFailedSaveKeepsTheEarlierFile) {
    const test::TempDir dir;
    const fs::path file = dir.path() / "clip.mov.kstcc";
    ASSERT_TRUE(saveCaptionCache(file, sampleContent(), kState, kVideo));
    const std::string before = test::readFile(file);
    // A folder where the temporary would go: the new file cannot be written.
    fs::create_directory(temporaryPathFor(file));
    EXPECT_FALSE(saveCaptionCache(file, CaptionCacheContent{}, kState, kVideo));
    EXPECT_EQ(test::readFile(file), before);
}

struct TimeCase {
    const char* name;
    bool present;
    int64_t timestamp;
    int64_t timeBaseNum, timeBaseDen, rateNum, rateDen;
    int64_t frames;
};

class CaptionTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(CaptionTime, CountsFramesOfTheScanRate) {
    const TimeCase& c = GetParam();
    EXPECT_EQ(
        captionTime(c.present, c.timestamp, c.timeBaseNum, c.timeBaseDen, c.rateNum, c.rateDen),
        c.frames);
}

const TimeCase kTimes[] = {
    {"NtscFrameFromNinetyKilohertz", true, 3003, 1, 90000, 30000, 1001, 1},
    // Exactly on a frame: never the frame before (double arithmetic gives 14).
    {"ExactlyOnFrameFifteen", true, 45045, 1, 90000, 30000, 1001, 15},
    {"ExactlyOnFrameFiftyEight", true, 174174, 1, 90000, 30000, 1001, 58},
    {"MillisecondsAtTwentyFive", true, 1000, 1, 1000, 25, 1, 25},
    {"TruncatedNotRounded", true, 79, 1, 1000, 25, 1, 1},
    {"NegativeTruncatesTowardZero", true, -79, 1, 1000, 25, 1, -1},
    {"MissingTimestampIsFrameZero", false, 123456, 1, 1000, 25, 1, 0},
    {"ZeroTimeBaseDenominator", true, 5, 1, 0, 25, 1, 0},
    {"FarTimestampDoesNotOverflow", true, INT64_MAX, 1, 1, 30000, 1001, INT64_MAX},
    {"FarNegativeTimestampDoesNotOverflow", true, INT64_MIN, 1, 1, 30000, 1001, INT64_MIN},
    {"HugeTermsAreClamped", true, INT64_MAX, INT64_MAX, 1, INT64_MAX, 1, INT64_MAX},
};

INSTANTIATE_TEST_SUITE_P(Timestamps, CaptionTime, ::testing::ValuesIn(kTimes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CaptionText, OneTrailingZeroIsDropped) {
    const uint8_t hi[] = {'H', 'i', 0};
    EXPECT_EQ(captionTextFromPayload(hi, 3), "Hi");
    EXPECT_EQ(captionTextFromPayload(hi, 2), "Hi");
    const uint8_t twoZeros[] = {'a', 0, 0};
    EXPECT_EQ(captionTextFromPayload(twoZeros, 3), std::string("a\0", 2));
    const uint8_t zero[] = {0};
    EXPECT_EQ(captionTextFromPayload(zero, 1), "");
    EXPECT_EQ(captionTextFromPayload(nullptr, 0), "");
}

TEST(CaptionText, TimedTextKeepsTheTextBehindItsLengthField) {
    const uint8_t styled[] = {0, 2, 'H', 'i', 0, 0, 0, 12, 's', 't', 'y', 'l'};
    EXPECT_EQ(captionTextFromTimedTextSample(styled, sizeof styled), "Hi");
    // A gap sample clears the caption: no text.
    const uint8_t empty[] = {0, 0};
    EXPECT_EQ(captionTextFromTimedTextSample(empty, 2), "");
    // A length beyond the sample is cut to the sample.
    const uint8_t cut[] = {0x01, 0x00, 'a', 'b'};
    EXPECT_EQ(captionTextFromTimedTextSample(cut, sizeof cut), "ab");
    EXPECT_EQ(captionTextFromTimedTextSample(cut, 1), "");
}

}  // namespace
}  // namespace kestrova
