// Pixel format negotiation and frame delivery as the host sees them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "clip_test_support.h"
#include "frame_records.h"
#include "host/clip_prefs.h"  // field numbers only
#include "picture_view.h"
#include "pixels/host_formats.h"

namespace kestrova::moduletest {
namespace {

using host::fourCC;

std::vector<uint32_t> pixelFormats(const hostsim::Host& host, void* clip) {
    std::vector<uint32_t> formats;
    for (int32_t i = 0;; ++i) {
        const hostsim::PixelFormatAnswer answer = hostsim::getIndPixelFormat(host, clip, i);
        if (answer.result != host::imNoErr) {
            EXPECT_EQ(answer.result, host::imBadFormatIndex);
            return formats;
        }
        formats.push_back(answer.format);
    }
}

// A described, negotiated clip.
struct DescribedClip : OpenClip {
    DescribedClip(const hostsim::Host& host, const std::string& path, uint32_t desired = 0)
        : OpenClip(host, path) {
        EXPECT_EQ(answer.result, host::imNoErr) << path;
        info = hostsim::getInfo(host, clip(), 0);
        formats = pixelFormats(host, clip());
        negotiated = hostsim::selectClipFrameDescriptor(host, clip(), desired);
    }
    hostsim::SourceVideoAnswer frame(int64_t number, std::vector<host::FrameFormat> accept = {}) {
        return hostsim::getSourceVideo(
            host, clip(), hostsim::frameTicks(number, info.frameRateNum, info.frameRateDen),
            accept);
    }
    hostsim::ClipInfo info;
    std::vector<uint32_t> formats;
    hostsim::FrameDescriptorAnswer negotiated;
};

// The host's source settings record of a clip: at first no overrides and
// nothing detected yet.
struct SourceSettings {
    SourceSettings(const hostsim::Host& host, void* clip) : host(host), clip(clip) {
        using F = host::ClipPrefs;
        setField(F::kVersion, F::kCurrentVersion);
        for (int override : {F::kPrimariesOverride, F::kTransferOverride, F::kMatrixOverride}) {
            setField(override, -1);
        }
        setField(F::kPixelFormatOverride, static_cast<int32_t>(host::kBadFormat));
    }
    int32_t field(int index) const { return host::readField<int32_t>(bytes.data(), 4 * index); }
    void setField(int index, int32_t value) {
        host::writeField<int32_t>(bytes.data(), 4 * index, value);
    }
    host::Result send() {
        return hostsim::performSourceSettings(host, clip, bytes.data(), host::kClipPrefsBytes);
    }
    const hostsim::Host& host;
    void* clip;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(host::kClipPrefsBytes);
};

double meanDifference(const hostsim::RgbImage& a, const hostsim::RgbImage& b) {
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) {
        return 255.0;
    }
    double sum = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) {
        sum += std::abs(int{a.rgb[i]} - int{b.rgb[i]});
    }
    return sum / static_cast<double>(a.rgb.size());
}

class FrameDeliveryTest : public ClipModuleTest {
  protected:
    void release(hostsim::SourceVideoAnswer& answer) {
        if (answer.ppix) {
            host().ppix().dispose(answer.ppix);
        }
    }
    // Frame `number` delivered in `format`, as the host views it; empty when
    // it is not delivered in that format.
    hostsim::RgbImage view(DescribedClip& clip, int64_t number, uint32_t format) {
        auto answer = clip.frame(number, {{clip.info.width, clip.info.height, format}});
        const hostsim::PPixBuffer* picture =
            answer.result == host::imNoErr ? host().ppix().find(answer.ppix) : nullptr;
        hostsim::RgbImage image;
        if (picture != nullptr && picture->format() == format) {
            image = hostsim::viewAsRgb(*picture);
        }
        release(answer);
        return image;
    }
};

