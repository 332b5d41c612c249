#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "test_support.h"

namespace kestrova::platform {
namespace {

namespace fs = std::filesystem;

// ---- Text ----

struct TextCase {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

class ValidText : public testing::TestWithParam<TextCase> {};

TEST_P(ValidText, ConvertsBothWays) {
    const TextCase& text = GetParam();
    EXPECT_EQ(utf8ToUtf16(text.utf8), text.utf16);
    EXPECT_EQ(utf16ToUtf8(text.utf16), text.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Platform, ValidText,
    testing::Values(TextCase{"Empty", "", u""},
                    TextCase{"Ascii", "C:/clips/a.mov", u"C:/clips/a.mov"},
                    TextCase{"EmbeddedNul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
                    TextCase{"TwoByte", "caf\xC3\xA9", u"caf\u00E9"},
                    TextCase{"ThreeByte", "\xE2\x82\xAC", u"\u20AC"},
                    TextCase{"LastBeforeSurrogates", "\xED\x9F\xBF", u"\uD7FF"},
                    TextCase{"FirstAfterSurrogates", "\xEE\x80\x80", u"\uE000"},
                    TextCase{"LastOfBasicPlane", "\xEF\xBF\xBF", u"\uFFFF"},
                    TextCase{"SurrogatePair", "\xF0\x9D\x84\x9E", u"\U0001D11E"},
                    TextCase{"LastCodePoint", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
                    TextCase{"Mixed", "x\xC3\xA9\xF0\x9F\x8E\xAC.mp4", u"x\u00E9\U0001F3AC.mp4"}),
    [](const auto& info) { return info.param.name; });

class InvalidUtf8 : public testing::TestWithParam<std::string> {};

TEST_P(InvalidUtf8, IsRejected) {
    EXPECT_FALSE(utf8ToUtf16(GetParam()).has_value());
}

INSTANTIATE_TEST_SUITE_P(Platform, InvalidUtf8,
                         testing::Values("\xC0\xAF",          // overlong '/'
                                         "\xC1\xBF",          // overlong two-byte
                                         "\xE0\x80\xAF",      // overlong three-byte
                                         "\xF0\x80\x80\xAF",  // overlong four-byte
                                         "\xED\xA0\x80",      // high surrogate
                                         "\xED\xBF\xBF",      // low surrogate
                                         "\xF4\x90\x80\x80",  // past U+10FFFF
                                         "\x80",              // stray continuation
                                         "ab\xE2\x82",        // truncated at the end
                                         "\xC3"
                                         "A",                     // continuation missing
                                         "\xF8\x88\x80\x80\x80",  // five-byte form
                                         "\xFF"));

class InvalidUtf16 : public testing::TestWithParam<std::u16string> {};

TEST_P(InvalidUtf16, IsRejected) {
    EXPECT_FALSE(utf16ToUtf8(GetParam()).has_value());
}

INSTANTIATE_TEST_SUITE_P(Platform, InvalidUtf16,
                         testing::Values(std::u16string{0xD800}, std::u16string{0xDC00},
                                         std::u16string{u'a', 0xD83C}, std::u16string{0xD83C, u'a'},
                                         std::u16string{0xDFAC, 0xD83C},
                                         std::u16string{0xD83C, 0xD83C, 0xDFAC}));

// ---- Files ----

class PlatformFiles : public testing::Test {
  protected:
    std::string path(const std::string& name) const { return (root_.path() / name).string(); }
    static void write(const std::string& file, const std::string& content) {
        std::ofstream(file, std::ios::binary) << content;
    }
    static std::string read(const std::string& file) { return test::readFile(file); }

    test::TempDir root_;
};

TEST_F(PlatformFiles, StatusReportsSizeKindAndWriteTimeSince1601) {
    const std::string file = path("clip.mov");
    write(file, "12345");
    // 2001-09-09 01:46:40 UTC plus 123456789 ns.
    const auto written = std::chrono::sys_time<std::chrono::nanoseconds>(
        std::chrono::seconds(1'000'000'000) + std::chrono::nanoseconds(123'456'789));
    fs::last_write_time(file, std::chrono::file_clock::from_sys(written));

    const auto status = fileStatus(file);
    ASSERT_TRUE(status.has_value());
    EXPECT_FALSE(status->isDirectory);
    EXPECT_EQ(status->size, 5u);
    EXPECT_EQ(status->lastWrite100ns,
              (1'000'000'000LL + 11'644'473'600LL) * 10'000'000LL + 1'234'567);

    const auto folder = fileStatus(root_.str());
    ASSERT_TRUE(folder.has_value());
    EXPECT_TRUE(folder->isDirectory);
    EXPECT_FALSE(fileStatus(path("missing")).has_value());
    EXPECT_FALSE(fileStatus("").has_value());
}

TEST_F(PlatformFiles, CreateDirectoryMakesOneLevel) {
    EXPECT_TRUE(createDirectory(path("one")));
    EXPECT_TRUE(fs::is_directory(path("one")));
    EXPECT_TRUE(createDirectory(path("one"))) << "an existing folder counts as success";
    EXPECT_FALSE(createDirectory(path("two/three"))) << "the parent is missing";
    EXPECT_FALSE(fs::exists(path("two")));
    write(path("file"), "x");
    EXPECT_FALSE(createDirectory(path("file"))) << "a file is in the way";
    EXPECT_FALSE(createDirectory(""));
}

TEST_F(PlatformFiles, CreateDirectoriesMakesEveryLevel) {
    EXPECT_TRUE(createDirectories(path("a/b//c/")));
    EXPECT_TRUE(fs::is_directory(path("a/b/c")));
    EXPECT_TRUE(createDirectories(path("a/b/c")));
    write(path("a/file"), "x");
    EXPECT_FALSE(createDirectories(path("a/file/d")));
}

TEST_F(PlatformFiles, ReplaceFileOverwritesTheTarget) {
    write(path("new"), "fresh");
    write(path("old"), "stale contents");
    EXPECT_TRUE(replaceFile(path("new"), path("old")));
    EXPECT_EQ(read(path("old")), "fresh");
    EXPECT_FALSE(fs::exists(path("new")));
    EXPECT_FALSE(replaceFile(path("new"), path("old"))) << "the source is gone";
    EXPECT_EQ(read(path("old")), "fresh");
}

TEST_F(PlatformFiles, RemoveFileDeletesOnlyWhatExists) {
    write(path("cache"), "x");
    EXPECT_TRUE(removeFile(path("cache")));
    EXPECT_FALSE(fs::exists(path("cache")));
    EXPECT_FALSE(removeFile(path("cache")));
}

// ---- Environment ----

struct FolderCase {
    const char* name;
    const char* localAppData;
    const char* dataHome;
    const char* home;
    std::string expected;
};

class AppDataFolder : public testing::TestWithParam<FolderCase> {};

TEST_P(AppDataFolder, FollowsTheCandidateOrder) {
    const FolderCase& c = GetParam();
    test::ScopedEnv local("LOCALAPPDATA", c.localAppData);
    test::ScopedEnv data("XDG_DATA_HOME", c.dataHome);
    test::ScopedEnv home("HOME", c.home);
    EXPECT_EQ(localAppDataFolder(), c.expected);
}

const std::string kLongest = "/" + std::string(258, 'a');
const std::string kTooLong = "/" + std::string(259, 'a');

INSTANTIATE_TEST_SUITE_P(
    Platform, AppDataFolder,
    testing::Values(
        FolderCase{"LocalAppDataFirst", "/la", "/xdg", "/home/u", "/la"},
        FolderCase{"LocalAppDataLongest", kLongest.c_str(), "/xdg", "/home/u", kLongest},
        FolderCase{"LocalAppDataTooLong", kTooLong.c_str(), "/xdg", "/home/u", ""},
        FolderCase{"EmptyLocalAppDataIsUnset", "", "/xdg", "/home/u", "/xdg"},
        FolderCase{"DataHomeSecond", nullptr, "/xdg", "/home/u", "/xdg"},
        FolderCase{"DataHomeTooLong", nullptr, kTooLong.c_str(), "/home/u", ""},
        FolderCase{"RelativeDataHomeIgnored", nullptr, "xdg", "/home/u", "/home/u/.local/share"},
        FolderCase{"HomeLast", nullptr, nullptr, "/home/u/", "/home/u/.local/share"},
        FolderCase{"HomeTooLong", nullptr, nullptr, kLongest.c_str(), ""},
        FolderCase{"NothingSet", nullptr, nullptr, nullptr, ""}),
    [](const auto& info) { return info.param.name; });

TEST(PlatformEnvironment, ReadsVariables) {
    test::ScopedEnv set("KESTROVA_TEST_VALUE", "on");
    test::ScopedEnv empty("KESTROVA_TEST_EMPTY", "");
    test::ScopedEnv unset("KESTROVA_TEST_UNSET", nullptr);
    EXPECT_EQ(environmentVariable("KESTROVA_TEST_VALUE"), "on");
    EXPECT_EQ(environmentVariable("KESTROVA_TEST_EMPTY"), "");
    EXPECT_FALSE(environmentVariable("KESTROVA_TEST_UNSET").has_value());
    EXPECT_FALSE(environmentVariable(nullptr).has_value());
}

TEST(PlatformEnvironment, TemporaryFolderPrefersTmpdir) {
    {
        test::ScopedEnv tmp("TMPDIR", "/scratch");
        EXPECT_EQ(temporaryFolder(), "/scratch");
    }
    test::ScopedEnv tmp("TMPDIR", nullptr);
    EXPECT_EQ(temporaryFolder(), "/tmp");
}

TEST(PlatformEnvironment, JoinPathPutsExactlyOneSeparator) {
    EXPECT_EQ(joinPath("/a", "b"), "/a/b");
    EXPECT_EQ(joinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(joinPath("/a", "/b"), "/a/b");
    EXPECT_EQ(joinPath("/a/", "/b"), "/a/b");
    EXPECT_EQ(joinPath("", "b"), "b");
    EXPECT_EQ(joinPath("/a", ""), "/a");
}

// ---- Modules and libraries ----

TEST(PlatformModule, PathIsTheResolvedFileOfThisCode) {
    const std::string path = modulePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path, fs::canonical("/proc/self/exe").string());
    EXPECT_TRUE(pinOwnModule());
}

TEST(PlatformModule, LoadsAndBindsALibrary) {
    std::string error;
    LibraryHandle library = loadLibrary("libm.so.6", error);
    ASSERT_NE(library, nullptr) << error;
    using Cosine = double (*)(double);
    auto cosine = reinterpret_cast<Cosine>(findSymbol(library, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(findSymbol(library, "kestrova_no_such_symbol"), nullptr);
    EXPECT_EQ(findSymbol(nullptr, "cos"), nullptr);
    freeLibrary(library);
    freeLibrary(nullptr);
}

TEST(PlatformModule, LoadFailureExplainsItself) {
    std::string error;
    EXPECT_EQ(loadLibrary("/nonexistent/libavutil.so.61", error), nullptr);
    EXPECT_EQ(error.rfind("dlopen failed: ", 0), 0u) << error;
    EXPECT_NE(error.find("/nonexistent/libavutil.so.61"), std::string::npos) << error;
}

// ---- Threads, clocks, processor ----

TEST(PlatformThreads, ThreadIdsDifferBetweenThreads) {
    const uint32_t mine = threadId();
    EXPECT_EQ(threadId(), mine);
    uint32_t other = mine;
    std::thread([&] { other = threadId(); }).join();
    EXPECT_NE(other, mine);
}

TEST(PlatformClock, ClocksUseTheirUnits) {
    const int64_t first = monotonicNanos();
    EXPECT_LE(first, monotonicNanos());
    using namespace std::chrono;
    const int64_t wall = wallClock100ns();
    const int64_t reference = duration_cast<duration<int64_t, std::ratio<1, 10'000'000>>>(
                                  system_clock::now().time_since_epoch())
                                  .count();
    // Same unit and epoch: the two readings are a few instructions apart.
    EXPECT_NEAR(static_cast<double>(reference - wall), 0.0, 600e7);
}

TEST(PlatformClock, UtcTimeBreaksDownSeconds) {
    std::tm out{};
    ASSERT_TRUE(utcTime(1'000'000'000, out));
    EXPECT_EQ(out.tm_year, 101);
    EXPECT_EQ(out.tm_mon, 8);
    EXPECT_EQ(out.tm_mday, 9);
    EXPECT_EQ(out.tm_hour, 1);
    EXPECT_EQ(out.tm_min, 46);
    EXPECT_EQ(out.tm_sec, 40);
    std::tm local{};
    {
        test::ScopedEnv zone("TZ", "UTC");
        tzset();
        EXPECT_TRUE(localTime(1'000'000'000, local));
    }
    tzset();
    EXPECT_EQ(local.tm_hour, 1);
}

TEST(PlatformProcessor, ArchitectureMatchesTheBuild) {
#if defined(__x86_64__)
    EXPECT_EQ(nativeArchitecture(), "x86_64");
#elif defined(__aarch64__)
    EXPECT_EQ(nativeArchitecture(), "ARM64");
#else
    GTEST_SKIP() << "no expectation for this processor";
#endif
}

TEST(PlatformProcessor, FeaturesAgreeWithTheCompilersDetection) {
#if defined(__x86_64__) || defined(__i386__)
    const CpuFeatures features = cpuFeatures();
    EXPECT_EQ(features.sse42, __builtin_cpu_supports("sse4.2") != 0);
    EXPECT_EQ(features.avx2, __builtin_cpu_supports("avx2") != 0);
    EXPECT_EQ(features.fma, __builtin_cpu_supports("fma") != 0);
#else
    GTEST_SKIP() << "x86 only";
#endif
}

}  // namespace
}  // namespace kestrova::platform
