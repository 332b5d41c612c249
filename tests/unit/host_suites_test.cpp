#include "host/host_suites.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/clip_prefs.h"

namespace kestrova::host {
namespace {

// A minimal host: counts its allocations and hands out one suite.
struct FakeHost {
    static inline int liveHostBlocks = 0;
    static inline std::vector<std::string> released;
    static inline std::u16string refreshed;

    static void* allocate(std::size_t size) {
        ++liveHostBlocks;
        return std::malloc(size);
    }
    static void dispose(void* block) {
        --liveHostBlocks;
        std::free(block);
    }
    static int32_t acquire(const char* name, int32_t version, const void** suite) {
        static const TimeSuite time{[](int64_t* ticks) {
            *ticks = kTicksPerSecond;
            return 0;
        }};
        static const FileManagerSuite files{nullptr, [](const char16_t* path) {
                                                refreshed = path;
                                                return 0;
                                            }};
        if (name == std::string(kTimeSuite.name) && version == kTimeSuite.version) {
            *suite = &time;
            return 0;
        }
        if (name == std::string(kFileManagerSuite.name) && version == kFileManagerSuite.version) {
            *suite = &files;
            return 0;
        }
        return -1;
    }
    static int32_t release(const char* name, int32_t) {
        released.push_back(name);
        return 0;
    }
    static BasicSuite* basic() {
        static BasicSuite suite{&acquire, &release};
        return &suite;
    }

    HostMemoryFuncs memory{&allocate, &dispose};
    HostUtilityFuncs utility{&basic};
    HostSuitesRecord suites{1, &memory, &utility};
    unsigned char stdParms[stdparms::kSize] = {};

    FakeHost() {
        writeField<int32_t>(stdParms, stdparms::kInterfaceVersion, kDefaultImporterApiVersion);
        writeField<const HostSuitesRecord*>(stdParms, stdparms::kSuites, &suites);
    }
};

class HostSuitesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        HostSuites::release();
        FakeHost::released.clear();
        FakeHost::liveHostBlocks = 0;
    }
    void TearDown() override { HostSuites::release(); }
    FakeHost host_;
};

// Offered suites are bound, refused ones stay null; a second bind keeps the first
// binding; release gives back only the acquired suites, in table order.
TEST_F(HostSuitesTest, BindKeepsTheFirstHostAndReleasesOnlyAcquiredSuites) {
    HostSuites::bind(host_.stdParms);
    const TimeSuite* first = HostSuites::timeSuite();
    EXPECT_NE(first, nullptr);
    EXPECT_NE(HostSuites::fileManagerSuite(), nullptr);
    EXPECT_EQ(HostSuites::stringSuite(), nullptr);
    EXPECT_EQ(HostSuites::ppixSuite(), nullptr);
    EXPECT_EQ(HostSuites::ticksPerSecond(), kTicksPerSecond);
    HostString ignored{};
    EXPECT_FALSE(createHostString("text", ignored));
    FakeHost other;
    HostSuites::bind(other.stdParms);
    EXPECT_EQ(HostSuites::timeSuite(), first);
    EXPECT_EQ(HostSuites::memoryFunctions(), &host_.memory);
    HostSuites::release();
    EXPECT_EQ(FakeHost::released,
              (std::vector<std::string>{kTimeSuite.name, kFileManagerSuite.name}));
    EXPECT_EQ(HostSuites::timeSuite(), nullptr);
}

TEST_F(HostSuitesTest, BlocksReturnToWhoeverAllocatedThem) {
    void* early = hostAlloc(16);
    ASSERT_NE(early, nullptr);
    HostSuites::bind(host_.stdParms);
    void* late = hostAlloc(16);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(FakeHost::liveHostBlocks, 1);
    // The early block came from the C runtime and must not reach the host.
    hostFree(early);
    EXPECT_EQ(FakeHost::liveHostBlocks, 1);
    hostFree(late);
    EXPECT_EQ(FakeHost::liveHostBlocks, 0);
    hostFree(nullptr);
}

TEST_F(HostSuitesTest, RefreshSendsTheWidePath) {
    refreshFileAsync("/media/clip.mov");
    HostSuites::bind(host_.stdParms);
    refreshFileAsync("/media/cl\xC3\xADp.mov");
    EXPECT_EQ(FakeHost::refreshed, u"/media/cl\u00EDp.mov");
}

TEST(ClipPrefsTest, DefaultsHaveNoOverridesAndEachOverrideCounts) {
    const ClipPrefs defaults = ClipPrefs::defaults();
    EXPECT_FALSE(defaults.hasOverrides());
    const std::vector<std::pair<int, int32_t>> overrides = {
        {ClipPrefs::kPrimariesOverride, 1},
        {ClipPrefs::kTransferOverride, 0},
        {ClipPrefs::kPixelFormatOverride, 0x61726762}};
    for (const auto& [field, value] : overrides) {
        ClipPrefs prefs = defaults;
        prefs.fields[field] = value;
        EXPECT_TRUE(prefs.hasOverrides()) << field;
    }
    ClipPrefs halfAspect = defaults;
    halfAspect.fields[ClipPrefs::kAspectNumOverride] = 4;
    EXPECT_FALSE(halfAspect.hasOverrides());
    halfAspect.fields[ClipPrefs::kAspectDenOverride] = 3;
    EXPECT_TRUE(halfAspect.hasOverrides());
}

}  // namespace
}  // namespace kestrova::host
