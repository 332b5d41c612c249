#include "video/seek_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "containers/clip_description.h"
#include "fixtures.h"
#include "host/retarget_accelerator.h"
#include "test_support.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Load = SeekIndexLoadStatus;

std::vector<SeekIndexEntry> keyframes(int count) {
    std::vector<SeekIndexEntry> entries;
    for (int i = 0; i < count; ++i) {
        entries.push_back({i * 3000, 4096 + i * 100000, i * 12});
    }
    return entries;
}

struct AcceleratorFile {
    std::string magic = "KSTX";
    uint32_t version = 1;
    ContentState state{123456, 13'300'000'000, 2};
    int32_t streamIndex = 1;
    uint32_t announced = 5;
    std::vector<SeekIndexEntry> entries = keyframes(5);
    std::size_t keepBytes = std::string::npos;  // cuts the file short
};

template <typename... T>
void put(std::string& out, T... values) {
    const auto one = [&out](auto value) {
        for (std::size_t i = 0; i < sizeof(value); ++i) {
            out.push_back(static_cast<char>(static_cast<uint64_t>(value) >> (8 * i)));
        }
    };
    (one(values), ...);
}

void write(const fs::path& path, const AcceleratorFile& f) {
    std::string bytes = f.magic;
    put(bytes, f.version, f.state.size, f.state.modTime, f.state.streamCount, f.streamIndex,
        f.announced);
    for (const SeekIndexEntry& e : f.entries) {
        put(bytes, e.pts, e.pos, e.frameIndex);
    }
    bytes.resize(std::min(bytes.size(), f.keepBytes));
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

class SeekIndexTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    test::LogCapture log_;
    const fs::path path_ = dir_.path() / "clip.kstidx";
};

TEST_F(SeekIndexTest, RejectsWhatDoesNotBelong) {
    using F = AcceleratorFile&;
    constexpr Load kCorrupt = Load::CorruptOrTruncated, kOther = Load::ContentStateMismatch;
    const std::pair<void (*)(F), Load> cases[] = {
        {[](F f) { f.magic = "KSTY"; }, kCorrupt},
        {[](F f) { f.version = 2; }, Load::VersionMismatch},
        {[](F f) { f.state.size += 1; }, kOther},
        {[](F f) { f.announced = kSeekIndexMaxEntries + 1; }, kCorrupt},
        {[](F f) { f.announced = 6; }, kCorrupt},                // one entry missing
        {[](F f) { f.keepBytes = 36 + 5 * 24 - 8; }, kCorrupt},  // last entry cut
        {[](F f) { f.keepBytes = 4; }, kCorrupt},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        AcceleratorFile file;
        cases[i].first(file);
        write(path_, file);
        SeekIndex index;
        index.entries = keyframes(3);
        EXPECT_EQ(index.load(path_, ContentState{123456, 13'300'000'000, 2}), cases[i].second) << i;
        EXPECT_TRUE(index.entries.empty()) << i;
    }
    EXPECT_EQ(
        log_.count("content state mismatch for " + path_.string() +
                   " (size 123457 vs 123456, mod 13300000000 vs 13300000000, streams 2 vs 2)"),
        1);
}

TEST_F(SeekIndexTest, GoodFileLoadsEveryEntry) {
    AcceleratorFile file;
    file.entries = keyframes(40);
    file.announced = 40;
    file.streamIndex = 3;
    write(path_, file);
    SeekIndex index;
    ASSERT_EQ(index.load(path_, file.state), Load::Ok);
    EXPECT_EQ(index.streamIndex, 3);
    ASSERT_EQ(index.entries.size(), 40u);
    for (std::size_t i = 0; i < 40; ++i) {
        const SeekIndexEntry &got = index.entries[i], &want = file.entries[i];
        EXPECT_EQ(std::tie(got.pts, got.pos, got.frameIndex),
                  std::tie(want.pts, want.pos, want.frameIndex))
            << i;
    }
    EXPECT_EQ(index.load(dir_.path() / "absent.kstidx", file.state), Load::FileNotFound);
    EXPECT_TRUE(index.entries.empty());
}

TEST(SeekIndexLookupTest, PositionOfTheKeyframeAtOrBefore) {
    SeekIndex index;
    EXPECT_EQ(index.positionFor(0), -1);
    index.entries = {{100, 1000, 0}, {200, 2000, 10}, {300, 3000, 20}};
    for (const auto& [at, position] :
         {std::pair{99, 1000}, {199, 1000}, {200, 2000}, {1 << 30, 3000}}) {
        EXPECT_EQ(index.positionFor(at), position) << at;
    }
}

TEST(SeekIndexLookupTest, KeyframeForAFrameAndTheTypicalSpacing) {
    SeekIndex index;
    EXPECT_FALSE(index.entryForFrame(5).has_value());
    EXPECT_EQ(index.medianSpacing(), 0);
    index.entries = {{0, 10, 0}, {1, 20, 10}, {2, 30, 20}, {3, 40, 50}};
    EXPECT_EQ(index.entryForFrame(-3)->pos, 10);  // before every entry: the first
    EXPECT_EQ(index.entryForFrame(49)->pos, 30);
    EXPECT_EQ(index.medianSpacing(), 10);  // differences 10, 10, 30
}

// A container's own index starts at frame 0 however its timestamps start.
TEST(SeekIndexContainerTest, KeyframesFromTheContainerIndex) {
    ClipDescription clip;
    ASSERT_EQ(clip.probe(test::fixturePath("h264_closed.mkv")).status, ProbeStatus::Ok);
    SeekIndex index;
    EXPECT_EQ(index.buildFromContainer(nullptr, 0), -1);
    ASSERT_GT(index.buildFromContainer(clip.demuxer(), 0), 0);
    EXPECT_TRUE(index.fromContainer);
    EXPECT_EQ(index.entries.front().frameIndex, 0);
    EXPECT_TRUE(std::is_sorted(index.entries.begin(), index.entries.end(),
                               [](const auto& a, const auto& b) { return a.pts < b.pts; }));
}

// What the index program writes is byte for byte the layout the reader takes.
TEST_F(SeekIndexTest, SavedFileHasTheReadersLayout) {
    AcceleratorFile file;
    file.streamIndex = 2;
    write(path_, file);
    SeekIndex index;
    index.streamIndex = file.streamIndex;
    index.entries = file.entries;
    const fs::path saved = dir_.path() / "saved.kstidx";
    ASSERT_TRUE(index.save(saved, file.state));
    EXPECT_EQ(test::readFile(saved), test::readFile(path_));
    SeekIndex loaded;
    ASSERT_EQ(loaded.load(saved, file.state), Load::Ok);
    EXPECT_EQ(loaded.streamIndex, 2);
    EXPECT_EQ(loaded.entries.size(), file.entries.size());
    EXPECT_FALSE(index.save(dir_.path() / "no-folder" / "clip.kstidx", file.state));
}

TEST_F(SeekIndexTest, FilesBesideTheMedia) {
    EXPECT_EQ(acceleratorPathFor("/media/a/clip.v2.mxf"), fs::path("/media/a/clip.v2.kstidx"));
    EXPECT_EQ(acceleratorPathFor("/media/a/clip"), fs::path("/media/a/clip.kstidx"));
    const fs::path media = dir_.path() / "clip.mov";
    std::ofstream(media, std::ios::binary) << std::string(1234, 'x');
    const ContentState state = contentStateOf(media);
    EXPECT_EQ(state.size, 1234);
    EXPECT_GT(state.modTime, 13'222'310'400);  // 2020-01-01 in seconds since 1601
    const ContentState missing = contentStateOf(dir_.path() / "absent.mov");
    EXPECT_EQ(missing.size, 0);
}

TEST_F(SeekIndexTest, RetargetSelectorChecksBothFiles) {
    const fs::path media = dir_.path() / "clip.mov";
    std::ofstream(media) << "m";
    std::ofstream(path_) << "a";
    const std::u16string m = media.u16string(), a = path_.u16string(),
                         absent = (dir_.path() / "absent.mov").u16string(), empty;
    const std::tuple<const char16_t*, const char16_t*, host::Result> cases[] = {
        {m.c_str(), a.c_str(), host::imNoErr},        {absent.c_str(), a.c_str(), host::imFailure},
        {m.c_str(), absent.c_str(), host::imFailure}, {empty.c_str(), a.c_str(), host::imFailure},
        {m.c_str(), nullptr, host::imFailure},
    };
    for (const auto& [mediaPath, acceleratorPath, expected] : cases) {
        unsigned char record[host::retargetrec::kSize] = {};
        host::writeField(record, host::retargetrec::kMediaPath, mediaPath);
        host::writeField(record, host::retargetrec::kAcceleratorPath, acceleratorPath);
        EXPECT_EQ(host::imRetargetAcceleratorHandler(record), expected);
    }
    EXPECT_EQ(host::imRetargetAcceleratorHandler(nullptr), host::imUnsupported);
    EXPECT_NE(log_.text().find("imRetargetAccelerator: retargeted " + path_.string() + " -> " +
                               media.string()),
              std::string::npos);
}

}  // namespace
}  // namespace kestrova
