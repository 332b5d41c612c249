// Damaged media through the probe and the decoder: every request gets an
// answer, and a delivered picture is always a whole one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "containers/clip_description.h"
#include "fixtures.h"
#include "video/video_decoder.h"

namespace kestrova {
namespace {

std::vector<std::string> corruptFixtures() {
    std::vector<std::string> names;
    for (const test::FixtureEntry& entry : test::fixtureManifest()) {
        if (entry.kind == "corrupt") {
            names.push_back(entry.name);
        }
    }
    return names;
}

class CorruptDecodeTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CorruptDecodeTest, EveryFrameRequestIsAnswered) {
    ClipDescription description;
    const ProbeResult probe = description.probe(test::fixturePath(GetParam()));
    if (probe.status != ProbeStatus::Ok) {
        EXPECT_FALSE(description.isOpen());
        return;
    }
    const auto video = description.videoStreams();
    if (video.empty()) {
        return;
    }
    VideoDecoder decoder;
    if (!decoder.open(description, video.front()->index, 0, false, 0, ThreadRole::Foreground)) {
        return;
    }
    // In order, backwards, far past the end and back to the start.
    std::vector<int64_t> requests;
    for (int64_t n = 0; n < 80; n += 3) {
        requests.push_back(n);
    }
    for (int64_t n = 79; n >= 0; n -= 7) {
        requests.push_back(n);
    }
    requests.insert(requests.end(), {500, 100000, -3, 1});
    for (const int64_t n : requests) {
        const FrameResult result = decoder.frameAt(n);
        if (result.status != DecodeStatus::Ok) {
            continue;
        }
        EXPECT_GE(result.frameIndex, 0) << n;
        const AVFrame* frame = decoder.currentFrame();
        ASSERT_NE(frame, nullptr) << n;
        EXPECT_NE(frame->data[0], nullptr) << n;
        EXPECT_GT(frame->width, 0) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, CorruptDecodeTest, ::testing::ValuesIn(corruptFixtures()), [](const auto& info) {
        std::string name = info.param;
        std::replace_if(
            name.begin(), name.end(),
            [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

}  // namespace
}  // namespace kestrova
