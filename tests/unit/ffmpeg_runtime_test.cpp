#include "ffmpeg/ffmpeg_runtime.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/logger.h"
#include "test_support.h"

namespace kestrova::ffmpeg {
namespace {

namespace fs = std::filesystem;

std::string moduleFolderOf(const std::string& fakeSet) {
    return KESTROVA_BINARY_DIR "/tests/fakesets/" + fakeSet;
}

std::string ffmpegFolderOf(const std::string& fakeSet) {
    return moduleFolderOf(fakeSet) + "/ffmpeg";
}

// Lines of /proc/self/maps naming a file below `folder`: what is loaded from it.
std::vector<std::string> mappedFilesBelow(const std::string& folder) {
    const std::string prefix = fs::weakly_canonical(folder).string() + "/";
    std::ifstream maps("/proc/self/maps");
    std::vector<std::string> found;
    for (std::string line; std::getline(maps, line);) {
        if (line.find(prefix) != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}

std::vector<const void*> slotsOf(const FfmpegFunctions& functions) {
    std::vector<const void*> slots(kSymbolCount);
    std::memcpy(slots.data(), &functions, sizeof functions);
    return slots;
}

std::size_t boundSlots(const FfmpegFunctions& functions) {
    std::size_t bound = 0;
    for (const void* slot : slotsOf(functions)) {
        bound += slot != nullptr;
    }
    return bound;
}

TEST(FfmpegSymbolTable, CountsPerLibraryInTableOrder) {
    int counts[kLibraryCount] = {};
    int previousLibrary = 0;
    for (const FfmpegSymbol& symbol : kSymbols) {
        ASSERT_GE(symbol.library, previousLibrary) << symbol.name << " breaks the library order";
        ASSERT_LT(symbol.library, kLibraryCount);
        previousLibrary = symbol.library;
        ++counts[symbol.library];
    }
    EXPECT_EQ(counts[0], 43);
    EXPECT_EQ(counts[1], 23);
    EXPECT_EQ(counts[2], 19);
    EXPECT_EQ(counts[3], 2);
    EXPECT_EQ(counts[4], 6);
    EXPECT_EQ(kSymbolCount, 93);
}

TEST(FfmpegSymbolTable, NamesAreUniqueAndCarryTheirLibraryPrefix) {
    std::set<std::string> names;
    for (const FfmpegSymbol& symbol : kSymbols) {
        EXPECT_TRUE(names.insert(symbol.name).second) << symbol.name;
    }
    const char* const prefixes[kLibraryCount] = {"av", "av", "av", "sws", "sw"};
    for (const FfmpegSymbol& symbol : kSymbols) {
        EXPECT_EQ(std::string(symbol.name).rfind(prefixes[symbol.library], 0), 0u) << symbol.name;
    }
}

TEST(FfmpegSymbolTable, SlotOrderMatchesTheFunctionTable) {
    struct Slot {
        int index;
        const char* name;
        std::size_t offset;
    };
    const Slot slots[] = {
        {0, "avutil_version", offsetof(FfmpegFunctions, avutil_version)},
        {2, "avutil_license", offsetof(FfmpegFunctions, avutil_license)},
        {42, "av_get_media_type_string", offsetof(FfmpegFunctions, av_get_media_type_string)},
        {43, "avcodec_version", offsetof(FfmpegFunctions, avcodec_version)},
        {44, "avcodec_configuration", offsetof(FfmpegFunctions, avcodec_configuration)},
        {65, "avcodec_parameters_copy", offsetof(FfmpegFunctions, avcodec_parameters_copy)},
        {66, "avformat_version", offsetof(FfmpegFunctions, avformat_version)},
        {71, "av_seek_frame", offsetof(FfmpegFunctions, av_seek_frame)},
        {84, "avio_closep", offsetof(FfmpegFunctions, avio_closep)},
        {85, "swscale_version", offsetof(FfmpegFunctions, swscale_version)},
        {86, "sws_freeContext", offsetof(FfmpegFunctions, sws_freeContext)},
        {87, "swresample_version", offsetof(FfmpegFunctions, swresample_version)},
        {92, "swr_get_delay", offsetof(FfmpegFunctions, swr_get_delay)},
    };
    for (const Slot& slot : slots) {
        EXPECT_STREQ(kSymbols[slot.index].name, slot.name);
        EXPECT_EQ(slot.offset, static_cast<std::size_t>(slot.index) * sizeof(void*)) << slot.name;
    }
    EXPECT_EQ(sizeof(FfmpegFunctions), kSymbolCount * sizeof(void*));
}

TEST(FfmpegRuntimeNames, LibraryFileNamesCarryTheExpectedMajor) {
    const char* const expected[kLibraryCount] = {"libavutil.so.61", "libavcodec.so.63",
                                                 "libavformat.so.63", "libswscale.so.10",
                                                 "libswresample.so.7"};
    for (int i = 0; i < kLibraryCount; ++i) {
        EXPECT_EQ(libraryFileName(kLibrarySpecs[i]), expected[i]);
    }
}

TEST(FfmpegRuntimeNames, StatusNames) {
    EXPECT_STREQ(statusName(DiscoveryStatus::Ok), "Ok");
    EXPECT_STREQ(statusName(DiscoveryStatus::NoCandidateDirectory), "NoCandidateDirectory");
    EXPECT_STREQ(statusName(DiscoveryStatus::IncompleteSet), "IncompleteSet");
    EXPECT_STREQ(statusName(DiscoveryStatus::ArchitectureMismatch), "ArchitectureMismatch");
    EXPECT_STREQ(statusName(DiscoveryStatus::VersionMismatch), "VersionMismatch");
    EXPECT_STREQ(statusName(static_cast<DiscoveryStatus>(5)), "Unknown");
    EXPECT_STREQ(statusName(LoadStatus::Ok), "Ok");
    EXPECT_STREQ(statusName(LoadStatus::NotLocated), "NotLocated");
    EXPECT_STREQ(statusName(LoadStatus::LibraryOpenFailed), "LibraryOpenFailed");
    EXPECT_STREQ(statusName(LoadStatus::SymbolMissing), "SymbolMissing");
    EXPECT_STREQ(statusName(LoadStatus::VersionMismatch), "VersionMismatch");
    EXPECT_STREQ(statusName(static_cast<LoadStatus>(-1)), "Unknown");
}

// Loads run with the log redirected to a private folder, so their lines can be read back.
class FfmpegLoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::close();
        Logger::setLevel(static_cast<int32_t>(LogLevel::Info));
    }
    void TearDown() override { Logger::close(); }

    std::string logText() {
        Logger::close();
        return test::readFile(logDir_.path() / "Kestrova" / "logs" / "Kestrova.log");
    }
    bool logged(const std::string& line) {
        return logText().find("] " + line + "\n") != std::string::npos;
    }

    test::TempDir logDir_;
    test::ScopedEnv env_{"LOCALAPPDATA", logDir_.str().c_str()};
};

TEST_F(FfmpegLoadTest, GoodSetBindsEverySymbolAndRecordsTheBuild) {
    const std::string folder = ffmpegFolderOf("good");
    {
        const auto runtime = FfmpegRuntime::loadFrom(moduleFolderOf("good"));
        ASSERT_TRUE(runtime->available()) << runtime->loadMessage;
        EXPECT_EQ(runtime->loadStatus, LoadStatus::Ok);
        EXPECT_EQ(runtime->discoveryStatus, DiscoveryStatus::Ok);
        EXPECT_EQ(runtime->loadMessage, "");
        EXPECT_EQ(runtime->missingSymbol, "");
        EXPECT_EQ(runtime->directory, folder);
        EXPECT_EQ(runtime->examinedDirectories, std::vector<std::string>{folder});
        ASSERT_EQ(runtime->candidates.size(), 1u);
        EXPECT_TRUE(runtime->candidates[0].setComplete);
        EXPECT_TRUE(runtime->candidates[0].architectureOk);
        ASSERT_EQ(runtime->libraries.size(), 5u);
        EXPECT_EQ(runtime->libraries[2].baseName, "avformat");
        EXPECT_EQ(runtime->libraries[2].fileName, "libavformat.so.63");
        EXPECT_EQ(runtime->libraries[2].path, folder + "/libavformat.so.63");

        EXPECT_EQ(boundSlots(runtime->fn()), static_cast<std::size_t>(kSymbolCount));
        EXPECT_EQ(runtime->fn().avcodec_version(), (63u << 16) | (7u << 8) | 1u);
        EXPECT_EQ(runtime->licence, "fake licence");
        EXPECT_EQ(runtime->configuration, "--fake-configuration");
        ASSERT_EQ(runtime->versions.size(), 5u);
        EXPECT_EQ(runtime->versions[4].baseName, "swresample");
        EXPECT_EQ(runtime->versions[4].major, 7);
        EXPECT_EQ(runtime->versions[4].minor, 0);
        EXPECT_EQ(runtime->versions[4].micro, 9);
        EXPECT_EQ(runtime->versions[4].expectedMajor, 7);
        EXPECT_EQ(runtime->fingerprint,
                  folder +
                      "|avutil-61.3.100,avcodec-63.7.1,avformat-63.2.0,swscale-10.1.4,"
                      "swresample-7.0.9,|fake licence");
        EXPECT_EQ(mappedFilesBelow(folder).empty(), false);
    }
    // A runtime loaded explicitly gives its libraries back.
    EXPECT_EQ(mappedFilesBelow(folder), std::vector<std::string>{});
    EXPECT_TRUE(
        logged("FFmpeg loaded from " + folder + " (licence: fake licence), 93 symbols bound"));
}

TEST_F(FfmpegLoadTest, ModuleFolderIsNormalisedLexically) {
    const auto runtime =
        FfmpegRuntime::loadFrom(KESTROVA_BINARY_DIR "/tests/fakesets/none/../good/./");
    ASSERT_TRUE(runtime->available()) << runtime->loadMessage;
    EXPECT_EQ(runtime->directory, ffmpegFolderOf("good"));
    EXPECT_EQ(runtime->fingerprint.substr(0, runtime->directory.size() + 1),
              ffmpegFolderOf("good") + "|");
}

TEST_F(FfmpegLoadTest, NonAsciiInstallFolderLoads) {
    test::TempDir root;
    const fs::path module = root.path() / "Programme Vidéo ü 映像";
    fs::create_directories(module);
    fs::copy(ffmpegFolderOf("good"), module / "ffmpeg", fs::copy_options::recursive);
    const auto runtime = FfmpegRuntime::loadFrom(module.string());
    ASSERT_TRUE(runtime->available()) << runtime->loadMessage;
    EXPECT_EQ(runtime->directory, (module / "ffmpeg").string());
}

TEST_F(FfmpegLoadTest, UnresolvableModuleFolder) {
    const auto runtime = FfmpegRuntime::loadFrom("");
    EXPECT_EQ(runtime->discoveryStatus, DiscoveryStatus::NoCandidateDirectory);
    EXPECT_EQ(runtime->loadStatus, LoadStatus::NotLocated);
    EXPECT_EQ(runtime->loadMessage,
              "FFmpeg not found: the bundled FFmpeg directory could not be resolved from the "
              "module path");
    EXPECT_TRUE(runtime->examinedDirectories.empty());
}

// One row per way a set can fail, with what the runtime reports.
struct FailureCase {
    const char* set;
    DiscoveryStatus discovery;
    LoadStatus load;
    // The load message after the folder-specific prefix; "{dir}" stands for the ffmpeg folder.
    const char* message;
    std::size_t libraryFilesFound;
};

std::string withFolder(std::string text, const std::string& folder) {
    for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;) {
        text.replace(at, 5, folder);
    }
    return text;
}

class FfmpegFailureTest : public FfmpegLoadTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FfmpegFailureTest, ReportsTheCauseAndHoldsNothing) {
    const FailureCase& c = GetParam();
    const std::string folder = ffmpegFolderOf(c.set);
    const std::string message = withFolder(c.message, folder);
    const auto runtime = FfmpegRuntime::loadFrom(moduleFolderOf(c.set));

