// Damaged media through the probe and the decoder: every request gets an answer, a whole picture.
#include <gtest/gtest.h>

#include <ostream>
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

// Clips with one picture that cannot be decoded at all, and the first frame
// whose request meets it from a fresh decoder.
struct BlankPicture {
    std::string fixture;
    int64_t frame;
};
void PrintTo(const BlankPicture& blank, std::ostream* out) {
    *out << blank.fixture << " frame " << blank.frame;
}

class BlankPictureTest : public ::testing::TestWithParam<BlankPicture> {
  protected:
    void SetUp() override {
        ASSERT_EQ(description_.probe(test::fixturePath(GetParam().fixture)).status,
                  ProbeStatus::Ok);
        ASSERT_TRUE(decoder_.open(description_, description_.videoStreams().front()->index, 0,
                                  false, 0, ThreadRole::Foreground));
    }
    ClipDescription description_;
    VideoDecoder decoder_;
};

bool standIn(const FrameResult& result) {
    return result.black || result.repeatedLastGood;
}

// A black or last good picture stands in for the frame, and is never taken
// for that frame later: asked again, the decoder tries again and says so.
TEST_P(BlankPictureTest, AStandInIsNeverLaterTheFrame) {
    const int64_t n = GetParam().frame;
    const FrameResult first = decoder_.frameAt(n);
    ASSERT_EQ(first.status, DecodeStatus::Ok);
    ASSERT_TRUE(first.black) << "nothing decoded yet, so black";
    const FrameResult again = decoder_.frameAt(n);
    EXPECT_EQ(again.status, DecodeStatus::Ok);
    EXPECT_TRUE(standIn(again) && again.notExact);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BlankPictureTest,
                         ::testing::Values(BlankPicture{"corrupt/mjpeg.blank10.avi", 10},
                                           BlankPicture{"corrupt/prores_hq.blank10.mov", 10},
                                           BlankPicture{"corrupt/vp9.blank0.mp4", 3}),
                         [](const auto& info) { return test::safeName(info.param.fixture); });

class IntraBlankPictureTest : public BlankPictureTest {};

// Intra-only clips degrade like the others: the frames around the broken one
// are exact, the broken one is a stand-in, nothing fails.
TEST_P(IntraBlankPictureTest, EveryRequestIsAnsweredWithAPicture) {
    const int64_t broken = GetParam().frame;
    for (const int64_t n : {broken + 3, broken, broken - 1, broken, broken + 1}) {
        SCOPED_TRACE(n);
        const FrameResult result = decoder_.frameAt(n);
        ASSERT_EQ(result.status, DecodeStatus::Ok) << result.detail;
        ASSERT_NE(decoder_.currentFrame(), nullptr);
        EXPECT_NE(decoder_.currentFrame()->data[0], nullptr);
        if (n == broken) {
            EXPECT_TRUE(standIn(result) && result.notExact);
        } else {
            EXPECT_TRUE(!result.notExact && result.frameIndex == n);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, IntraBlankPictureTest,
                         ::testing::Values(BlankPicture{"corrupt/mjpeg.blank10.avi", 10},
                                           BlankPicture{"corrupt/prores_hq.blank10.mov", 10}),
                         [](const auto& info) { return test::safeName(info.param.fixture); });

}  // namespace
}  // namespace kestrova