TEST_F(FrameDeliveryTest, OffersCandidatesAndNegotiatesOne) {
    DescribedClip clip(host(), fixturePath("h264_closed.mkv"), fourCC("BGrx"));
    // 240 lines without colour tags: BT.601, left siting, progressive.
    EXPECT_EQ(clip.formats,
              (std::vector<uint32_t>{fourCC("yv12"), fourCC("nv13"), fourCC("BGrx")}));
    ASSERT_EQ(clip.negotiated.result, host::imNoErr);
    EXPECT_EQ(clip.negotiated.format, fourCC("BGrx"));
    EXPECT_EQ(clip.negotiated.width, 320);
    EXPECT_EQ(clip.negotiated.height, 240);

    const hostsim::ColorSpaceAnswer colour = hostsim::getIndColorSpace(host(), clip.clip(), 0);
    ASSERT_EQ(colour.result, host::imNoErr);
    EXPECT_EQ(colour.kind, 3);
    EXPECT_EQ(colour.matrix, 6);
    EXPECT_EQ(colour.bitDepth, 8);
    EXPECT_EQ(colour.rgb, 1);  // the negotiated BGrx
    EXPECT_EQ(hostsim::getIndColorSpace(host(), clip.clip(), 1).result, host::imBadFormatIndex);
    EXPECT_NE(log().find("imGetIndPixelFormat[2] = xrGB (universal RGB float safety net"),
              std::string::npos);
}

TEST_F(FrameDeliveryTest, DeliversTheFrameNearestTheRequestedTime) {
    DescribedClip clip(host(), fixturePath("h264_closed.mkv"));
    const int64_t frameTicks =
        hostsim::frameTicks(1, clip.info.frameRateNum, clip.info.frameRateDen);
    for (const auto& [ticks, expected] :
         {std::pair{frameTicks * 5 / 2, 3}, {frameTicks * 5 / 2 - 1, 2}, {-frameTicks, 0}}) {
        auto answer = hostsim::getSourceVideo(host(), clip.clip(), ticks, {});
        ASSERT_EQ(answer.result, host::imNoErr);
        release(answer);
    }
    const std::string text = log();
    // Frames passed on the way to frame 3 come from the plug-in's cache.
    EXPECT_EQ(occurrences(text, "delivered frame 3 (21vy) for"), 1);
    EXPECT_EQ(occurrences(text, "delivered frame 2 (21vy, cache hit) for"), 1);
    EXPECT_EQ(occurrences(text, "delivered frame 0 (21vy, cache hit) for"), 1);
}

TEST_F(FrameDeliveryTest, RequestFormatsPickTheFirstMatchingCandidate) {
    DescribedClip clip(host(), fixturePath("h264_closed.mkv"));
    auto answer = clip.frame(4, {{320, 240, fourCC("BGrx")}, {320, 240, fourCC("nv13")}});
    ASSERT_EQ(answer.result, host::imNoErr);
    const hostsim::PPixBuffer* picture = host().ppix().find(answer.ppix);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->format(), fourCC("nv13"));  // candidate order, not request order
    release(answer);
    host().ppix().clearCache();
    EXPECT_EQ(host().ppix().live(), 0u);
}

TEST_F(FrameDeliveryTest, HostCacheHitNeedsNoDecoder) {
    DescribedClip clip(host(), fixturePath("h264_closed.mkv"));
    auto first = clip.frame(6);
    ASSERT_EQ(first.result, host::imNoErr);
    release(first);
    ASSERT_EQ(hostsim::quietFile(host(), clip.clip()), host::imNoErr);
    auto again = clip.frame(6);
    ASSERT_EQ(again.result, host::imNoErr);
    release(again);
    EXPECT_EQ(host().ppix().cacheStats().hits, 1);
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "imGetSourceVideo: cache hit frame 6"), 1);
    EXPECT_EQ(occurrences(text, "decoder open for"), 1);
}

