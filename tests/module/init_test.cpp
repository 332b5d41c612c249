// imInit and imShutdown as the host sees them: the importer record, the
// suites acquired and released, and the failures initialisation reports.
#include <gtest/gtest.h>

#include <array>

#include "module_test_support.h"

namespace kestrova::moduletest {
namespace {

using hostsim::FfmpegFolder;
using hostsim::Host;
namespace ii = host::importinfo;

int32_t field(const Host& host, std::size_t offset) {
    return host::readField<int32_t>(host.importerInfo().data(), offset);
}

void expectEverySuiteReleased(const Host& host) {
    for (const host::SuiteName& suite : host::kSuiteTable) {
        const hostsim::SuiteCounts counts = host.suiteCounts(suite.name);
        EXPECT_EQ(counts.released, counts.acquired) << suite.name;
        EXPECT_EQ(counts.unbalancedReleases, 0) << suite.name;
    }
}

using InitTest = SharedModuleTest;

// The importer writes its own fields and leaves every other byte with the
// host's fill.
TEST_F(InitTest, FillsTheImporterRecordAndLeavesOtherBytesAlone) {
    Host host(module());
    ASSERT_EQ(host.init(), host::imInitOk);
    const int32_t priority = field(host, ii::kPriority);
    EXPECT_TRUE(priority == 50 || priority == 100) << priority;

    std::array<uint8_t, ii::kSize> expected;
    expected.fill(Host::kFillByte);
    for (std::size_t offset : ii::kClearedFlags) {
        host::writeField<int32_t>(expected.data(), offset, 0);
    }
    host::writeField<int32_t>(expected.data(), ii::kAvoidAudioConform, 0);
    for (std::size_t offset :
         {ii::kCanCalcSize, ii::kCanTrim, ii::kCanCopy, ii::kCanProvidePeakAudio,
          ii::kCanProvideFileList, ii::kCanProvideClosedCaptions, ii::kUnalignedFlag}) {
        host::writeField<int32_t>(expected.data(), offset, 1);
    }
    host::writeField<int32_t>(expected.data(), ii::kPriority, priority);
    // The extension goes into the host's buffer, without a terminator.
    const auto& units = host.acceleratorExtension();
    host::writeField<const char16_t*>(expected.data(), ii::kAcceleratorExtension, units.data());
    EXPECT_EQ(host.importerInfo(), expected);
    EXPECT_EQ(std::u16string(units.data(), 6), u"kstidx");
    for (std::size_t i = 6; i < units.size(); ++i) {
        EXPECT_EQ(units[i], Host::kFillUnit) << "unit " << i;
    }
}

// A second imInit keeps the first suite binding; shutdown releases it all,
// after which the suites are bound afresh.
TEST_F(InitTest, SecondInitKeepsTheSuitesAndShutdownReleasesThem) {
    Host host(module());
    for (int round = 1; round <= 2; ++round) {
        ASSERT_EQ(host.init(), host::imInitOk);
        ASSERT_EQ(host.init(), host::imInitOk);
        EXPECT_EQ(field(host, ii::kCanCopy), 1);
        for (const host::SuiteName& suite : host::kSuiteTable) {
            EXPECT_EQ(host.suiteCounts(suite.name).acquired, round) << suite.name;
        }
        EXPECT_EQ(host.shutdown(), host::imNoErr);
        expectEverySuiteReleased(host);
    }
}

TEST_F(InitTest, MissingImporterRecordAnswersFailure) {
    Host host(module());
    EXPECT_EQ(host.call(host::imInit, nullptr, nullptr), host::imFailure);
    EXPECT_EQ(host.shutdown(), host::imNoErr);
    expectEverySuiteReleased(host);
}

TEST_F(InitTest, RefusedSuitesAreDoneWithout) {
    for (const std::string refused : {host::kTimeSuite.name, "all"}) {
        SCOPED_TRACE(refused);
        auto isRefused = [&](const host::SuiteName& suite) {
            return refused == "all" || refused == suite.name;
        };
        Host host(module());
        for (const host::SuiteName& suite : host::kSuiteTable) {
            if (isRefused(suite)) {
                host.refuseSuite(suite.name);
            }
        }
        ASSERT_EQ(host.init(), host::imInitOk);
        EXPECT_EQ(field(host, ii::kCanProvidePeakAudio), 1);
        for (const host::SuiteName& suite : host::kSuiteTable) {
            EXPECT_EQ(host.suiteCounts(suite.name).acquired, isRefused(suite) ? 0 : 1)
                << suite.name;
        }
        EXPECT_EQ(host.shutdown(), host::imNoErr);
        expectEverySuiteReleased(host);
    }
}

TEST(InitFailureTest, WithoutFfmpegAnswersFailureAndLogsWhy) {
    ScopedAppData appData;
    std::unique_ptr<hostsim::Module> module = privateModule(FfmpegFolder::Missing);
    ASSERT_NE(module, nullptr);
    Host host(*module);
    EXPECT_EQ(host.init(), host::imFailure);
    // Nothing after the failed load touches the record.
    EXPECT_EQ(field(host, ii::kPriority), int32_t(0xA5A5A5A5));
    EXPECT_EQ(host.shutdown(), host::imNoErr);
    expectEverySuiteReleased(host);
    EXPECT_NE(readFile(appData.logFile()).find("FFmpeg unavailable (NotLocated)"),
              std::string::npos);
}

// The preferences file decides the priority; it is read once per process, so
// each case needs a private copy of the module.
TEST(InitPriorityTest, FollowsPreferOverBuiltIn) {
    for (const auto& [prefs, priority] :
         {std::pair<std::optional<std::string>, int32_t>{std::nullopt, 50},
          {"preferOverBuiltIn=1\n", 100}}) {
        ScopedAppData appData(prefs);
        std::unique_ptr<hostsim::Module> module = privateModule(FfmpegFolder::Linked);
        ASSERT_NE(module, nullptr);
        Host host(*module);
        ASSERT_EQ(host.init(), host::imInitOk);
        EXPECT_EQ(field(host, ii::kPriority), priority) << prefs.value_or("no file");
    }
}

}  // namespace
}  // namespace kestrova::moduletest
