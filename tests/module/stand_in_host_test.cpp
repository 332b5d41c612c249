// The stand-in host's own suites, reached the way the module reaches them:
// through the standard parameters. Module tests rely on these counts.
#include <gtest/gtest.h>

#include "module_test_support.h"

namespace kestrova::moduletest {
namespace {

using hostsim::Callback;
using hostsim::Host;

class StandInHostTest : public SharedModuleTest {
  protected:
    void SetUp() override {
        SharedModuleTest::SetUp();
        host_ = std::make_unique<Host>(module());
        const void* stdParms = host_->standardParameters();
        ASSERT_EQ(host::readField<int32_t>(stdParms, host::stdparms::kInterfaceVersion),
                  host::kDefaultImporterApiVersion);
        record_ = host::readField<const host::HostSuitesRecord*>(stdParms, host::stdparms::kSuites);
        ASSERT_NE(record_, nullptr);
        basic_ = record_->utilFuncs->getBasicSuite();
        ASSERT_NE(basic_, nullptr);
    }
    template <typename Suite>
    const Suite* acquire(const host::SuiteName& suite) {
        const void* table = nullptr;
        return basic_->acquireSuite(suite.name, suite.version, &table) == 0
                   ? static_cast<const Suite*>(table)
                   : nullptr;
    }
    std::unique_ptr<Host> host_;
    const host::HostSuitesRecord* record_ = nullptr;
    const host::BasicSuite* basic_ = nullptr;
};

TEST_F(StandInHostTest, SuitesAreGivenOnlyByExactNameAndVersion) {
    const void* table = nullptr;
    EXPECT_NE(basic_->acquireSuite("Premiere Time Suite", 2, &table), 0);
    EXPECT_NE(basic_->acquireSuite("No Such Suite", 1, &table), 0);
    EXPECT_EQ(table, nullptr);
    host_->refuseSuite(host::kStringSuite.name);
    EXPECT_EQ(acquire<host::StringSuite>(host::kStringSuite), nullptr);

    ASSERT_NE(acquire<host::TimeSuite>(host::kTimeSuite), nullptr);
    EXPECT_EQ(basic_->releaseSuite(host::kTimeSuite.name, 1), 0);
    // A second release has nothing to release.
    EXPECT_NE(basic_->releaseSuite(host::kTimeSuite.name, 1), 0);
    const hostsim::SuiteCounts counts = host_->suiteCounts(host::kTimeSuite.name);
    EXPECT_EQ(counts.acquired, 1);
    EXPECT_EQ(counts.released, 1);
    EXPECT_EQ(counts.unbalancedReleases, 1);
}

TEST_F(StandInHostTest, TimeSuiteGivesTheHostTickRate) {
    const auto* time = acquire<host::TimeSuite>(host::kTimeSuite);
    ASSERT_NE(time, nullptr);
    int64_t ticks = 0;
    EXPECT_EQ(time->getTicksPerSecond(&ticks), 0);
    EXPECT_EQ(ticks, 254016000000);
    host_->failCallback(Callback::TicksPerSecond, true);
    ticks = 0;
    EXPECT_NE(time->getTicksPerSecond(&ticks), 0);
    EXPECT_EQ(ticks, 0);
}

TEST_F(StandInHostTest, StringsRoundTripAsUtf8) {
    const auto* strings = acquire<host::StringSuite>(host::kStringSuite);
    ASSERT_NE(strings, nullptr);
    host::HostString string{};
    const char text[] = "Clip \xC3\xA9t\xC3\xA9";
    ASSERT_EQ(strings->allocateFromUtf8(reinterpret_cast<const uint8_t*>(text), &string), 0);
    EXPECT_EQ(host_->stringText(string), text);
    uint32_t bytes = 4;
    uint8_t buffer[32];
    EXPECT_NE(strings->copyToUtf8(&string, buffer, &bytes), 0);
    EXPECT_EQ(bytes, sizeof text);
    bytes = sizeof buffer;
    ASSERT_EQ(strings->copyToUtf8(&string, buffer, &bytes), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer), text);
    EXPECT_EQ(host_->liveStrings(), 1u);
    EXPECT_EQ(strings->disposeString(&string), 0);
    EXPECT_NE(strings->disposeString(&string), 0);
    EXPECT_EQ(host_->liveStrings(), 0u);

    const uint8_t invalid[] = {0xC3, 0x28, 0};
    EXPECT_NE(strings->allocateFromUtf8(invalid, &string), 0);
    host_->failCallback(Callback::CreateString, true);
    EXPECT_NE(strings->allocateFromUtf8(reinterpret_cast<const uint8_t*>("x"), &string), 0);
}

TEST_F(StandInHostTest, MemoryBlocksAreCountedAndForeignOnesRefused) {
    void* block = record_->memFuncs->allocate(64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(host_->liveBlocks(), 1u);
    record_->memFuncs->dispose(block);
    EXPECT_EQ(host_->liveBlocks(), 0u);
    int local = 0;
    record_->memFuncs->dispose(&local);
    EXPECT_EQ(host_->badDisposals(), 1);
    host_->failCallback(Callback::Allocate, true);
    EXPECT_EQ(record_->memFuncs->allocate(64), nullptr);
}

TEST_F(StandInHostTest, RefreshRequestsAreRecordedAsUtf8) {
    const auto* files = acquire<host::FileManagerSuite>(host::kFileManagerSuite);
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->refreshFileAsync(u"/media/\u00e9t\u00e9.mov"), 0);
    host_->failCallback(Callback::RefreshFile, true);
    EXPECT_NE(files->refreshFileAsync(u"/media/b.mov"), 0);
    EXPECT_EQ(host_->refreshRequests(),
              (std::vector<std::string>{"/media/\xC3\xA9t\xC3\xA9.mov", "/media/b.mov"}));
}

TEST_F(StandInHostTest, TheNewestHostIsCurrent) {
    EXPECT_EQ(Host::current(), host_.get());
    {
        Host inner(module(), hostsim::HostOptions{.importerApiVersion = 21});
        EXPECT_EQ(Host::current(), &inner);
        EXPECT_EQ(host::readField<int32_t>(inner.standardParameters(), 0), 21);
    }
    EXPECT_EQ(Host::current(), host_.get());
}

}  // namespace
}  // namespace kestrova::moduletest