// A libswscale plan is the clip's real picture, as the float RGB safety net
// shows it; it used to be a flat grey (green when viewed as float VUYA).
TEST_F(FrameDeliveryTest, SwscalePlansDeliverTheRealPicture) {
    for (const char* fixture : {"raw_yuva444p12le.nut", "prores4444_alpha.mkv"}) {
        SCOPED_TRACE(fixture);
        DescribedClip clip(host(), fixturePath(fixture));
        // Float VUYA through libswscale (601 or 709 by height), then the safety net.
        ASSERT_EQ(clip.formats.size(), 2u);
        ASSERT_EQ(clip.formats.back(), fourCC("BGra"));
        const hostsim::RgbImage swscaled = view(clip, 1, clip.formats.front());
        const hostsim::RgbImage safetyNet = view(clip, 1, fourCC("BGra"));
        ASSERT_FALSE(swscaled.rgb.empty());
        EXPECT_LT(meanDifference(swscaled, safetyNet), 2.0);
    }
    EXPECT_EQ(occurrences(log(), "using fallback"), 0);
}

TEST_F(FrameDeliveryTest, HostBufferFailuresReleaseThePPix) {
    DescribedClip clip(host(), fixturePath("h264_closed.mkv"), fourCC("BGrx"));
    host().failCallback(hostsim::Callback::GetRowBytes, true);
    auto answer = clip.frame(1);
    EXPECT_EQ(answer.result, host::imFailure);
    EXPECT_EQ(answer.ppix, nullptr);
    EXPECT_EQ(host().ppix().live(), 0u);
    EXPECT_NE(log().find("imGetSourceVideo: GetRowBytes returned 0 for"), std::string::npos);
}

// Overriding the transfer to PQ makes the clip HDR: 8-bit targets are refused.
TEST_F(FrameDeliveryTest, HdrClipsOnlyLeaveInTaggedOrFloatFormats) {
    DescribedClip clip(host(), fixturePath("h264_closed.mkv"));
    using F = host::ClipPrefs;
    SourceSettings settings(host(), clip.clip());
    ASSERT_EQ(settings.send(), host::imNoErr);
    EXPECT_TRUE(host().refreshRequests().empty());  // detected values only
    EXPECT_EQ(settings.field(F::kDetectedPresent), 1);
    EXPECT_EQ(settings.field(F::kDetectedMatrix), 6);

    settings.setField(F::kTransferOverride, 16);
    ASSERT_EQ(settings.send(), host::imNoErr);
    EXPECT_EQ(host().refreshRequests().size(), 1u);
    EXPECT_EQ(pixelFormats(host(), clip.clip()).size(), 3u);

    auto refused = clip.frame(2, {{320, 240, fourCC("yv12")}});
    EXPECT_EQ(refused.result, host::imFailure);
    auto accepted = clip.frame(2, {{320, 240, fourCC("BGrx")}});
    EXPECT_EQ(accepted.result, host::imNoErr);
    release(accepted);
    EXPECT_EQ(occurrences(log(), "HDR delivery contract violated"), 1);
}

// The host views the same picture whichever format it gets: every kernel
// that applies a matrix uses the clip's described colour, defaulted by its
// height and then overridden. The untagged 480-line red clip was (254,0,0)
// through yv12 and (255,24,0) through BGrx, which read the frame's tags;
// overrides reached no kernel.
TEST_F(FrameDeliveryTest, EveryFormatShowsTheDescribedColour) {
    using F = host::ClipPrefs;
    const struct {
        const char* name;
        int field;
        int32_t value;
    } overrides[] = {{"defaults", -1, 0},
                     {"matrix BT.709", F::kMatrixOverride, 1},
                     {"full range", F::kRangeOverride, 1}};
    for (const auto& o : overrides) {
        SCOPED_TRACE(o.name);
        host().ppix().clearCache();  // the host refreshes the clip after an override
        DescribedClip clip(host(), fixturePath("red_720x480.mkv"));
        SourceSettings settings(host(), clip.clip());
        if (o.field >= 0) {
            settings.setField(o.field, o.value);
        }
        ASSERT_EQ(settings.send(), host::imNoErr);
        const std::vector<uint32_t> formats = pixelFormats(host(), clip.clip());
        ASSERT_GE(formats.size(), 2u);
        const hostsim::RgbImage first = view(clip, 0, formats.front());
        for (const uint32_t format : formats) {
            const hostsim::RgbImage image = view(clip, 0, format);
            EXPECT_LT(meanDifference(image, first), 1.0) << printableFourCC(format);
        }
    }
}

