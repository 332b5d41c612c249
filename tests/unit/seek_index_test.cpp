#include "video/seek_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ffmpeg/ffmpeg_ptr.h"
#include "fixtures.h"
#include "host/retarget_accelerator.h"
#include "test_support.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

struct AcceleratorFile {
    std::string magic = "KSTX";
    uint32_t version = 1;
    ContentState state{123456, 13'300'000'000, 2};
    int32_t streamIndex = 1;
    uint32_t announced = 0;
    std::vector<SeekIndexEntry> entries;
    std::size_t keepBytes = std::string::npos;  // cuts the file short
};

template <typename T>
void put(std::string& out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<char>(static_cast<uint64_t>(value) >> (8 * i)));
    }
}

void write(const fs::path& path, const AcceleratorFile& file) {
    std::string bytes = file.magic;
    put(bytes, file.version);
    put(bytes, file.state.size);
    put(bytes, file.state.modTime);
    put(bytes, file.state.streamCount);
    put(bytes, file.streamIndex);
    put(bytes, file.announced);
    for (const SeekIndexEntry& e : file.entries) {
        put(bytes, e.pts);
        put(bytes, e.pos);
        put(bytes, e.frameIndex);
    }
    bytes.resize(std::min(bytes.size(), file.keepBytes));
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

std::vector<SeekIndexEntry> keyframes(int count) {
    std::vector<SeekIndexEntry> entries;
    for (int i = 0; i < count; ++i) {
        entries.push_back({i * 3000, 4096 + i * 100000, i * 12});
    }
    return entries;
}

class SeekIndexTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    test::LogCapture log_;
};

struct LoadCase {
    const char* name;
    void (*alter)(AcceleratorFile&);
    SeekIndexLoadStatus expected;
};

class SeekIndexLoadTest : public SeekIndexTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(SeekIndexLoadTest, RejectsWhatDoesNotBelong) {
    AcceleratorFile file;
    file.announced = 5;
    file.entries = keyframes(5);
    GetParam().alter(file);
    const fs::path path = dir_.path() / "clip.kstidx";
    write(path, file);

