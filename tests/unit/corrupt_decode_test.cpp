// Damaged media through the probe and the decoder: every request gets an answer, a whole picture.
#include <gtest/gtest.h>

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
    const bool probed = description.probe(test::fixturePath(GetParam())).status == ProbeStatus::Ok;
    EXPECT_EQ(description.isOpen(), probed);
    VideoDecoder decoder;
    if (!probed || description.videoStreams().empty() ||
        !decoder.open(description, description.videoStreams().front()->index, 0, false, 0,
                      ThreadRole::Foreground)) {
        return;
    }
    std::vector<int64_t> requests = {500, 100000, -3, 1};  // far past the end, back to the start
    for (int64_t i = 0; i < 27 + 12; ++i) {  // before those: in order to 78, then 79 down to 2
        requests.insert(requests.begin() + i, i < 27 ? 3 * i : 79 - 7 * (i - 27));
    }
    for (const int64_t n : requests) {
        const FrameResult result = decoder.frameAt(n);
        if (result.status == DecodeStatus::Ok) {
            EXPECT_GE(result.frameIndex, 0) << n;
            ASSERT_NE(decoder.currentFrame(), nullptr) << n;
            EXPECT_NE(decoder.currentFrame()->data[0], nullptr) << n;
            EXPECT_GT(decoder.currentFrame()->width, 0) << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CorruptDecodeTest, ::testing::ValuesIn(corruptFixtures()),
                         [](const auto& info) { return test::safeName(info.param); });

}  // namespace
}  // namespace kestrova