    EXPECT_FALSE(runtime->available());
    EXPECT_EQ(runtime->discoveryStatus, c.discovery);
    EXPECT_EQ(runtime->loadStatus, c.load);
    EXPECT_EQ(boundSlots(runtime->fn()), 0u);
    EXPECT_TRUE(runtime->versions.empty());
    EXPECT_TRUE(runtime->libraries.empty());
    EXPECT_EQ(runtime->fingerprint, "");
    EXPECT_EQ(runtime->licence, "");
    // Nothing loaded stays behind, whether or not loading was attempted.
    EXPECT_EQ(mappedFilesBelow(folder), std::vector<std::string>{});

    const bool discovered = c.discovery == DiscoveryStatus::Ok;
    EXPECT_EQ(runtime->directory, discovered ? folder : "");
    if (!discovered) {
        EXPECT_EQ(runtime->loadMessage, "FFmpeg not found: " + message);
        EXPECT_EQ(runtime->discoveryMessage, message);
        EXPECT_TRUE(logged("FFmpeg discovery failed (" + std::string(statusName(c.discovery)) +
                           "): " + message + "; examined " +
                           std::to_string(runtime->examinedDirectories.size()) + " directories"));
    } else {
        const std::string loadMessage =
            "no candidate directory supplied a usable FFmpeg set (1 directories examined): " +
            message;
        EXPECT_EQ(runtime->loadMessage.substr(0, loadMessage.size()), loadMessage);
        const std::string log = logText();
        EXPECT_NE(log.find("] FFmpeg candidate rejected (" + folder + "): " + message),
                  std::string::npos);
        EXPECT_NE(log.find("] FFmpeg resolution failed after examining all candidates: " +
                           runtime->loadMessage + "\n"),
                  std::string::npos);
    }

