#include "fileops/trim_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova::fileops {
namespace {

// A packet as a demuxer delivers it: its id is the payload, so the test sees
// exactly which packets a trim writes and in what order.
struct Packet {
    int id = 0;
    int32_t stream = 0;
    bool key = false;
    int64_t pts = kNoTimestamp;
    int64_t dts = kNoTimestamp;
};

struct TrimRun {
    std::vector<int> written;
    bool doneEarly = false;  // done() before the input ran out
    std::optional<int64_t> origin;
};

TrimRun trim(const std::vector<StreamRole>& roles, int32_t reference, TrimWindow window,
         const std::vector<Packet>& packets) {
    TrimSelector<int> selector(roles, reference, window);
    TrimRun run;
    for (const Packet& p : packets) {
        for (int id : selector.offer(p.id, {p.stream, p.key, p.pts, p.dts})) {
            run.written.push_back(id);
        }
        if (selector.done()) {
            run.doneEarly = true;
            break;
        }
    }
    for (int id : selector.finish()) {
        run.written.push_back(id);
    }
    run.origin = selector.origin();
    return run;
}

// Closed GOPs of 6 frames with B-frames, one frame per tick: each GOP is
// shown I B B P B P and decoded I P B B P B; decoding times run two ticks
// ahead of the first picture, as demuxers of such streams give them.
std::vector<Packet> closedGops(int gops) {
    std::vector<Packet> packets;
    const int order[] = {0, 3, 1, 2, 5, 4};
    int id = 0;
    int64_t dts = -2;
    for (int g = 0; g < gops; ++g) {
        for (int f : order) {
            packets.push_back({id++, 0, f == 0, 6 * g + f, dts++});
        }
    }
    return packets;
}

std::vector<int> idsShownIn(const std::vector<Packet>& packets, int64_t from, int64_t to) {
    std::vector<int> ids;
    for (const Packet& p : packets) {
        if (p.pts >= from && p.pts < to) {
            ids.push_back(p.id);
        }
    }
    return ids;
}

const std::vector<StreamRole> kVideoOnly = {StreamRole::Video};

TEST(TrimWindow, StartsAtTheKeyframeOfTheInPointAfterASeekThatLandedEarlier) {
    const auto packets = closedGops(5);  // the seek landed on GOP 0, the in point is GOP 2
    const TrimRun run = trim(kVideoOnly, 0, {12, 24, 0}, packets);
    EXPECT_EQ(run.written, idsShownIn(packets, 12, 24));
    EXPECT_EQ(run.origin, 12);
    EXPECT_TRUE(run.doneEarly);
}

TEST(TrimWindow, AnInPointInsideAGopStartsAtItsKeyframe) {
    const auto packets = closedGops(4);
    const TrimRun run = trim(kVideoOnly, 0, {14, 24, 0}, packets);
    EXPECT_EQ(run.written, idsShownIn(packets, 12, 24));
    EXPECT_EQ(run.origin, 12);
}

TEST(TrimWindow, AKeyframeWithinTheToleranceCountsAsAtTheInPoint) {
    const auto packets = closedGops(4);
    // Host units rounded the in point to just before the keyframe at 12.
    const TrimRun run = trim(kVideoOnly, 0, {11, 24, 1}, packets);
    EXPECT_EQ(run.origin, 12);
}

TEST(TrimWindow, AnOutPointInsideAGopKeepsOnlyTheReferencesItsPicturesNeed) {
    const auto packets = closedGops(3);
    // GOP 1 is decoded I6 P9 B7 B8 P11 B10 (ids 6 to 11). Out at 10: P11 and
    // B10 lie past it and no kept picture follows them.
    const TrimRun run = trim(kVideoOnly, 0, {6, 10, 0}, packets);
    EXPECT_EQ(run.written, idsShownIn(packets, 6, 10));

    // Out at 8: B7 is kept and may refer to P9, decoded before it, so P9 is
    // written too; B8 is not.
    const TrimRun shorter = trim(kVideoOnly, 0, {6, 8, 0}, packets);
    EXPECT_EQ(shorter.written, (std::vector<int>{6, 7, 8}));
}

TEST(TrimWindow, LeadingPicturesOfAnOpenGopAreDropped) {
    // Decode order I6 B4 B5 P9 B7 B8: B4 and B5 are shown before their
    // keyframe and need the GOP before it.
    const std::vector<Packet> packets = {{0, 0, true, 6, 4},  {1, 0, false, 4, 5},
                                         {2, 0, false, 5, 6}, {3, 0, false, 9, 7},
                                         {4, 0, false, 7, 8}, {5, 0, false, 8, 9}};
    const TrimRun run = trim(kVideoOnly, 0, {6, 100, 0}, packets);
    EXPECT_EQ(run.written, (std::vector<int>{0, 3, 4, 5}));
}

TEST(TrimWindow, AudioReadBeforeTheStartIsKeptFromTheChosenOrigin) {
    const std::vector<StreamRole> roles = {StreamRole::Video, StreamRole::Audio};
    // The keyframe at 12 is decoded at 10, after audio at 10 and 11 and
    // before audio at 12.5, which the file interleaves by decoding time.
    const std::vector<Packet> packets = {
        {0, 1, true, 10, 10},  {1, 1, true, 11, 11},  {2, 0, true, 12, 10},   {3, 0, false, 15, 11},
        {4, 1, true, 12, 12},  {5, 0, false, 13, 12}, {6, 0, false, 14, 13},  {7, 1, true, 14, 14},
        {8, 0, false, 18, 14}, {9, 1, true, 16, 16},  {10, 0, false, 16, 15}, {11, 0, true, 20, 18},
        {12, 1, true, 18, 18}};
    const TrimRun run = trim(roles, 0, {12, 18, 0}, packets);
    // Audio before 12 is dropped; P18 lies at the out point but B16, decoded
    // after it, may refer to it, so it goes out just before B16.
    EXPECT_EQ(run.written, (std::vector<int>{2, 3, 4, 5, 6, 7, 9, 8, 10}));
    EXPECT_TRUE(run.doneEarly);
}

TEST(TrimWindow, TheFirstKeyframeIsTakenWhenNoneIsAtOrBeforeTheInPoint) {
    const std::vector<Packet> packets = {
        {0, 0, false, 3, 3}, {1, 0, true, 8, 7}, {2, 0, false, 9, 8}, {3, 0, false, 10, 9}};
    const TrimRun run = trim(kVideoOnly, 0, {5, 100, 0}, packets);
    EXPECT_EQ(run.written, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(run.origin, 8);
}

TEST(TrimWindow, WithoutAnyKeyframeNothingIsWritten) {
    const std::vector<Packet> packets = {{0, 0, false, 0, 0}, {1, 0, false, 1, 1}};
    const TrimRun run = trim(kVideoOnly, 0, {0, 100, 0}, packets);
    EXPECT_TRUE(run.written.empty());
    EXPECT_FALSE(run.origin.has_value());
}

TEST(TrimWindow, AnAudioReferenceStartsAtTheInPointItself) {
    const std::vector<StreamRole> roles = {StreamRole::Skip, StreamRole::Audio};
    const std::vector<Packet> packets = {{0, 1, true, 0, 0},   {1, 0, true, 5, 5},
                                         {2, 1, true, 5, 5},   {3, 1, true, 10, 10},
                                         {4, 1, true, 15, 15}, {5, 1, true, 20, 20}};
    const TrimRun run = trim(roles, 1, {5, 15, 0}, packets);
    EXPECT_EQ(run.written, (std::vector<int>{2, 3}));
    EXPECT_EQ(run.origin, 5);
    EXPECT_TRUE(run.doneEarly);
}

TEST(TrimWindow, AStreamWithoutTimesCannotHoldTheWholeFile) {
    // A keyframe, then packets whose decoding time never passes the in point:
    // the start is settled anyway once the bound is reached.
    std::vector<Packet> packets = {{0, 0, true, 0, 0}};
    for (int i = 1; i < 70000; ++i) {
        packets.push_back({i, 0, false, kNoTimestamp, kNoTimestamp});
    }
    TrimSelector<int> selector(kVideoOnly, 0, {0, 100, 0});
    std::size_t written = 0;
    for (const Packet& p : packets) {
        written += selector.offer(p.id, {p.stream, p.key, p.pts, p.dts}).size();
    }
    EXPECT_GT(written, 0u);
}

}  // namespace
}  // namespace kestrova::fileops
