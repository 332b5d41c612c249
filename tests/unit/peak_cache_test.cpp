#include "audio/peak_cache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures.h"
#include "support/file_replace.h"
#include "support/little_endian.h"
#include "test_support.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Load = PeakLoadResult;

const ContentState kState{987654, 13'300'000'123, 3};

// Point i of channel c: distinct, and channel 1 mirrors channel 0.
std::vector<std::vector<PeakPoint>> ramp(int32_t channels, int64_t count) {
    std::vector<std::vector<PeakPoint>> points(static_cast<std::size_t>(channels));
    for (int32_t c = 0; c < channels; ++c) {
        for (int64_t i = 0; i < count; ++i) {
            const float v = 0.01f * static_cast<float>(i + 1) * (c % 2 ? -1.0f : 1.0f);
            points[static_cast<std::size_t>(c)].push_back({-std::abs(v) / 2, v});
        }
    }
    return points;
}

// A cache file as bytes, with every header field open to damage.
struct CacheFile {
    std::string magic = "KSTP";
    uint32_t version = 1;
    ContentState state = kState;
    int32_t streamIndex = 1;
    uint32_t channels = 2;
    float pointsPerSecond = 200;
    int64_t pointCount = 4;
    std::size_t dataPoints = 8;  // points written after the header
    std::size_t keepBytes = std::string::npos;

    std::string bytes() const {
        std::string out = magic;
        appendLittleEndian(out, version);
        appendLittleEndian(out, state.size);
        appendLittleEndian(out, state.modTime);
        appendLittleEndian(out, state.streamCount);
        appendLittleEndian(out, streamIndex);
        appendLittleEndian(out, channels);
        appendLittleEndian(out, pointsPerSecond);
        appendLittleEndian(out, pointCount);
        for (std::size_t i = 0; i < dataPoints; ++i) {
            appendLittleEndian(out, -0.25f);
            appendLittleEndian(out, 0.5f);
        }
        out.resize(std::min(out.size(), keepBytes));
        return out;
    }
};

// Lines of `text` at `tag` ("WARN", "DBG ", "INFO") that contain `message`.
int linesAt(const std::string& text, const std::string& tag, const std::string& message) {
    std::istringstream lines(text);
    int found = 0;
    for (std::string line; std::getline(lines, line);) {
        found += line.find("[" + tag + "]") != std::string::npos &&
                 line.find(message) != std::string::npos;
    }
    return found;
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

class PeakCacheFileTest : public ::testing::Test {
  protected:
    // Everything the log gained while `action` ran.
    template <typename F>
    std::string logged(F action) {
        const std::size_t before = log_.text().size();
        action();
        return log_.text().substr(before);
    }

    test::TempDir dir_;
    test::LogCapture log_;
    const fs::path path_ = dir_.path() / "clip.mov.a1.kstpk";
};

TEST(PeakCachePathTest, NamedAfterMediaAndStream) {
    EXPECT_EQ(peakCachePathFor("/m/clip.mov", 1), fs::path("/m/clip.mov.a1.kstpk"));
    EXPECT_EQ(peakCachePathFor("/m/clip.mov", 12), fs::path("/m/clip.mov.a12.kstpk"));
    EXPECT_EQ(peakCachePathFor("/m/clip.mov", -3), fs::path("/m/clip.mov.a0.kstpk"));
    EXPECT_TRUE(peakCachePathFor("", 1).empty());
}

TEST_F(PeakCacheFileTest, SavedCacheLoadsBackExactly) {
    PeakCache saved;
    saved.set(1, 3, 200, 50, ramp(3, 50));
    ASSERT_TRUE(saved.save(path_, kState));
    EXPECT_EQ(fs::file_size(path_), 48u + 3 * 50 * 8);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1)
        << "only the cache file, no temporary";

    PeakCache loaded;
    ASSERT_EQ(loaded.load(path_, kState, 1), Load::Loaded);
    EXPECT_EQ(loaded.streamIndex(), 1);
    EXPECT_EQ(loaded.channels(), 3);
    EXPECT_EQ(loaded.pointsPerSecond(), 200.0f);
    EXPECT_EQ(loaded.pointCount(), 50);
    for (int32_t c = 0; c < 3; ++c) {
        ASSERT_EQ(loaded.points(c).size(), 50u);
        for (std::size_t i = 0; i < 50; ++i) {
            EXPECT_EQ(loaded.points(c)[i].minimum, saved.points(c)[i].minimum);
            EXPECT_EQ(loaded.points(c)[i].maximum, saved.points(c)[i].maximum);
        }
    }
    // Any stream is accepted when none is asked for.
    EXPECT_EQ(loaded.load(path_, kState, -1), Load::Loaded);
    EXPECT_EQ(linesAt(log_.text(), "INFO",
                      "PeakCache::save: wrote 3 ch x 50 points to " + path_.string()),
              1);
}

TEST_F(PeakCacheFileTest, RejectsWhatDoesNotBelongAndSaysWhyWhereItMatters) {
    using F = CacheFile&;
    const std::string at = path_.string();
    struct Case {
        const char* name;
        void (*damage)(F);
        int32_t requested;
        Load expected;
        std::string logLine;  // "tag|message"; empty: nothing logged
    };
    const Case cases[] = {
        {"bad magic", [](F f) { f.magic = "KSTX"; }, 1, Load::Unreadable, ""},
        {"only magic", [](F f) { f.keepBytes = 6; }, 1, Load::Unreadable, ""},
        {"version 2", [](F f) { f.version = 2; }, 1, Load::WrongVersion, ""},
        {"short header", [](F f) { f.keepBytes = 40; }, 1, Load::Unreadable, ""},
        {"media touched", [](F f) { f.state.modTime += 1; }, 1, Load::Stale,
         "DBG |PeakCache::load: content state mismatch for " + at},
        {"stream count", [](F f) { f.state.streamCount = 4; }, 1, Load::Stale,
         "DBG |content state mismatch"},
        {"other stream", [](F) {}, 2, Load::Stale,
         "WARN|PeakCache::load: " + at +
             " holds peaks for audio stream 1 but stream 2 was asked for -- rejecting it rather "
             "than serving the wrong waveform"},
        {"no channels", [](F f) { f.channels = 0; }, 1, Load::Unreadable, ""},
        {"257 channels", [](F f) { f.channels = 257; }, 1, Load::Unreadable, ""},
        {"no points", [](F f) { f.pointCount = 0; }, 1, Load::Unreadable, ""},
        {"negative points", [](F f) { f.pointCount = -4; }, 1, Load::Unreadable, ""},
        {"too many points", [](F f) { f.pointCount = kPeakCacheMaxPoints + 1; }, 1,
         Load::Unreadable, ""},
        {"zero rate", [](F f) { f.pointsPerSecond = 0; }, 1, Load::Unreadable, ""},
        {"NaN rate", [](F f) { f.pointsPerSecond = std::nanf(""); }, 1, Load::Unreadable, ""},
        {"infinite rate", [](F f) { f.pointsPerSecond = INFINITY; }, 1, Load::Unreadable, ""},
        {"one byte short", [](F f) { f.keepBytes = 48 + 8 * 8 - 1; }, 1, Load::Unreadable,
         "WARN|PeakCache::load: " + at +
             " size 111 does not match the 2 ch x 4 point header (expected 112 bytes) -- "
             "rejecting rather than allocating from an untrusted dimension"},
        {"one point extra", [](F f) { f.dataPoints = 9; }, 1, Load::Unreadable,
         "WARN|size 120 does not match"},
        {"huge promise", [](F f) { f.pointCount = kPeakCacheMaxPoints; }, 1, Load::Unreadable,
         "WARN|expected 32000000048 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CacheFile file;
        c.damage(file);
        writeBytes(path_, file.bytes());
        PeakCache cache;
        cache.set(5, 1, 100, 3, ramp(1, 3));
        const std::string added =
            logged([&] { EXPECT_EQ(cache.load(path_, kState, c.requested), c.expected); });
        EXPECT_TRUE(cache.empty());
        EXPECT_EQ(cache.streamIndex(), -1);
        if (c.logLine.empty()) {
            EXPECT_EQ(added, "");
        } else {
            const std::size_t bar = c.logLine.find('|');
            EXPECT_EQ(linesAt(added, c.logLine.substr(0, bar), c.logLine.substr(bar + 1)), 1)
                << added;
        }
    }
    PeakCache cache;
    EXPECT_EQ(cache.load(dir_.path() / "absent.kstpk", kState, 1), Load::Unreadable);
}

TEST_F(PeakCacheFileTest, EmptyCacheWritesNoFile) {
    const std::string added = logged([&] { EXPECT_FALSE(PeakCache().save(path_, kState)); });
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_EQ(linesAt(added, "DBG ", "PeakCache::save: nothing to save (empty cache)"), 1);
}

// A save that cannot finish leaves the previous file loadable and no
// temporary behind.
TEST_F(PeakCacheFileTest, FailedSaveKeepsTheOldFile) {
    PeakCache old;
    old.set(1, 2, 200, 4, ramp(2, 4));
    ASSERT_TRUE(old.save(path_, kState));
    PeakCache replacement;
    replacement.set(1, 1, 200, 9, ramp(1, 9));

    // The temporary's name is taken by a folder: the write cannot start.
    fs::create_directory(temporaryPathFor(path_));
    const std::string added = logged([&] { EXPECT_FALSE(replacement.save(path_, kState)); });
    EXPECT_EQ(linesAt(added, "WARN",
                      "PeakCache::save: cannot open " + path_.string() +
                          " for writing (cache not persisted)"),
              1);
    fs::remove(temporaryPathFor(path_));
    PeakCache loaded;
    ASSERT_EQ(loaded.load(path_, kState, 1), Load::Loaded);
    EXPECT_EQ(loaded.pointCount(), 4);

    // The target is a folder that cannot be replaced: the write completes
    // but the rename fails, and the temporary goes.
    const fs::path folder = dir_.path() / "busy.kstpk";
    fs::create_directories(folder / "inside");
    EXPECT_FALSE(replacement.save(folder, kState));
    EXPECT_FALSE(fs::exists(temporaryPathFor(folder)));
    EXPECT_TRUE(fs::is_directory(folder / "inside"));
}

TEST(FileReplaceTest, AWriterThatFailsLeavesTargetAndNoTemporary) {
    test::TempDir dir;
    const fs::path target = dir.path() / "file.bin";
    writeBytes(target, "old");
    const auto result = writeFileReplacing(target, [](std::ostream& out) {
        out << "partial";
        return false;
    });
    EXPECT_EQ(result, FileReplaceResult::WriteFailed);
    EXPECT_EQ(test::readFile(target), "old");
    EXPECT_FALSE(fs::exists(temporaryPathFor(target)));
    EXPECT_EQ(writeFileReplacing(target, [](std::ostream& out) { return bool(out << "new"); }),
              FileReplaceResult::Written);
    EXPECT_EQ(test::readFile(target), "new");
}

// ---- query ----

struct Query {
    const char* name;
    int64_t start;
    double rate;
    int32_t count;
    std::vector<float> maxima;  // channel 0
    std::vector<float> minima;
};

class PeakCacheQueryTest : public ::testing::TestWithParam<Query> {};

// Six points at 200 per second; channel 0 maxima 0.1..0.6, minima -0.05..-0.3.
PeakCache sixPoints() {
    std::vector<std::vector<PeakPoint>> points(2);
    for (int i = 0; i < 6; ++i) {
        points[0].push_back({-0.05f * float(i + 1), 0.1f * float(i + 1)});
        points[1].push_back({-2.0f, 1.5f});  // overs from a loud float stream
    }
    PeakCache cache;
    cache.set(0, 2, 200, 6, points);
    return cache;
}

TEST_P(PeakCacheQueryTest, ResamplesChannelZero) {
    const Query& q = GetParam();
    const PeakCache cache = sixPoints();
    std::vector<float> max0(std::size_t(q.count), 9.0f), min0(max0), max1(max0), min1(max0);
    float* maxima[] = {max0.data(), max1.data()};
    float* minima[] = {min0.data(), min1.data()};
    ASSERT_TRUE(cache.query(q.start, q.rate, q.count, 2, maxima, minima));
    for (std::size_t i = 0; i < max0.size(); ++i) {
        EXPECT_FLOAT_EQ(max0[i], q.maxima[i]) << i;
        EXPECT_FLOAT_EQ(min0[i], q.minima[i]) << i;
        const bool past = q.maxima[i] == 0;
        EXPECT_EQ(max1[i], past ? 0.0f : 1.0f) << i;  // clamped
        EXPECT_EQ(min1[i], past ? 0.0f : -1.0f) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, PeakCacheQueryTest,
    ::testing::Values(
        Query{"same_rate", 0, 200, 3, {0.1f, 0.2f, 0.3f}, {-0.05f, -0.1f, -0.15f}},
        // A ratio just under 1 serves point 0 twice.
        Query{"within_tolerance", 0, 200.01, 2, {0.1f, 0.1f}, {-0.05f, -0.05f}},
        Query{"pairs_merged", 0, 100, 3, {0.2f, 0.4f, 0.6f}, {-0.1f, -0.2f, -0.3f}},
        Query{"start_offset", 1, 100, 2, {0.4f, 0.6f}, {-0.2f, -0.3f}},
        Query{"past_the_end_is_zero", 1, 100, 4, {0.4f, 0.6f, 0, 0}, {-0.2f, -0.3f, 0, 0}},
        Query{"far_start", int64_t{1} << 60, 100, 2, {0, 0}, {0, 0}},
        Query{"quarters_short_tail", 0, 50, 2, {0.4f, 0.6f}, {-0.2f, -0.3f}},
        Query{"uneven_last_bucket", 0, 80, 3, {0.2f, 0.5f, 0.6f}, {-0.1f, -0.25f, -0.3f}}),
    [](const ::testing::TestParamInfo<Query>& info) { return std::string(info.param.name); });

TEST(PeakCacheQueryRejectTest, MalformedOrTooFineRequestsFail) {
    const PeakCache cache = sixPoints();
    float a[4] = {}, b[4] = {};
    float* maxima[] = {a, a};
    float* minima[] = {b, b};
    EXPECT_FALSE(cache.query(0, 400, 4, 2, maxima, minima)) << "finer than the cache";
    EXPECT_FALSE(cache.query(0, 200.1, 4, 2, maxima, minima));
    EXPECT_FALSE(cache.query(0, 0, 4, 2, maxima, minima));
    EXPECT_FALSE(cache.query(0, std::nan(""), 4, 2, maxima, minima));
    EXPECT_FALSE(cache.query(-1, 100, 4, 2, maxima, minima));
    EXPECT_FALSE(cache.query(0, 100, 0, 2, maxima, minima));
    EXPECT_FALSE(cache.query(0, 100, 4, 0, maxima, minima));
    EXPECT_FALSE(cache.query(0, 100, 4, 2, nullptr, minima));
    EXPECT_FALSE(cache.query(0, 100, 4, 2, maxima, nullptr));
    EXPECT_FALSE(PeakCache().query(0, 100, 4, 2, maxima, minima));
}

TEST(PeakCacheQueryChannelsTest, NullAndSurplusChannelsAreLeftAlone) {
    const PeakCache cache = sixPoints();
    float max0[2] = {9, 9}, min1[2] = {9, 9}, max2[2] = {9, 9}, min2[2] = {9, 9};
    float* maxima[] = {max0, nullptr, max2};
    float* minima[] = {nullptr, min1, min2};
    ASSERT_TRUE(cache.query(0, 100, 2, 3, maxima, minima));
    EXPECT_FLOAT_EQ(max0[1], 0.4f);
    EXPECT_EQ(min1[0], -1.0f);
    EXPECT_EQ(max2[0], 9.0f) << "the cache has two channels";
    EXPECT_EQ(min2[1], 9.0f);
}

TEST(PeakCacheSetTest, DimensionsAlwaysDescribeTheArrays) {
    PeakCache cache;
    cache.set(2, 2, 200, 5, ramp(1, 3));
    ASSERT_FALSE(cache.empty());
    EXPECT_EQ(cache.points(1).size(), 5u);
    EXPECT_EQ(cache.points(0).size(), 5u);
    EXPECT_EQ(cache.points(0)[4].maximum, 0.0f) << "padded with silence";
    EXPECT_TRUE(cache.points(2).empty());
    cache.set(2, 0, 200, 5, ramp(1, 5));
    EXPECT_TRUE(cache.empty());
    EXPECT_FALSE(cache.query(0, 100, 1, 1, nullptr, nullptr));
}

TEST(ClampToUnitTest, KeepsWaveformsInRange) {
    for (const auto& [in, out] : {std::pair{0.5f, 0.5f},
                                  {1.0f, 1.0f},
                                  {1.5f, 1.0f},
                                  {-7.0f, -1.0f},
                                  {std::nanf(""), 0.0f},
                                  {-INFINITY, -1.0f}}) {
        EXPECT_EQ(clampToUnit(in), out) << in;
    }
}

}  // namespace
}  // namespace kestrova