// A 321x241 picture has a last chroma column and row that cover one luma
// column and row; every format fills them (they were left as the host's
// buffer held them), so the picture's edge matches its neighbours.
TEST_F(FrameDeliveryTest, OddSizesFillTheLastColumnAndRow) {
    DescribedClip clip(host(), fixturePath("odd_321x241.nut"));
    ASSERT_FALSE(clip.formats.empty());
    for (const uint32_t format : clip.formats) {
        SCOPED_TRACE(printableFourCC(format));
        const hostsim::RgbImage image = view(clip, 0, format);
        ASSERT_EQ(image.width, 321);
        const auto edgeStep = [&](bool column) {
            double sum = 0;
            const int32_t count = column ? image.height : image.width;
            for (int32_t i = 0; i < count; ++i) {
                const uint8_t* last =
                    column ? image.pixel(image.width - 1, i) : image.pixel(i, image.height - 1);
                const uint8_t* inner =
                    column ? image.pixel(image.width - 2, i) : image.pixel(i, image.height - 2);
                for (int c = 0; c < 3; ++c) {
                    sum += std::abs(int{last[c]} - int{inner[c]});
                }
            }
            return sum / (3.0 * count);
        };
        EXPECT_LT(edgeStep(true), 3.0) << "last column";
        EXPECT_LT(edgeStep(false), 3.0) << "last row";
    }
}

// Every picture fixture the importer opens, negotiated with no wish and with
// each offered format as the wish: the negotiated format is delivered. HDR
// clips used to negotiate formats their delivery then refused.
std::vector<std::string> pictureFixtures() {
    std::vector<std::string> names;
    for (const char* kind : {"video", "still"}) {
        for (const test::FixtureEntry& entry : fixturesOfKind(kind)) {
            names.push_back(entry.name);
        }
    }
    return names;
}

class NegotiatedDeliveryTest : public FrameDeliveryTest,
                               public ::testing::WithParamInterface<std::string> {};

TEST_P(NegotiatedDeliveryTest, NegotiatedFormatIsDelivered) {
    const std::string path = fixturePath(GetParam());
    std::vector<uint32_t> wishes = {0};
    {
        OpenClip probe(host(), path);
        if (probe.answer.result != host::imNoErr) {
            GTEST_SKIP() << "the importer leaves MOV and MP4 with standard codecs to the host";
        }
        const std::vector<uint32_t> formats = pixelFormats(host(), probe.clip());
        wishes.insert(wishes.end(), formats.begin(), formats.end());
    }
    for (const uint32_t wish : wishes) {
        SCOPED_TRACE("wish " + printableFourCC(wish));
        DescribedClip clip(host(), path, wish);
        ASSERT_EQ(clip.negotiated.result, host::imNoErr);
        auto answer = clip.frame(0);
        ASSERT_EQ(answer.result, host::imNoErr);
        const hostsim::PPixBuffer* picture = host().ppix().find(answer.ppix);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->format(), clip.negotiated.format);
        release(answer);
    }
    EXPECT_EQ(occurrences(log(), "HDR delivery contract violated"), 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, NegotiatedDeliveryTest, ::testing::ValuesIn(pictureFixtures()),
                         [](const auto& info) { return test::safeName(info.param); });

}  // namespace
}  // namespace kestrova::moduletest
