#include "ffmpeg/ffmpeg_runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/logger.h"
#include "test_support.h"

namespace kestrova::ffmpeg {
namespace {

namespace fs = std::filesystem;

std::string moduleFolderOf(const std::string& set) {
    return KESTROVA_BINARY_DIR "/tests/fakesets/" + set;
}
std::string ffmpegFolderOf(const std::string& set) {
    return moduleFolderOf(set) + "/ffmpeg";
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

// Bound slots among the required ones, which come first in the table.
std::size_t boundSlots(const FfmpegFunctions& functions) {
    std::vector<const void*> slots(kSymbolCount);
    std::memcpy(slots.data(), &functions, slots.size() * sizeof(void*));
    return slots.size() - std::count(slots.begin(), slots.end(), nullptr);
}

// Loads log into a private folder, so their lines can be read back.
class FfmpegLoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::close();
        Logger::setLevel(static_cast<int32_t>(LogLevel::Info));
    }
    void TearDown() override { Logger::close(); }

    std::string logText() {
        Logger::close();
        return test::readFile(test::logFileIn(logDir_));
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
        EXPECT_EQ(runtime->directory, folder);
        EXPECT_EQ(runtime->examinedDirectories, std::vector<std::string>{folder});
        ASSERT_EQ(runtime->libraries.size(), 5u);
        EXPECT_EQ(runtime->libraries[2].path, folder + "/libavformat.so.63");

        EXPECT_EQ(boundSlots(runtime->fn()), static_cast<std::size_t>(kSymbolCount));
        // Functions only tests call are optional: the fake set lacks them.
        EXPECT_EQ(runtime->fn().av_image_get_linesize, nullptr);
        EXPECT_EQ(runtime->fn().avcodec_version(), (63u << 16) | (7u << 8) | 1u);
        EXPECT_EQ(runtime->licence, "fake licence");
        EXPECT_EQ(runtime->configuration, "--fake-configuration");
        EXPECT_EQ(runtime->fingerprint,
                  folder +
                      "|avutil-61.3.100,avcodec-63.7.1,avformat-63.2.0,swscale-10.1.4,"
                      "swresample-7.0.9,|fake licence");
        EXPECT_FALSE(mappedFilesBelow(folder).empty());
    }
    // A runtime loaded explicitly gives its libraries back.
    EXPECT_EQ(mappedFilesBelow(folder), std::vector<std::string>{});
    EXPECT_TRUE(logged("FFmpeg loaded from " + folder + " (licence: fake licence), " +
                       std::to_string(ffmpeg::kSymbolCount) + " symbols bound"));
}

TEST_F(FfmpegLoadTest, ModuleFolderIsNormalisedLexicallyAndMayBeNonAscii) {
    const auto runtime =
        FfmpegRuntime::loadFrom(KESTROVA_BINARY_DIR "/tests/fakesets/none/../good/./");
    ASSERT_TRUE(runtime->available()) << runtime->loadMessage;
    EXPECT_EQ(runtime->directory, ffmpegFolderOf("good"));
    EXPECT_TRUE(runtime->fingerprint.starts_with(ffmpegFolderOf("good") + "|"));

    test::TempDir root;
    const fs::path module = root.path() / "Programme Vidéo ü 映像";
    fs::create_directories(module);
    fs::copy(ffmpegFolderOf("good"), module / "ffmpeg", fs::copy_options::recursive);
    const auto copied = FfmpegRuntime::loadFrom(module.string());
    ASSERT_TRUE(copied->available()) << copied->loadMessage;
    EXPECT_EQ(copied->directory, (module / "ffmpeg").string());
}

TEST_F(FfmpegLoadTest, UnresolvableModuleFolder) {
    const auto runtime = FfmpegRuntime::loadFrom("");
    EXPECT_EQ(runtime->discoveryStatus, DiscoveryStatus::NoCandidateDirectory);
    EXPECT_EQ(runtime->loadStatus, LoadStatus::NotLocated);
    EXPECT_EQ(runtime->loadMessage,
              "FFmpeg not found: the bundled FFmpeg directory could not be resolved from the "
              "module path");
    EXPECT_TRUE(runtime->examinedDirectories.empty());
    // Out-of-range statuses have a name too.
    EXPECT_STREQ(statusName(static_cast<DiscoveryStatus>(5)), "Unknown");
    EXPECT_STREQ(statusName(static_cast<LoadStatus>(-1)), "Unknown");
}

// One row per way a set can fail, with what the runtime reports.
struct FailureCase {
    const char* set;
    DiscoveryStatus discovery;
    LoadStatus load;
    // The cause; "{dir}" stands for the ffmpeg folder, a final "*" for system text.
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
        const std::size_t star = loadMessage.find('*');
        EXPECT_TRUE(star == std::string::npos
                        ? runtime->loadMessage == loadMessage
                        : runtime->loadMessage.starts_with(loadMessage.substr(0, star)))
            << runtime->loadMessage;
        const std::string log = logText();
        EXPECT_NE(log.find("] FFmpeg candidate rejected (" + folder +
                           "): " + message.substr(0, message.find('*'))),
                  std::string::npos);
        EXPECT_NE(log.find("] FFmpeg resolution failed after examining all candidates: " +
                           runtime->loadMessage + "\n"),
                  std::string::npos);
    }

    // A folder that exists is examined and the libraries found in it listed.
    const std::size_t examined = c.libraryFilesFound == 0 ? 0 : 1;
    EXPECT_EQ(runtime->examinedDirectories, std::vector<std::string>(examined, folder));
    ASSERT_EQ(runtime->candidates.size(), examined);
    if (examined == 1) {
        EXPECT_EQ(runtime->candidates[0].files.size(), c.libraryFilesFound);
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
                    "could not load {dir}/libavformat.so.63: dlopen failed: *", 5}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
        std::string name = info.param.set;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// Detached threads may call FFmpeg while the process exits, so the runtime
// must outlive every exit handler, including those registered before it.
TEST(FfmpegRuntimeInstanceDeathTest, OutlivesTheProcessExitHandlers) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atexit([] {
                const FfmpegRuntime& runtime = FfmpegRuntime::instance();
                std::_Exit(runtime.examinedDirectories.empty() ? 3 : 0);
            });
            (void)FfmpegRuntime::instance();
            std::exit(1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(FfmpegRuntimeInstance, OneRuntimeLoadedFromBesideTheProgram) {
    const FfmpegRuntime* seen[4] = {};
    std::vector<std::thread> threads;
    for (const FfmpegRuntime*& slot : seen) {
        threads.emplace_back([&slot] { slot = &FfmpegRuntime::instance(); });
    }
    std::for_each(threads.begin(), threads.end(), [](std::thread& t) { t.join(); });
    for (const FfmpegRuntime* runtime : seen) {
        EXPECT_EQ(runtime, seen[0]);
    }
    const FfmpegRuntime& runtime = *seen[0];
    // The unit tests run from the build's bin folder, where the real FFmpeg is provided.
    const std::string folder = (fs::canonical(KESTROVA_BINARY_DIR "/bin") / "ffmpeg").string();
    if (!fs::is_directory(folder)) {
        EXPECT_EQ(runtime.discoveryMessage,
                  "the bundled FFmpeg directory does not exist: " + folder);
        return;
    }
    ASSERT_EQ(runtime.loadStatus, LoadStatus::Ok) << runtime.loadMessage;
    EXPECT_EQ(runtime.examinedDirectories, std::vector<std::string>{folder});
    EXPECT_STREQ(runtime.fn().avcodec_get_name(AV_CODEC_ID_H264), "h264");
}

}  // namespace
}  // namespace kestrova::ffmpeg
