// Selectors answered by the entry point itself, whatever the state.
#include <gtest/gtest.h>

#include "module_test_support.h"

namespace kestrova::moduletest {
namespace {

using hostsim::Host;

class UnknownSelectorTest : public SharedModuleTest,
                            public ::testing::WithParamInterface<host::Selector> {};

TEST_P(UnknownSelectorTest, AnswersUnsupported) {
    Host host(module());
    EXPECT_EQ(host.call(GetParam(), nullptr, nullptr), host::imUnsupported);
    ASSERT_EQ(host.init(), host::imInitOk);
    EXPECT_EQ(host.call(GetParam(), nullptr, nullptr), host::imUnsupported);
}

INSTANTIATE_TEST_SUITE_P(Numbers, UnknownSelectorTest, ::testing::Values(2, 83, -1, 1000));

using SupportsTest = SharedModuleTest;

TEST_F(SupportsTest, AnswerTheirFixedValuesWithoutInit) {
    Host host(module());
    EXPECT_EQ(host.call(host::imGetSupports7, nullptr, nullptr), host::imSupports7);
    EXPECT_EQ(host.call(host::imGetSupports8, nullptr, nullptr), host::imSupports8);
}

}  // namespace
}  // namespace kestrova::moduletest
