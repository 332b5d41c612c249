#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>

#include "test_support.h"

namespace kestrova::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

TEST(PlatformText, ValidTextConvertsBothWays) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"", u""},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"\xED\x9F\xBF\xEE\x80\x80", u"\uD7FF\uE000"},  // either side of the surrogates
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"}};
    for (const auto& [utf8, utf16] : cases) {
        EXPECT_EQ(utf8ToUtf16(utf8), utf16) << testing::PrintToString(utf8);
        EXPECT_EQ(utf16ToUtf8(utf16), utf8) << testing::PrintToString(utf8);
    }
}

TEST(PlatformText, InvalidInputIsRejected) {
    // Overlong forms, surrogates, past U+10FFFF, a stray continuation, a
    // truncated sequence, a missing continuation, a five-byte form, 0xFF.
    for (const char* bytes : {"\xC1\xBF", "\xF0\x80\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                              "\x80", "ab\xE2\x82", "\xC3\x41", "\xF8\x88\x80\x80\x80", "\xFF"}) {
        EXPECT_FALSE(utf8ToUtf16(bytes).has_value()) << testing::PrintToString(bytes);
    }
    // Unpaired, reversed and doubled surrogates.
    for (const std::u16string& units :
         {std::u16string{0xDC00}, std::u16string{u'a', 0xD83C}, std::u16string{0xDFAC, 0xD83C},
          std::u16string{0xD83C, 0xD83C, 0xDFAC}}) {
        EXPECT_FALSE(utf16ToUtf8(units).has_value()) << testing::PrintToString(units);
    }
}

class PlatformFiles : public testing::Test {
  protected:
    std::string path(const std::string& name) const { return (root_.path() / name).string(); }
    static void write(const std::string& file, const char* content) {
        std::ofstream(file) << content;
    }

    test::TempDir root_;
};

TEST_F(PlatformFiles, StatusReportsSizeKindAndWriteTimeSince1601) {
    const std::string file = path("clip.mov");
    write(file, "12345");
    // 2001-09-09 01:46:40 UTC plus 123456789 ns.
    fs::last_write_time(
        file, file_clock::from_sys(sys_time<nanoseconds>(1'000'000'000s + 123'456'789ns)));
    const auto status = fileStatus(file);
    ASSERT_TRUE(status.has_value());
    EXPECT_FALSE(status->isDirectory);
    EXPECT_EQ(status->size, 5u);
    EXPECT_EQ(status->lastWrite100ns,
              (1'000'000'000LL + 11'644'473'600LL) * 10'000'000LL + 1'234'567);
    EXPECT_TRUE(fileStatus(root_.str()).value().isDirectory);
    EXPECT_FALSE(fileStatus(path("missing")).has_value());
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
    EXPECT_TRUE(createDirectories(path("a/b//c/")));
    EXPECT_TRUE(fs::is_directory(path("a/b/c")));
    EXPECT_FALSE(createDirectories(path("file/d")));
}

TEST_F(PlatformFiles, ReplaceAndRemove) {
    write(path("new"), "fresh");
    write(path("old"), "stale");
    EXPECT_TRUE(replaceFile(path("new"), path("old")));
    EXPECT_EQ(test::readFile(path("old")), "fresh");
    EXPECT_FALSE(replaceFile(path("new"), path("old"))) << "the source is gone";
    EXPECT_EQ(test::readFile(path("old")), "fresh");
    EXPECT_TRUE(removeFile(path("old")));
    EXPECT_FALSE(removeFile(path("old")));
}

TEST(PlatformEnvironment, AppDataFolderFollowsTheCandidateOrder) {
    const std::string longest = "/" + std::string(258, 'a');
    const std::string tooLong = longest + "a";
    // LOCALAPPDATA, XDG_DATA_HOME, HOME, then the folder expected.
    const std::tuple<const char*, const char*, const char*, std::string> cases[] = {
        {longest.c_str(), "/xdg", "/home/u", longest},
        {tooLong.c_str(), "/xdg", "/home/u", ""},
        {"", "/xdg", "/home/u", "/xdg"},                      // empty counts as unset
        {nullptr, "xdg", "/home/u", "/home/u/.local/share"},  // relative: ignored
        {nullptr, nullptr, "/home/u/", "/home/u/.local/share"},
        {nullptr, nullptr, nullptr, ""}};
    for (const auto& [localAppData, dataHome, home, expected] : cases) {
        test::ScopedEnv localEnv("LOCALAPPDATA", localAppData);
        test::ScopedEnv dataEnv("XDG_DATA_HOME", dataHome);
        test::ScopedEnv homeEnv("HOME", home);
        EXPECT_EQ(localAppDataFolder(), expected)
            << testing::PrintToString(std::tie(localAppData, dataHome, home));
    }
}

// Loading libraries is covered by the FFmpeg runtime tests.
TEST(PlatformProcess, ModulePathThreadIdsAndClocks) {
    EXPECT_EQ(modulePath(), fs::canonical("/proc/self/exe").string());
    EXPECT_TRUE(pinOwnModule());
    uint32_t other = threadId();
    std::thread([&] { other = threadId(); }).join();
    EXPECT_NE(other, threadId());
    const int64_t wall = wallClock100ns();
    const int64_t reference = system_clock::now().time_since_epoch() / 100ns;
    // Same unit and epoch: the two readings are a few instructions apart.
    EXPECT_NEAR(static_cast<double>(reference - wall), 0.0, 600e7);
}

}  // namespace
}  // namespace kestrova::platform
