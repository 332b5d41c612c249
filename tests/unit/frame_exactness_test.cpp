// The frame-exactness test: every frame of every video fixture is decoded in
// order and hashed, then requested again in reverse and in shuffled order from
// fresh decoders, and the answers are compared with the sequential ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "containers/clip_description.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "fixtures.h"
#include "video/video_decoder.h"

namespace kestrova {
namespace {

struct ExactnessCase {
    const char* name;
    // Every request must give exactly the frame asked for. The others may
    // give a nearest frame, but must say so.
    bool mustBeExact;
};

const ExactnessCase kCases[] = {
    // Intra-only codecs.
    {"h264_intra.mkv", true},
    {"prores_hq.mov", true},
    {"prores4444_alpha.mov", true},
    {"dnxhr.mxf", true},
    {"ffv1.mkv", true},
    {"mjpeg.avi", true},
    {"still.png", true},
    // Closed GOP in indexed containers.
    {"h264_closed.mkv", true},
    {"h264_closed.mp4", true},
    {"h264_closed.mov", true},
    {"hevc10.mkv", true},
    {"hevc10.mp4", true},
    {"hevc10_pq.mkv", true},
    {"mpeg2_tff.mxf", true},
    {"vp9.webm", true},
    {"vp9.mp4", true},
    {"av1.mkv", true},
    {"multi_2v3a.mkv", true},
    {"lut_attachment.mkv", true},
    {"stereo_pair.nut", true},
    // MPEG-TS seeks land on any packet near the decoding time, and open GOPs
    // start with pictures that need the GOP before: both need the seek to
    // aim early enough.
    {"h264_closed.ts", true},
    {"h264_open.ts", true},
    {"h264_open.mkv", true},
    {"mpeg2_tff.ts", true},
    // No timestamps at all; and pictures closer than one frame period, so
    // that some indices hold two pictures and others none.
    {"h264_elementary.h264", false},
    {"vfr.mkv", false},
};

// 64-bit FNV-1a.
struct Fnv1a {
    uint64_t value = 0xcbf29ce484222325ULL;
    void add(const uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            value = (value ^ bytes[i]) * 0x100000001b3ULL;
        }
    }
};

// The hash of the visible part of every plane: rows of the plane's height,
// each as many bytes as the plane's width in samples times its sample step.
uint64_t hashPicture(const AVFrame* frame) {
    Fnv1a hash;
    if (frame == nullptr || frame->data[0] == nullptr) {
        return 0;
    }
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    const AVPixFmtDescriptor* descriptor =
        fn.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (descriptor == nullptr || (descriptor->flags & AV_PIX_FMT_FLAG_HWACCEL) != 0) {
        return 0;
    }
    int maxStep[4] = {};
    for (int c = 0; c < descriptor->nb_components; ++c) {
        const AVComponentDescriptor& component = descriptor->comp[c];
        maxStep[component.plane] = std::max(maxStep[component.plane], component.step);
    }
    for (int plane = 0; plane < 4; ++plane) {
        if (maxStep[plane] == 0 || frame->data[plane] == nullptr) {
            continue;
        }
        const bool chroma = plane == 1 || plane == 2;
        const int shiftW = chroma ? descriptor->log2_chroma_w : 0;
        const int shiftH = chroma ? descriptor->log2_chroma_h : 0;
        const int width = -((-frame->width) >> shiftW);
        const int rows = -((-frame->height) >> shiftH);
        const std::size_t bytes = (descriptor->flags & AV_PIX_FMT_FLAG_BITSTREAM) != 0
                                      ? (static_cast<std::size_t>(width) * maxStep[plane] + 7) / 8
                                      : static_cast<std::size_t>(width) * maxStep[plane];
        for (int y = 0; y < rows; ++y) {
            hash.add(frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane],
                     bytes);
        }
    }
    if ((descriptor->flags & AV_PIX_FMT_FLAG_PAL) != 0 && frame->data[1] != nullptr) {
        hash.add(frame->data[1], 256 * 4);
    }
    return hash.value;
}

struct Delivery {
    DecodeStatus status = DecodeStatus::NotOpen;
    int64_t frameIndex = -1;
    bool notExact = false;
    bool repeatedLastGood = false;
    bool black = false;
    uint64_t hash = 0;

    bool exactFor(int64_t n) const {
        return status == DecodeStatus::Ok && !notExact && !repeatedLastGood && !black &&
               frameIndex == n;
    }
};

// A probed clip and a fresh decoder on its first video stream.
struct Reader {
    ClipDescription clip;
    VideoDecoder decoder;

    bool open(const std::string& name) {
        const ProbeResult probed = clip.probe(test::fixturePath(name));
        if (probed.status != ProbeStatus::Ok || clip.videoStreams().empty()) {
            ADD_FAILURE() << name << ": " << statusName(probed.status) << " " << probed.detail;
            return false;
        }
        return decoder.open(clip, clip.videoStreams()[0]->index, 0, false, 0,
                            ThreadRole::Foreground);
    }
    Delivery request(int64_t n) {
        const FrameResult result = decoder.frameAt(n);
        Delivery delivery{result.status,           result.frameIndex, result.notExact,
                          result.repeatedLastGood, result.black,      0};
        if (result.status == DecodeStatus::Ok) {
            delivery.hash = hashPicture(decoder.currentFrame());
        }
        return delivery;
    }
};

