// imInit and imShutdown as the host sees them: the importer record, the
// suites acquired and released, and the failures initialisation reports.
#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "module_test_support.h"
#include "platform/platform.h"

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

TEST_F(InitTest, FillsTheImporterRecordAndLeavesOtherBytesAlone) {
    Host host(module());
    ASSERT_EQ(host.init(), host::imInitOk);

    for (std::size_t offset : ii::kClearedFlags) {
        EXPECT_EQ(field(host, offset), 0) << "offset " << offset;
    }
    EXPECT_EQ(field(host, ii::kAvoidAudioConform), 0);
    for (std::size_t offset :
         {ii::kCanCalcSize, ii::kCanTrim, ii::kCanCopy, ii::kCanProvidePeakAudio,
          ii::kCanProvideFileList, ii::kCanProvideClosedCaptions, ii::kUnalignedFlag}) {
        EXPECT_EQ(field(host, offset), 1) << "offset " << offset;
    }
    const int32_t priority = field(host, ii::kPriority);
    EXPECT_TRUE(priority == 50 || priority == 100) << priority;
    EXPECT_EQ(
        host::readField<const char16_t*>(host.importerInfo().data(), ii::kAcceleratorExtension),
        host.acceleratorExtension().data());

    // Every byte the importer does not own keeps the host's fill.
    std::set<std::size_t> written;
    auto mark = [&](std::size_t offset, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i)
            written.insert(offset + i);
    };
    for (std::size_t offset : ii::kClearedFlags)
        mark(offset, 4);
    for (std::size_t offset :
         {ii::kPriority, ii::kCanCalcSize, ii::kCanTrim, ii::kAvoidAudioConform, ii::kCanCopy,
          ii::kCanProvidePeakAudio, ii::kCanProvideFileList, ii::kCanProvideClosedCaptions,
          ii::kUnalignedFlag}) {
        mark(offset, 4);
    }
    mark(ii::kAcceleratorExtension, sizeof(void*));
    for (std::size_t i = 0; i < ii::kSize; ++i) {
        if (written.count(i) == 0) {
            EXPECT_EQ(host.importerInfo()[i], Host::kFillByte) << "byte " << i;
        }
    }
}

TEST_F(InitTest, AcceleratorExtensionIsCopiedWithoutTerminator) {
    Host host(module());
    ASSERT_EQ(host.init(), host::imInitOk);
    const auto& units = host.acceleratorExtension();
    EXPECT_EQ(std::u16string(units.data(), 6), u"kstidx");
    for (std::size_t i = 6; i < units.size(); ++i) {
        EXPECT_EQ(units[i], Host::kFillUnit) << "unit " << i;
    }
}

TEST_F(InitTest, SecondInitKeepsTheFirstSuiteBindingUntilShutdown) {
    Host host(module());
    ASSERT_EQ(host.init(), host::imInitOk);
    ASSERT_EQ(host.init(), host::imInitOk);
    EXPECT_EQ(field(host, ii::kCanCopy), 1);
    for (const host::SuiteName& suite : host::kSuiteTable) {
        EXPECT_EQ(host.suiteCounts(suite.name).acquired, 1) << suite.name;
    }
    EXPECT_EQ(host.shutdown(), host::imNoErr);
    expectEverySuiteReleased(host);

    // After a shutdown the suites are bound again.
    ASSERT_EQ(host.init(), host::imInitOk);
    EXPECT_EQ(host.suiteCounts(host::kTimeSuite.name).acquired, 2);
    EXPECT_EQ(host.shutdown(), host::imNoErr);
    expectEverySuiteReleased(host);
}

TEST_F(InitTest, ShutdownReleasesEverySuiteAndIsLogged) {
    Host host(module());
    ASSERT_EQ(host.init(), host::imInitOk);
    for (const host::SuiteName& suite : host::kSuiteTable) {
        EXPECT_EQ(host.suiteCounts(suite.name).acquired, 1) << suite.name;
    }
    const std::filesystem::path log =
        std::filesystem::path(*platform::environmentVariable("LOCALAPPDATA")) / "Kestrova" /
        "logs" / "Kestrova.log";
    const std::size_t before = readFile(log).size();
    EXPECT_EQ(host.shutdown(), host::imNoErr);
    expectEverySuiteReleased(host);
    EXPECT_NE(readFile(log).substr(before).find("imShutdown"), std::string::npos);
}

TEST_F(InitTest, MissingImporterRecordAnswersFailure) {
    Host host(module());
    EXPECT_EQ(host.call(host::imInit, nullptr, nullptr), host::imFailure);
    EXPECT_EQ(host.shutdown(), host::imNoErr);
    expectEverySuiteReleased(host);
}

// Every suite may be refused on its own, and all of them at once.
class RefusedSuiteTest : public SharedModuleTest,
                         public ::testing::WithParamInterface<std::string> {};

TEST_P(RefusedSuiteTest, InitialisationStillSucceeds) {
    Host host(module());
    for (const host::SuiteName& suite : host::kSuiteTable) {
        if (GetParam() == "all" || GetParam() == suite.name) {
            host.refuseSuite(suite.name);
        }
    }
    ASSERT_EQ(host.init(), host::imInitOk);
    EXPECT_EQ(field(host, ii::kCanProvidePeakAudio), 1);
    for (const host::SuiteName& suite : host::kSuiteTable) {
        const bool refused = GetParam() == "all" || GetParam() == suite.name;
        EXPECT_EQ(host.suiteCounts(suite.name).acquired, refused ? 0 : 1) << suite.name;
    }
    EXPECT_EQ(host.shutdown(), host::imNoErr);
    expectEverySuiteReleased(host);
}

INSTANTIATE_TEST_SUITE_P(EachSuite, RefusedSuiteTest,
                         ::testing::Values("MediaCore StringSuite", "Premiere PPix Suite",
                                           "Premiere PPix 2 Suite", "Premiere PPix Creator 2 Suite",
                                           "Premiere PPix Cache Suite", "Premiere Time Suite",
                                           "Importer File Manager Suite", "all"),
                         [](const auto& info) {
                             std::string name;
                             for (char c : info.param) {
                                 if (std::isalnum(static_cast<unsigned char>(c)))
                                     name += c;
                             }
                             return name;
                         });

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
struct PriorityCase {
    const char* name;
    std::optional<std::string> prefs;
    int32_t priority;
};

class PriorityTest : public ::testing::TestWithParam<PriorityCase> {};

TEST_P(PriorityTest, FollowsPreferOverBuiltIn) {
    ScopedAppData appData(GetParam().prefs);
    std::unique_ptr<hostsim::Module> module = privateModule(FfmpegFolder::Linked);
    ASSERT_NE(module, nullptr);
    Host host(*module);
    ASSERT_EQ(host.init(), host::imInitOk);
    EXPECT_EQ(field(host, ii::kPriority), GetParam().priority);
}

INSTANTIATE_TEST_SUITE_P(
    Prefs, PriorityTest,
    ::testing::Values(PriorityCase{"NoFile", std::nullopt, 50},
                      PriorityCase{"Set", "preferOverBuiltIn=1\n", 100},
                      PriorityCase{"SetWithCommentAndCrLf", "# mine\r\npreferOverBuiltIn = yes\r\n",
                                   100},
                      PriorityCase{"CapitalisedWordIsNotTrue", "preferOverBuiltIn=TRUE\n", 50}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrova::moduletest
