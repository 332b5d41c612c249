#include "video/decode_thread_budget.h"

#include <gtest/gtest.h>

#include <tuple>

namespace kestrova {
namespace {

TEST(DecodeThreadBudgetTest, GrantFollowsRoleAndLoad) {
    constexpr ThreadRole kFore = ThreadRole::Foreground, kBack = ThreadRole::Background,
                         kHard = ThreadRole::Hardware;
    // Four cores: the first foreground decoder takes all, later ones their floor; at most 16.
    const std::tuple<int32_t, ThreadRole, int32_t, int32_t, int32_t> cases[] = {
        {0, kFore, 4, 0, 4},   {0, kFore, 4, 4, 2},    {9, kFore, 4, 0, 4},  {1, kFore, 4, 8, 1},
        {0, kBack, 4, 0, 1},   {0, kHard, 4, 0, 2},    {8, kHard, 4, 0, 2},  {0, kHard, 4, 10, 1},
        {0, kFore, 64, 0, 16}, {0, kFore, 64, 64, 16}, {0, kBack, 64, 0, 8}, {0, kFore, 2, 2, 2},
    };
    for (const auto& [requested, role, cores, outstanding, grant] : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::tie(requested, role, cores, outstanding)));
        int32_t cap = 0;
        EXPECT_EQ(DecodeThreadBudget::grantFor(requested, role, cores, outstanding, cap), grant);
        EXPECT_GE(cap, 1);
        EXPECT_LE(cap, 16);
    }
}

TEST(DecodeThreadBudgetTest, AcquireAndReleaseBalance) {
    EXPECT_GE(DecodeThreadBudget::cores(), 2);
    const int32_t before = DecodeThreadBudget::outstanding();
    const int32_t first = DecodeThreadBudget::acquire(1, ThreadRole::Background);
    const int32_t second = DecodeThreadBudget::acquire(0, ThreadRole::Hardware);
    EXPECT_EQ(first, 1);
    EXPECT_GE(second, 1);
    EXPECT_LE(second, 2);
    DecodeThreadBudget::release(0);  // nothing to give back
    DecodeThreadBudget::release(-3);
    EXPECT_EQ(DecodeThreadBudget::outstanding(), before + first + second);
    DecodeThreadBudget::release(second);
    DecodeThreadBudget::release(first);
    EXPECT_EQ(DecodeThreadBudget::outstanding(), before);
}

}  // namespace
}  // namespace kestrova
