#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "test_support.h"

namespace kestrova::platform {
namespace {

namespace fs = std::filesystem;

TEST(PlatformText, ValidTextConvertsBothWays) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {{"", u""},
                 {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
                 {"caf\xC3\xA9", u"caf\u00E9"},
                 {"\xED\x9F\xBF\xEE\x80\x80", u"\uD7FF\uE000"},  // either side of the surrogates
                 {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"}};
    for (const auto& text : cases) {
        EXPECT_EQ(utf8ToUtf16(text.utf8), text.utf16) << testing::PrintToString(text.utf8);
        EXPECT_EQ(utf16ToUtf8(text.utf16), text.utf8) << testing::PrintToString(text.utf8);
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
    static void write(const std::string& file, const std::string& content) {
        std::ofstream(file, std::ios::binary) << content;
    }

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
    write(path("old"), "stale contents");
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
    const struct {
        const char* localAppData;
        const char* dataHome;
        const char* home;
        std::string expected;
    } cases[] = {{longest.c_str(), "/xdg", "/home/u", longest},
                 {tooLong.c_str(), "/xdg", "/home/u", ""},
                 {"", "/xdg", "/home/u", "/xdg"},  // empty counts as unset
                 {nullptr, tooLong.c_str(), "/home/u", ""},
                 {nullptr, "xdg", "/home/u", "/home/u/.local/share"},  // relative: ignored
                 {nullptr, nullptr, "/home/u/", "/home/u/.local/share"},
                 {nullptr, nullptr, longest.c_str(), ""},
                 {nullptr, nullptr, nullptr, ""}};
    for (const auto& c : cases) {
        test::ScopedEnv local("LOCALAPPDATA", c.localAppData);
        test::ScopedEnv data("XDG_DATA_HOME", c.dataHome);
        test::ScopedEnv home("HOME", c.home);
        EXPECT_EQ(localAppDataFolder(), c.expected) << "case " << &c - cases;
    }
}

TEST(PlatformEnvironment, JoinPathPutsExactlyOneSeparator) {
    EXPECT_EQ(joinPath("/a/", "/b"), "/a/b");
    EXPECT_EQ(joinPath("/a", "b"), "/a/b");
    EXPECT_EQ(joinPath("", "b"), "b");
    EXPECT_EQ(joinPath("/a", ""), "/a");
}

// Loading libraries is covered by the FFmpeg runtime tests.
TEST(PlatformProcess, ModulePathThreadIdsAndClocks) {
    EXPECT_EQ(modulePath(), fs::canonical("/proc/self/exe").string());
    EXPECT_TRUE(pinOwnModule());

    const uint32_t mine = threadId();
    EXPECT_EQ(threadId(), mine);
    uint32_t other = mine;
    std::thread([&] { other = threadId(); }).join();
    EXPECT_NE(other, mine);

    using namespace std::chrono;
    const int64_t wall = wallClock100ns();
    const int64_t reference = duration_cast<duration<int64_t, std::ratio<1, 10'000'000>>>(
                                  system_clock::now().time_since_epoch())
                                  .count();
    // Same unit and epoch: the two readings are a few instructions apart.
    EXPECT_NEAR(static_cast<double>(reference - wall), 0.0, 600e7);
}

}  // namespace
}  // namespace kestrova::platform
