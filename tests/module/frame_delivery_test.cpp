// Pixel format negotiation and frame delivery as the host sees them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clip_test_support.h"
#include "frame_records.h"
#include "host/clip_prefs.h"  // field numbers only
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

class FrameDeliveryTest : public ClipModuleTest {
  protected:
    void release(hostsim::SourceVideoAnswer& answer) {
        if (answer.ppix) {
            host().ppix().dispose(answer.ppix);
        }
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

TEST_F(FrameDeliveryTest, GreyFallbackIsReportedOncePerClip) {
    DescribedClip clip(host(), fixturePath("raw_yuva444p12le.nut"));
    for (int64_t n : {0, 1, 2}) {
        auto answer = clip.frame(n);
        ASSERT_EQ(answer.result, host::imNoErr);
        const hostsim::PPixBuffer* picture = host().ppix().find(answer.ppix);
        ASSERT_NE(picture, nullptr);
        const hostsim::PPixPlane& plane = picture->planes()[0];
        EXPECT_EQ(plane.data[0], 128);
        EXPECT_EQ(plane.data[plane.visibleBytes - 1], 128);
        release(answer);
    }
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "using fallback (grey frames); this is logged once per clip"), 1);
    EXPECT_EQ(occurrences(text, "conversion kind Swscale using fallback\n"), 2);
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
    std::vector<uint8_t> settings(host::kClipPrefsBytes);
    const auto field = [&](int index) {
        return host::readField<int32_t>(settings.data(), 4 * index);
    };
    const auto setField = [&](int index, int32_t value) {
        host::writeField<int32_t>(settings.data(), 4 * index, value);
    };
    // The host's first settings: no overrides, nothing detected yet.
    setField(F::kVersion, F::kCurrentVersion);
    for (int override : {F::kPrimariesOverride, F::kTransferOverride, F::kMatrixOverride}) {
        setField(override, -1);
    }
    setField(F::kPixelFormatOverride, static_cast<int32_t>(host::kBadFormat));
    const auto send = [&] {
        return hostsim::performSourceSettings(host(), clip.clip(), settings.data(),
                                              host::kClipPrefsBytes);
    };
    ASSERT_EQ(send(), host::imNoErr);
    EXPECT_TRUE(host().refreshRequests().empty());  // detected values only
    EXPECT_EQ(field(F::kDetectedPresent), 1);
    EXPECT_EQ(field(F::kDetectedMatrix), 6);

    setField(F::kTransferOverride, 16);
    ASSERT_EQ(send(), host::imNoErr);
    EXPECT_EQ(host().refreshRequests().size(), 1u);
    EXPECT_EQ(pixelFormats(host(), clip.clip()).size(), 3u);

    auto refused = clip.frame(2, {{320, 240, fourCC("yv12")}});
    EXPECT_EQ(refused.result, host::imFailure);
    auto accepted = clip.frame(2, {{320, 240, fourCC("BGrx")}});
    EXPECT_EQ(accepted.result, host::imNoErr);
    release(accepted);
    EXPECT_EQ(occurrences(log(), "HDR delivery contract violated"), 1);
}

}  // namespace
}  // namespace kestrova::moduletest
