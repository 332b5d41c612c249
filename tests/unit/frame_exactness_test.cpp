// The frame-exactness test: every frame of every video fixture is decoded in
// order and hashed, then requested again in reverse and in shuffled order from
// fresh decoders, and the answers are compared with the sequential ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

// Every video fixture of the manifest must give exactly the frame asked for (intra-only, closed
// GOPs in indexed containers, MPEG-TS and open GOPs, where the seek must aim early) but these,
// which may give a nearest frame if they say so: no timestamps; pictures closer than a frame.
const std::set<std::string> kMayBeNearest = {"h264_elementary.h264", "vfr.mkv"};

struct ExactnessCase {
    std::string name;
    bool mustBeExact;
};

std::vector<ExactnessCase> allCases() {
    std::vector<ExactnessCase> cases;
    for (const test::FixtureEntry& entry : test::fixtureManifest()) {
        if (entry.kind == "video" || entry.kind == "still") {
            cases.push_back({entry.name, kMayBeNearest.count(entry.name) == 0});
        }
    }
    return cases;
}

// 64-bit FNV-1a of the visible area of every plane: rows of the plane's height, each as many
// bytes as the plane's width in samples times its sample step.
uint64_t hashPicture(const AVFrame* frame) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    const auto add = [&hash](const uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
        }
    };
    const AVPixFmtDescriptor* descriptor =
        frame == nullptr || frame->data[0] == nullptr
            ? nullptr
            : ffmpeg::FfmpegRuntime::instance().fn().av_pix_fmt_desc_get(
                  static_cast<AVPixelFormat>(frame->format));
    if (descriptor == nullptr || (descriptor->flags & AV_PIX_FMT_FLAG_HWACCEL) != 0) {
        return 0;
    }
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    const auto format = static_cast<AVPixelFormat>(frame->format);
    for (int plane = 0; plane < 4 && frame->data[plane] != nullptr; ++plane) {
        // The visible bytes of a row, packed formats included; never the padding.
        const int bytes = fn.av_image_get_linesize(format, frame->width, plane);
        if (bytes <= 0) {
            break;
        }
        const int shiftH = plane == 1 || plane == 2 ? descriptor->log2_chroma_h : 0;
        const int rows = -((-frame->height) >> shiftH);
        for (int y = 0; y < rows; ++y) {
            add(frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane],
                static_cast<std::size_t>(bytes));
        }
    }
    if ((descriptor->flags & AV_PIX_FMT_FLAG_PAL) != 0 && frame->data[1] != nullptr) {
        add(frame->data[1], 256 * 4);
    }
    return hash;
}

// A decoder's answer and the hash of the picture it delivered.
struct Delivery : FrameResult {
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
        EXPECT_EQ(probed.status, ProbeStatus::Ok) << name << ": " << probed.detail;
        return probed.status == ProbeStatus::Ok && !clip.videoStreams().empty() &&
               decoder.open(clip, clip.videoStreams()[0]->index, 0, false, 0,
                            ThreadRole::Foreground);
    }
    Delivery request(int64_t n) {
        Delivery got{decoder.frameAt(n)};
        got.hash = got.status == DecodeStatus::Ok ? hashPicture(decoder.currentFrame()) : 0;
        return got;
    }
};

struct ReportRow {
    std::string fixture;
    long long frames = 0, exact = 0, inexact = 0, seeks = 0;
};
std::vector<ReportRow> reportRows;

// Prints what the fixtures achieved once every test has run.
class ExactnessReport : public ::testing::Environment {
  public:
    void TearDown() override {
        for (const ReportRow& r : reportRows) {
            std::printf("%-22s %5lld frames %5lld exact %5lld inexact %5lld seeks\n",
                        r.fixture.c_str(), r.frames, r.exact, r.inexact, r.seeks);
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
            // Elsewhere a frame that claims to be n must be the sequential frame n.
            const bool fault = c.mustBeExact
                                   ? !exact || got.hash != want.hash
                                   : exact && (!want.exactFor(n) || got.hash != want.hash);
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
    reportRows.push_back(row);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FrameExactnessTest, ::testing::ValuesIn(allCases()),
                         [](const auto& info) { return test::safeName(info.param.name); });

}  // namespace
}  // namespace kestrova