    if (c.libraryFilesFound == 0) {
        EXPECT_TRUE(runtime->candidates.empty());
        EXPECT_TRUE(runtime->examinedDirectories.empty());
    } else {
        EXPECT_EQ(runtime->examinedDirectories, std::vector<std::string>{folder});
        ASSERT_EQ(runtime->candidates.size(), 1u);
        EXPECT_EQ(runtime->candidates[0].directory, folder);
        EXPECT_EQ(runtime->candidates[0].files.size(), c.libraryFilesFound);
        EXPECT_EQ(runtime->candidates[0].setComplete, c.libraryFilesFound == 5);
        EXPECT_EQ(runtime->candidates[0].architectureOk,
                  c.discovery != DiscoveryStatus::ArchitectureMismatch &&
                      c.discovery != DiscoveryStatus::IncompleteSet);
    }
}

INSTANTIATE_TEST_SUITE_P(
    FakeSets, FfmpegFailureTest,
    ::testing::Values(
        FailureCase{"none", DiscoveryStatus::NoCandidateDirectory, LoadStatus::NotLocated,
                    "the bundled FFmpeg directory does not exist: {dir}", 0},
        FailureCase{"incomplete", DiscoveryStatus::IncompleteSet, LoadStatus::NotLocated,
                    "the bundled FFmpeg set is incomplete; all five libraries must be present "
                    "in {dir}",
                    4},
        // Both avcodec and swresample are aarch64 builds: the first in table order is named.
        FailureCase{"foreign-arch", DiscoveryStatus::ArchitectureMismatch, LoadStatus::NotLocated,
                    "libavcodec.so.63 in {dir} is not built for this architecture", 5},
        FailureCase{"missing-symbol", DiscoveryStatus::Ok, LoadStatus::SymbolMissing,
                    "required FFmpeg symbol not found: av_seek_frame", 5},
        FailureCase{"avcodec62", DiscoveryStatus::Ok, LoadStatus::VersionMismatch,
                    "FFmpeg major version mismatch: avcodec runtime 62 expected 63;", 5},
        FailureCase{"unloadable", DiscoveryStatus::Ok, LoadStatus::LibraryOpenFailed,
                    "could not load {dir}/libavformat.so.63: dlopen failed: ", 5}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
        std::string name = info.param.set;
        for (char& ch : name) {
            if (ch == '-') {
                ch = '_';
            }
        }
        return name;
    });

