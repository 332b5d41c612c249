// Selectors answered by the entry point itself, whatever the state.
#include <gtest/gtest.h>

#include "module_test_support.h"

namespace kestrova::moduletest {
namespace {

using hostsim::Host;
using SelectorsTest = SharedModuleTest;

TEST_F(SelectorsTest, UnknownOnesAnswerUnsupportedBeforeAndAfterInit) {
    Host host(module());
    for (bool initialised : {false, true}) {
        for (host::Selector selector : {2, 83, -1, 1000}) {
            EXPECT_EQ(host.call(selector, nullptr, nullptr), host::imUnsupported)
                << selector << (initialised ? " after imInit" : " before imInit");
        }
        ASSERT_EQ(host.init(), host::imInitOk);
    }
}

TEST_F(SelectorsTest, SupportsAnswerTheirFixedValuesWithoutInit) {
    Host host(module());
    EXPECT_EQ(host.call(host::imGetSupports7, nullptr, nullptr), host::imSupports7);
    EXPECT_EQ(host.call(host::imGetSupports8, nullptr, nullptr), host::imSupports8);
}

}  // namespace
}  // namespace kestrova::moduletest