    SeekIndex index;
    index.entries = keyframes(3);
    const ContentState expected{123456, 13'300'000'000, 2};
    EXPECT_EQ(index.load(path, expected), GetParam().expected);
    EXPECT_TRUE(index.entries.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, SeekIndexLoadTest,
    ::testing::Values(LoadCase{"BadMagic", [](AcceleratorFile& f) { f.magic = "KSTY"; },
                               SeekIndexLoadStatus::CorruptOrTruncated},
                      LoadCase{"Version2", [](AcceleratorFile& f) { f.version = 2; },
                               SeekIndexLoadStatus::VersionMismatch},
                      LoadCase{"OtherSize", [](AcceleratorFile& f) { f.state.size += 1; },
                               SeekIndexLoadStatus::ContentStateMismatch},
                      LoadCase{"OtherTime", [](AcceleratorFile& f) { f.state.modTime -= 1; },
                               SeekIndexLoadStatus::ContentStateMismatch},
                      LoadCase{"OtherStreamCount",
                               [](AcceleratorFile& f) { f.state.streamCount = 3; },
                               SeekIndexLoadStatus::ContentStateMismatch},
                      LoadCase{"AboveTheEntryLimit",
                               [](AcceleratorFile& f) { f.announced = kSeekIndexMaxEntries + 1; },
                               SeekIndexLoadStatus::CorruptOrTruncated},
                      LoadCase{"HundredAnnouncedNinetyNinePresent",
                               [](AcceleratorFile& f) {
                                   f.announced = 100;
                                   f.entries = keyframes(99);
                               },
                               SeekIndexLoadStatus::CorruptOrTruncated},
                      LoadCase{"LastEntryCut",
                               [](AcceleratorFile& f) { f.keepBytes = 36 + 5 * 24 - 8; },
                               SeekIndexLoadStatus::CorruptOrTruncated},
                      LoadCase{"HeaderCut", [](AcceleratorFile& f) { f.keepBytes = 20; },
                               SeekIndexLoadStatus::CorruptOrTruncated},
                      LoadCase{"MagicOnly", [](AcceleratorFile& f) { f.keepBytes = 4; },
                               SeekIndexLoadStatus::CorruptOrTruncated}),
    [](const ::testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

TEST_F(SeekIndexTest, GoodFileLoadsEveryEntry) {
    AcceleratorFile file;
    file.entries = keyframes(40);
    file.announced = 40;
    file.streamIndex = 3;
    const fs::path path = dir_.path() / "clip.kstidx";
    write(path, file);

    SeekIndex index;
    ASSERT_EQ(index.load(path, file.state), SeekIndexLoadStatus::Ok);
    EXPECT_EQ(index.streamIndex, 3);
    ASSERT_EQ(index.entries.size(), 40u);
    for (std::size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(index.entries[i].pts, file.entries[i].pts);
        EXPECT_EQ(index.entries[i].pos, file.entries[i].pos);
        EXPECT_EQ(index.entries[i].frameIndex, file.entries[i].frameIndex);
    }
    EXPECT_EQ(index.load(dir_.path() / "absent.kstidx", file.state),
              SeekIndexLoadStatus::FileNotFound);
    EXPECT_TRUE(index.entries.empty());
}

TEST_F(SeekIndexTest, MismatchLogNamesBothSidesOfEachPair) {
    AcceleratorFile file;
    file.state = {111, 333, 5};
    const fs::path path = dir_.path() / "clip.kstidx";
    write(path, file);
    SeekIndex index;
    ASSERT_EQ(index.load(path, ContentState{222, 444, 6}),
              SeekIndexLoadStatus::ContentStateMismatch);
    EXPECT_NE(log_.text().find("content state mismatch for " + path.string() +
                               " (size 111 vs 222, mod 333 vs 444, streams 5 vs 6)"),
              std::string::npos);
}

TEST(SeekIndexLookupTest, PositionAndFrameAtTheEdges) {
    SeekIndex index;
    EXPECT_EQ(index.positionFor(0), -1);
    EXPECT_FALSE(index.entryForFrame(0).has_value());
    EXPECT_EQ(index.medianSpacing(), 0);

    index.entries = {{100, 1000, 0}, {200, 2000, 10}, {300, 3000, 20}};
    struct Lookup {
        int64_t at;
        int64_t position;
        int64_t frame;
    };
    const Lookup lookups[] = {{-50, 1000, 0},  {99, 1000, 0},      {100, 1000, 0},
                              {199, 1000, 0},  {200, 2000, 10},    {299, 2000, 10},
                              {300, 3000, 20}, {1 << 30, 3000, 20}};
    for (const Lookup& l : lookups) {
        EXPECT_EQ(index.positionFor(l.at), l.position) << l.at;
    }
    const Lookup frames[] = {{-1, 0, 0}, {0, 0, 0}, {9, 0, 0}, {10, 0, 10}, {25, 0, 20}};
    for (const Lookup& l : frames) {
        const auto entry = index.entryForFrame(l.at);
        ASSERT_TRUE(entry.has_value()) << l.at;
        EXPECT_EQ(entry->frameIndex, l.frame) << l.at;
    }
}

TEST(SeekIndexLookupTest, MedianSpacing) {
    struct SpacingCase {
        std::vector<int64_t> frames;
        int64_t median;
    };
    const SpacingCase cases[] = {{{0, 10, 20, 50}, 10}, {{0, 12, 24, 36, 60}, 12},
                                 {{0, 10}, 10},         {{7}, 0},
                                 {{5, 5, 5}, 0},        {{0, 30, 30, 40}, 30}};
    for (const SpacingCase& c : cases) {
        SeekIndex index;
        for (int64_t f : c.frames) {
            index.entries.push_back({f, f, f});
        }
        EXPECT_EQ(index.medianSpacing(), c.median) << c.frames.size();
    }
}

TEST(SeekIndexPathTest, AcceleratorSitsBesideTheMedia) {
    EXPECT_EQ(acceleratorPathFor("/media/a/clip.mov"), fs::path("/media/a/clip.kstidx"));
    EXPECT_EQ(acceleratorPathFor("/media/a/clip.v2.mxf"), fs::path("/media/a/clip.v2.kstidx"));
    EXPECT_EQ(acceleratorPathFor("/media/a/clip"), fs::path("/media/a/clip.kstidx"));
}

TEST_F(SeekIndexTest, ContentStateComesFromTheFileSystem) {
    const fs::path media = dir_.path() / "clip.mov";
    std::ofstream(media, std::ios::binary) << std::string(1234, 'x');
    const ContentState state = contentStateOf(media);
    EXPECT_EQ(state.size, 1234);
    // 2020-01-01 in seconds since 1601, as a lower bound for "now".
    EXPECT_GT(state.modTime, 13'222'310'400);
    EXPECT_EQ(state.streamCount, 0u);

    const ContentState missing = contentStateOf(dir_.path() / "absent.mov");
    EXPECT_EQ(missing.size, 0);
    EXPECT_EQ(missing.modTime, 0);
}

TEST_F(SeekIndexTest, RetargetSelectorChecksBothFiles) {
    const fs::path media = dir_.path() / "clip.mov";
    const fs::path accelerator = dir_.path() / "clip.kstidx";
    std::ofstream(media) << "m";
    std::ofstream(accelerator) << "a";
    const std::u16string mediaText = media.u16string();
    const std::u16string acceleratorText = accelerator.u16string();
    const std::u16string absentText = (dir_.path() / "absent.mov").u16string();
    const std::u16string emptyText;

    struct RetargetCase {
        const char16_t* media;
        const char16_t* accelerator;
        host::Result expected;
    };
    const RetargetCase cases[] = {
        {mediaText.c_str(), acceleratorText.c_str(), host::imNoErr},
        {absentText.c_str(), acceleratorText.c_str(), host::imFailure},
        {mediaText.c_str(), absentText.c_str(), host::imFailure},
        {emptyText.c_str(), acceleratorText.c_str(), host::imFailure},
        {mediaText.c_str(), nullptr, host::imFailure},
    };
    for (const RetargetCase& c : cases) {
        unsigned char record[host::retargetrec::kSize] = {};
        host::writeField(record, host::retargetrec::kMediaPath, c.media);
        host::writeField(record, host::retargetrec::kAcceleratorPath, c.accelerator);
        EXPECT_EQ(host::imRetargetAcceleratorHandler(record), c.expected);
    }
    EXPECT_EQ(host::imRetargetAcceleratorHandler(nullptr), host::imUnsupported);
    EXPECT_NE(log_.text().find("imRetargetAccelerator: retargeted " + accelerator.string() +
                               " -> " + media.string()),
              std::string::npos);
}

TEST(SeekIndexContainerTest, BadArgumentsAreRefused) {
    SeekIndex index;
    index.entries = keyframes(2);
    EXPECT_EQ(index.buildFromContainer(nullptr, 0), -1);
    EXPECT_TRUE(index.entries.empty());
    EXPECT_FALSE(index.fromContainer);
}

class SeekIndexFixtureTest : public ::testing::TestWithParam<const char*> {};

TEST_P(SeekIndexFixtureTest, ContainerIndexGivesOrderedKeyframes) {
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    const std::string path = test::fixturePath(GetParam());
    if (!runtime.available() || !fs::exists(path)) {
        GTEST_SKIP() << "needs the FFmpeg runtime and " << path;
    }
    const auto& fn = runtime.fn();
    AVFormatContext* raw = nullptr;
    ASSERT_EQ(fn.avformat_open_input(&raw, path.c_str(), nullptr, nullptr), 0);
    ffmpeg::FormatContextPtr format(raw);
    ASSERT_GE(fn.avformat_find_stream_info(format.get(), nullptr), 0);
    const int video = fn.av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    ASSERT_GE(video, 0);

    SeekIndex index;
    const int32_t count = index.buildFromContainer(format.get(), video);
    ASSERT_GT(count, 0) << "the fixture's container carries an index";
    EXPECT_TRUE(index.fromContainer);
    EXPECT_EQ(index.streamIndex, video);
    ASSERT_EQ(index.entries.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(index.entries.front().frameIndex, 0);
    EXPECT_TRUE(std::is_sorted(
        index.entries.begin(), index.entries.end(),
        [](const SeekIndexEntry& a, const SeekIndexEntry& b) { return a.pts < b.pts; }));
    for (const SeekIndexEntry& e : index.entries) {
        EXPECT_GE(e.frameIndex, 0);
        EXPECT_GE(e.pos, 0);
    }
    EXPECT_EQ(index.buildFromContainer(format.get(), static_cast<int32_t>(format->nb_streams)), -1);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SeekIndexFixtureTest,
                         ::testing::Values("h264_closed.mkv", "h264_closed.mp4"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).substr(12);
                         });

}  // namespace
}  // namespace kestrova
