// The verdict file: what is written, what is read back and what is refused.
#include "video/verdict_cache.h"

#include <gtest/gtest.h>

#include <sstream>

#include "fixtures.h"
#include "host/build_identity.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

const std::string kIdentity = verdictIdentityLine(false, "fp-1234");

const char* candidateName(int32_t deviceType) {
    return candidateDeviceName(deviceType);
}

VerdictTable read(const std::string& text, const std::string& identity = kIdentity) {
    std::istringstream in(text);
    VerdictTable table;
    readVerdicts(in, identity, candidateName, table, "decoder-choice.cache");
    return table;
}

const std::string kComments =
    "# Measured decoder verdicts. Delete this file to force re-measurement.\n"
    "# codecId width height useHardware deviceType softwareMsPerFrame chosenMsPerFrame\n";

TEST(VerdictCacheTest, IdentityLineNamesBuildSettingAndFfmpeg) {
    EXPECT_EQ(kIdentity, std::string("1 ") + kVersion + " " + kPlatform + " autohw fp-1234");
    EXPECT_EQ(verdictIdentityLine(true, "fp-1234"),
              std::string("1 ") + kVersion + " " + kPlatform + " forcehw fp-1234");
}

TEST(VerdictCacheTest, WritesMeasuredVerdictsInKeyOrder) {
    VerdictTable table;
    table[{27, 1920, 1080}] = {true, 7, "d3d11va", 4.2, 12.5, true};
    table[{27, 1280, 720}] = {false, 0, "software", 3.14159265, 3.14159265, true};
    table[{12, 640, 480}] = {false, 0, "software", 0, 0, false};  // nothing could decode
    table[{2, 320, 240}] = {false, 0, "software", 0.5, 0.5, true};
    std::ostringstream out;
    writeVerdicts(out, kIdentity, table);
    EXPECT_EQ(out.str(), kIdentity + "\n" + kComments +
                             "2 320 240 0 0 0.5 0.5\n"
                             "27 1280 720 0 0 3.14159 3.14159\n"
                             "27 1920 1080 1 7 12.5 4.2\n");
}

TEST(VerdictCacheTest, ReadsWhatItWrites) {
    VerdictTable table;
    table[{27, 1920, 1080}] = {true, 7, "d3d11va", 4.25, 12.5, true};
    table[{173, 3840, 2160}] = {false, 0, "software", 20, 20, true};
    std::ostringstream out;
    writeVerdicts(out, kIdentity, table);
    EXPECT_EQ(read(out.str()), table);
}

struct FileCase {
    const char* name;
    std::string text;
    VerdictTable expected;
};

const VerdictKey kKey{27, 1920, 1080};
const DecoderVerdict kD3d11{true, 7, "d3d11va", 4.2, 12.5, true};
const DecoderVerdict kSoftware{false, 0, "software", 4.2, 12.5, true};

const FileCase kFiles[] = {
    {"Plain", kIdentity + "\n" + kComments + "27 1920 1080 1 7 12.5 4.2\n", {{kKey, kD3d11}}},
    {"CrLfLines",
     kIdentity + "\r\n" + kComments + "27 1920 1080 1 7 12.5 4.2\r\n",
     {{kKey, kD3d11}}},
    {"NoFinalNewline", kIdentity + "\n27 1920 1080 1 7 12.5 4.2", {{kKey, kD3d11}}},
    {"UnknownDeviceTypeIsSoftware",
     kIdentity + "\n27 1920 1080 1 3 12.5 4.2\n",
     {{kKey, kSoftware}}},
    {"SoftwareLineDropsItsDeviceType",
     kIdentity + "\n27 1920 1080 0 7 12.5 4.2\n",
     {{kKey, kSoftware}}},
    {"BadLinesSkipped",
     kIdentity + "\n27,1920,1080,1,7,12.5,4.2\n27 1920 1080 1 7 12.5\n\n# 1 2 3 4 5 6 7\n"
                 "27 1920 99999999999 1 7 1 1\nx 1 2 3 4 5 6\n27 1920 1080 1 7 12.5 4.2\n",
     {{kKey, kD3d11}}},
    {"LaterLineReplaces",
     kIdentity + "\n27 1920 1080 0 0 1 1\n27 1920 1080 1 7 12.5 4.2\n",
     {{kKey, kD3d11}}},
    {"OtherForceSetting",
     verdictIdentityLine(true, "fp-1234") + "\n27 1920 1080 1 7 12.5 4.2\n",
     {}},
    {"OtherFfmpeg", verdictIdentityLine(false, "fp-9999") + "\n27 1920 1080 1 7 12.5 4.2\n", {}},
    {"IdentityWithTrailingSpace", kIdentity + " \n27 1920 1080 1 7 12.5 4.2\n", {}},
    {"Empty", "", {}},
};

class VerdictFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(VerdictFileTest, Reads) {
    EXPECT_EQ(read(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Files, VerdictFileTest, ::testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VerdictCacheTest, DiscardingAFileOfAnotherBuildIsLogged) {
    test::LogCapture log;
    read(verdictIdentityLine(true, "fp-1234") + "\n27 1920 1080 1 7 12.5 4.2\n");
    EXPECT_EQ(log.count("decoder selection: discarding decoder-choice.cache -- it was written by a "
                        "different plug-in or FFmpeg build"),
              1);
}

class VerdictCacheFileTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    const std::string path_ = (dir_.path() / "Kestrova" / kVerdictCacheFileName).string();
};

TEST_F(VerdictCacheFileTest, StoresPersistAcrossProcessesExceptUnmeasuredOnes) {
    const VerdictKey av1{225, 3840, 2160};
    const DecoderVerdict nothingDecodes;  // the default: software, not measured
    {
        VerdictCache cache(path_, kIdentity, candidateName);
        EXPECT_FALSE(cache.find(kKey));
        cache.store(kKey, kD3d11);
        cache.store(av1, nothingDecodes);
        EXPECT_EQ(cache.find(av1), nothingDecodes);  // kept for this process
    }
    EXPECT_EQ(test::readFile(path_), kIdentity + "\n" + kComments + "27 1920 1080 1 7 12.5 4.2\n");
    VerdictCache next(path_, kIdentity, candidateName);
    EXPECT_EQ(next.find(kKey), kD3d11);
    EXPECT_FALSE(next.find(av1));
}

TEST_F(VerdictCacheFileTest, ChangedForceSettingMeansReexamination) {
    VerdictCache(path_, kIdentity, candidateName).store(kKey, kD3d11);
    VerdictCache forced(path_, verdictIdentityLine(true, "fp-1234"), candidateName);
    EXPECT_FALSE(forced.find(kKey));
}

TEST_F(VerdictCacheFileTest, UnwritableFolderKeepsVerdictsInMemory) {
    test::LogCapture log;
    fs::create_directories(dir_.path() / "Kestrova");
    fs::create_directory(path_);  // a folder where the file should be
    VerdictCache cache(path_, kIdentity, candidateName);
    cache.store(kKey, kD3d11);
    EXPECT_EQ(cache.find(kKey), kD3d11);
    EXPECT_EQ(
        log.count("decoder selection: cannot write " + path_ + ", verdicts stay in memory only"),
        1);
}

}  // namespace
}  // namespace kestrova
