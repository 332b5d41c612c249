// Choosing keyframe render times from a keyframe index.
#include <gtest/gtest.h>

#include "async/render_time_snap.h"

namespace kestrova::async {
namespace {

SeekIndex keyframesEvery(int64_t spacing, int64_t last) {
    SeekIndex index;
    for (int64_t frame = 0; frame <= last; frame += spacing) {
        index.entries.push_back({frame * 512, frame * 1000, frame});
    }
    return index;
}

struct SnapCase {
    int64_t requested;
    SnapDecision::Kind kind;
    int64_t keyframe;
};

class RenderTimeSnapTest : public ::testing::TestWithParam<SnapCase> {};

// Keyframes every 12 frames, indexed only up to frame 100 (the last entry
// is 96), in a longer clip.
TEST_P(RenderTimeSnapTest, SnapsWithinOneSpacingOfAnIndexedKeyframe) {
    const SeekIndex index = keyframesEvery(12, 100);
    const SnapDecision decision =
        snapToKeyframe(index, index.medianSpacing(), GetParam().requested);
    EXPECT_EQ(decision.kind, GetParam().kind);
    EXPECT_EQ(decision.keyframe, GetParam().keyframe);
    EXPECT_EQ(decision.spacing, 12);
}

INSTANTIATE_TEST_SUITE_P(PartialIndex, RenderTimeSnapTest,
                         ::testing::Values(SnapCase{30, SnapDecision::Kind::Snapped, 24},
                                           SnapCase{24, SnapDecision::Kind::AlreadyKeyframe, 24},
                                           SnapCase{35, SnapDecision::Kind::Snapped, 24},
                                           SnapCase{108, SnapDecision::Kind::Snapped, 96},
                                           SnapCase{109, SnapDecision::Kind::Declined, 96},
                                           SnapCase{500, SnapDecision::Kind::Declined, 96}));

TEST(RenderTimeSnap, NothingWithoutASpacing) {
    EXPECT_EQ(snapToKeyframe(SeekIndex{}, 0, 30).kind, SnapDecision::Kind::NoIndex);
    const SeekIndex single = keyframesEvery(12, 0);
    EXPECT_EQ(snapToKeyframe(single, single.medianSpacing(), 30).kind, SnapDecision::Kind::NoIndex);
}

TEST(RenderTimeSnap, TicksOfAFrameRoundToTheNearestTick) {
    constexpr int64_t kTicks = 254016000000;
    EXPECT_EQ(ticksOfFrame(24, 25, 1, kTicks), 24 * kTicks / 25);
    EXPECT_EQ(ticksOfFrame(1, 30000, 1001, 1000), 33);  // 33.3667
    EXPECT_EQ(ticksOfFrame(2, 30000, 1001, 1000), 67);  // 66.7333
    EXPECT_EQ(ticksOfFrame(5, 0, 1, kTicks), 0);
    EXPECT_EQ(ticksOfFrame(5, 25, 1, 0), 0);
}

}  // namespace
}  // namespace kestrova::async