TEST_F(FfmpegLoadTest, VersionMismatchNamesOnlyTheMismatchedLibrary) {
    const auto runtime = FfmpegRuntime::loadFrom(moduleFolderOf("avcodec62"));
    const std::string prefix = "FFmpeg major version mismatch:";
    const std::size_t at = runtime->loadMessage.find(prefix);
    ASSERT_NE(at, std::string::npos) << runtime->loadMessage;
    EXPECT_EQ(runtime->loadMessage.substr(at + prefix.size()), " avcodec runtime 62 expected 63;");
}

TEST(FfmpegRuntimeInstance, OneRuntimeLoadedFromBesideTheProgram) {
    const FfmpegRuntime* seen[4] = {};
    std::vector<std::thread> threads;
    for (const FfmpegRuntime*& slot : seen) {
        threads.emplace_back([&slot] { slot = &FfmpegRuntime::instance(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const FfmpegRuntime* runtime : seen) {
        EXPECT_EQ(runtime, seen[0]);
    }
    const FfmpegRuntime& runtime = *seen[0];
    // The unit tests run from the build's bin folder, where the real FFmpeg is provided.
    const std::string folder = (fs::canonical(KESTROVA_BINARY_DIR "/bin") / "ffmpeg").string();
    if (fs::is_directory(folder)) {
        EXPECT_EQ(runtime.examinedDirectories, std::vector<std::string>{folder});
    } else {
        EXPECT_EQ(runtime.discoveryMessage,
                  "the bundled FFmpeg directory does not exist: " + folder);
    }
}

TEST(FfmpegRuntimeReal, BindsTheProvidedBuild) {
    const std::string folder = KESTROVA_BINARY_DIR "/bin/ffmpeg";
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "no FFmpeg provided in " << folder;
    }
    const auto runtime = FfmpegRuntime::loadFrom(KESTROVA_BINARY_DIR "/bin");
    ASSERT_EQ(runtime->loadStatus, LoadStatus::Ok) << runtime->loadMessage;
    EXPECT_EQ(boundSlots(runtime->fn()), static_cast<std::size_t>(kSymbolCount));
    ASSERT_EQ(runtime->versions.size(), 5u);
    for (const LibraryVersion& version : runtime->versions) {
        EXPECT_EQ(version.major, version.expectedMajor) << version.baseName;
    }
    EXPECT_NE(runtime->licence.find("GPL"), std::string::npos) << runtime->licence;
    EXPECT_NE(runtime->configuration.find("--enable-shared"), std::string::npos);
    EXPECT_EQ(runtime->fingerprint.rfind(runtime->directory + "|avutil-61.", 0), 0u)
        << runtime->fingerprint;
    EXPECT_STREQ(runtime->fn().avcodec_get_name(AV_CODEC_ID_H264), "h264");
}

}  // namespace
}  // namespace kestrova::ffmpeg
