#include "video/decode_thread_budget.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

struct GrantCase {
    const char* name;
    int32_t requested;
    ThreadRole role;
    int32_t cores;
    int32_t outstanding;
    int32_t grant;
};

class DecodeThreadGrantTest : public ::testing::TestWithParam<GrantCase> {};

TEST_P(DecodeThreadGrantTest, GrantFollowsRoleAndLoad) {
    const GrantCase& c = GetParam();
    int32_t cap = 0;
    const int32_t grant =
        DecodeThreadBudget::grantFor(c.requested, c.role, c.cores, c.outstanding, cap);
    EXPECT_EQ(grant, c.grant);
    EXPECT_GE(cap, 1);
    EXPECT_LE(cap, 16);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, DecodeThreadGrantTest,
    ::testing::Values(
        // A four-core machine.
        GrantCase{"FirstForegroundTakesAll", 0, ThreadRole::Foreground, 4, 0, 4},
        GrantCase{"SecondForegroundGetsItsFloor", 0, ThreadRole::Foreground, 4, 4, 2},
        GrantCase{"ForegroundOnAHalfBusyMachine", 0, ThreadRole::Foreground, 4, 2, 2},
        GrantCase{"ForegroundAskingTooMuch", 9, ThreadRole::Foreground, 4, 0, 4},
        GrantCase{"ForegroundAskingOneWhenBusy", 1, ThreadRole::Foreground, 4, 8, 1},
        GrantCase{"PrefetchAskingOne", 1, ThreadRole::Background, 4, 6, 1},
        GrantCase{"PrefetchChoosing", 0, ThreadRole::Background, 4, 0, 1},
        GrantCase{"HardwareChoosing", 0, ThreadRole::Hardware, 4, 0, 2},
        GrantCase{"HardwareAskingMany", 8, ThreadRole::Hardware, 4, 0, 2},
        GrantCase{"HardwareWhenBusy", 0, ThreadRole::Hardware, 4, 10, 1},
        // Large machines: at most sixteen per decoder.
        GrantCase{"WideForegroundCapped", 0, ThreadRole::Foreground, 64, 0, 16},
        GrantCase{"WideForegroundBusyFloor", 0, ThreadRole::Foreground, 64, 64, 16},
        GrantCase{"WidePrefetchChoosing", 0, ThreadRole::Background, 64, 0, 8},
        GrantCase{"TwoCoresForeground", 0, ThreadRole::Foreground, 2, 2, 2}),
    [](const ::testing::TestParamInfo<GrantCase>& info) { return info.param.name; });

TEST(DecodeThreadBudgetTest, AcquireAndReleaseBalance) {
    const int32_t cores = DecodeThreadBudget::cores();
    EXPECT_GE(cores, 2);
    const int32_t before = DecodeThreadBudget::outstanding();
    const int32_t first = DecodeThreadBudget::acquire(1, ThreadRole::Background);
    const int32_t second = DecodeThreadBudget::acquire(0, ThreadRole::Hardware);
    EXPECT_EQ(first, 1);
    EXPECT_GE(second, 1);
    EXPECT_LE(second, 2);
    EXPECT_EQ(DecodeThreadBudget::outstanding(), before + first + second);
    DecodeThreadBudget::release(0);
    DecodeThreadBudget::release(-3);
    EXPECT_EQ(DecodeThreadBudget::outstanding(), before + first + second);
    DecodeThreadBudget::release(second);
    DecodeThreadBudget::release(first);
    EXPECT_EQ(DecodeThreadBudget::outstanding(), before);
}

}  // namespace
}  // namespace kestrova