struct ReportRow {
    std::string fixture;
    int64_t frames = 0;
    int64_t exact = 0;
    int64_t inexact = 0;
    int64_t seeks = 0;
};

std::vector<ReportRow>& reportRows() {
    static std::vector<ReportRow> rows;
    return rows;
}

// Prints what the fixtures achieved once every test has run.
class ExactnessReport : public ::testing::Environment {
  public:
    void TearDown() override {
        if (reportRows().empty()) {
            return;
        }
        std::printf("\n%-22s %7s %7s %9s %7s\n", "fixture", "frames", "exact", "inexact", "seeks");
        for (const ReportRow& row : reportRows()) {
            std::printf("%-22s %7lld %7lld %9lld %7lld\n", row.fixture.c_str(),
                        static_cast<long long>(row.frames), static_cast<long long>(row.exact),
                        static_cast<long long>(row.inexact), static_cast<long long>(row.seeks));
        }
        std::fflush(stdout);
    }
};
[[maybe_unused]] ::testing::Environment* const kReport =
    ::testing::AddGlobalTestEnvironment(new ExactnessReport);

class FrameExactnessTest : public ::testing::TestWithParam<ExactnessCase> {};

TEST_P(FrameExactnessTest, RandomAccessMatchesSequentialDecode) {
    ASSERT_TRUE(ffmpeg::FfmpegRuntime::instance().available());
    const ExactnessCase& c = GetParam();
    int64_t manifestFrames = -1;
    for (const test::FixtureEntry& entry : test::fixtureManifest()) {
        if (entry.name == c.name) {
            manifestFrames = entry.frames;
        }
    }
    ASSERT_GT(manifestFrames, 0) << c.name << " is not a video fixture of the manifest";

    // (a) Every frame in order.
    std::vector<Delivery> reference;
    {
        Reader reader;
        ASSERT_TRUE(reader.open(c.name));
        for (int64_t n = 0; n <= 4 * manifestFrames; ++n) {
            const Delivery delivery = reader.request(n);
            if (delivery.status != DecodeStatus::Ok || delivery.repeatedLastGood) {
                break;
            }
            reference.push_back(delivery);
        }
    }
    const auto frames = static_cast<int64_t>(reference.size());
    ASSERT_GT(frames, 0);
    if (c.mustBeExact) {
        EXPECT_EQ(frames, manifestFrames);
        for (int64_t n = 0; n < frames; ++n) {
            EXPECT_TRUE(reference[n].exactFor(n)) << "sequential frame " << n;
        }
    }

    // (b) reverse and (c) shuffled, each from a fresh decoder.
    std::vector<int64_t> reverse(frames);
    std::iota(reverse.rbegin(), reverse.rend(), 0);
    std::vector<int64_t> shuffled(frames);
    std::iota(shuffled.begin(), shuffled.end(), 0);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(0x6b657374));

    ReportRow row{c.name, frames, 0, 0, 0};
    std::vector<bool> exactEverywhere(frames, true);
    int failures = 0;
    for (const auto& [pass, order] :
         {std::pair{"reverse", &reverse}, std::pair{"shuffled", &shuffled}}) {
        Reader reader;
        ASSERT_TRUE(reader.open(c.name));
        for (const int64_t n : *order) {
            const Delivery got = reader.request(n);
            const Delivery& want = reference[n];
            const bool exact = got.exactFor(n);
            exactEverywhere[n] = exactEverywhere[n] && exact;
            bool fault = false;
            if (c.mustBeExact) {
                fault = !exact || got.hash != want.hash;
            } else if (exact) {
                // A frame that claims to be n must be the frame n of the sequential decode.
                fault = !want.exactFor(n) || got.hash != want.hash;
            }
            if (fault && ++failures <= 8) {
                ADD_FAILURE() << c.name << " " << pass << " request " << n << ": status "
                              << statusName(got.status) << ", frame " << got.frameIndex
                              << (got.notExact ? " notExact" : "")
                              << (got.repeatedLastGood ? " repeatedLastGood" : "")
                              << (got.black ? " black" : "")
                              << (got.hash == want.hash ? ", same hash" : ", other hash")
                              << " (sequential: frame " << want.frameIndex
                              << (want.notExact ? " notExact" : "") << ")";
            }
        }
        row.seeks += reader.decoder.seekCount();
    }
    EXPECT_EQ(failures, 0);
    row.exact = std::count(exactEverywhere.begin(), exactEverywhere.end(), true);
    row.inexact = frames - row.exact;
    reportRows().push_back(row);
}

std::string caseName(const ::testing::TestParamInfo<ExactnessCase>& info) {
    std::string name = info.param.name;
    std::replace_if(
        name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FrameExactnessTest, ::testing::ValuesIn(kCases), caseName);

// A new video fixture must be added to the table above.
TEST(FrameExactnessCoverage, EveryVideoFixtureIsChecked) {
    std::set<std::string> table;
    for (const ExactnessCase& c : kCases) {
        table.insert(c.name);
    }
    std::set<std::string> manifest;
    for (const test::FixtureEntry& entry : test::fixtureManifest()) {
        if (entry.kind == "video" || entry.kind == "still") {
            manifest.insert(entry.name);
        }
    }
    EXPECT_FALSE(manifest.empty());
    EXPECT_EQ(table, manifest);
}

}  // namespace
}  // namespace kestrova
