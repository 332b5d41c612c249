#include "support/preferences.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "test_support.h"

namespace kestrova {
namespace {

TEST(PreferencesParse, DefaultsAndOverLongLinesKeepingTheirFirst65536Characters) {
    const Preferences defaults = parsePreferences("");
    EXPECT_FALSE(defaults.preferOverBuiltIn);
    EXPECT_EQ(defaults.logLevel, 3);
    EXPECT_TRUE(defaults.enableHardwareDecoding);
    EXPECT_EQ(defaults.frameCacheMiB, 128);
    EXPECT_EQ(defaults.priority(), 50);
    // The 65536th character is the "5"; the "9" after it is cut off.
    std::string text = "logLevel=" + std::string(65536 - 10, ' ') + "59\n";
    // The discarded rest of a long line is not read as a line of its own.
    text += "#" + std::string(65535, ' ') + "frameCacheMiB=256\n";
    text += "preferOverBuiltIn=yes";  // no final newline: end of file ends the line
    const Preferences prefs = parsePreferences(text);
    EXPECT_EQ(prefs.logLevel, 5);
    EXPECT_EQ(prefs.frameCacheMiB, 128);
    EXPECT_TRUE(prefs.preferOverBuiltIn);
}

// A comment starts anywhere, even inside a value; an empty value leaves the earlier one.
TEST(PreferencesParse, KeyValueLineSyntax) {
    for (const auto& [text, logLevel] : {std::pair{"   # logLevel=4\n\n", 3},
                                         {"no equals sign here\nlogLevel 4\n", 3},
                                         {"\tlogLevel\t=\t5\t", 5},
                                         {"logLevel=4#5", 4},
                                         {"LogLevel=5\nloglevel=5\n", 3},
                                         {"logLevel=1\nlogLevel=4\n", 4},
                                         {"=4\n= logLevel\n", 3},
                                         {"logLevel=5\nlogLevel=\nlogLevel=   \n", 5}}) {
        EXPECT_EQ(parsePreferences(text).logLevel, logLevel) << text;
    }
}

TEST(PreferencesParse, OnlyWholeCaseSensitiveWordsSwitch) {
    // Hardware decoding goes off with one of three words; any other switches it back on.
    const auto hardware = [](const std::string& word) {
        return parsePreferences("enableHardwareDecoding=" + word).enableHardwareDecoding;
    };
    for (const char* word : {"no", "0", "false\r"}) {
        EXPECT_FALSE(hardware(word)) << word;
    }
    for (const char* word : {"FALSE", "", "00"}) {
        EXPECT_TRUE(hardware("no\nenableHardwareDecoding=" + std::string(word))) << word;
    }
    // The other two stay off unless switched on with one of three words.
    const std::pair<std::string, bool Preferences::*> switches[] = {
        {"preferOverBuiltIn=", &Preferences::preferOverBuiltIn},
        {"forceHardwareDecoding=", &Preferences::forceHardwareDecoding}};
    for (const auto& [key, field] : switches) {
        for (const std::string word : {"1", "true", "yes\r"}) {
            EXPECT_TRUE(parsePreferences(key + word).*field) << key << word;
        }
        for (const std::string word : {"TRUE", "yes please", "2"}) {
            EXPECT_FALSE(parsePreferences(key + "yes\n" + key + word).*field) << key << word;
        }
    }
}

TEST(PreferencesParse, LeadingDecimalNumberIsRead) {
    // Value, then the log level and frame cache size it gives: the cache takes
    // 16 to 4096 only, and "0x20" is read in base 10 as its leading 0.
    const std::tuple<std::string, int32_t, int32_t> cases[] = {
        {"15", 15, 128},       {"16", 16, 16},       {"4096", 4096, 4096},
        {"4097", 4097, 128},   {"256MiB", 256, 256}, {"-2", -2, 128},
        {"0x20", 0, 128},      {"abc", 3, 128},      {"2147483647", INT32_MAX, 128},
        {"2147483648", 3, 128}};
    for (const auto& [value, logLevel, frameCacheMiB] : cases) {
        EXPECT_EQ(parsePreferences("logLevel=" + value).logLevel, logLevel) << value;
        EXPECT_EQ(parsePreferences("frameCacheMiB=" + value).frameCacheMiB, frameCacheMiB) << value;
    }
}

TEST(PreferencesFiles, ReadsAnOpenableFileOnly) {
    const test::TempDir dir;
    EXPECT_FALSE(readPreferencesFile((dir.path() / "missing.prefs").string()).has_value());
    EXPECT_FALSE(readPreferencesFile("").has_value());
    const auto path = dir.path() / "kestrova.prefs";
    std::ofstream(path, std::ios::binary) << "logLevel = 5\r\npreferOverBuiltIn=1\r\n";
    const auto prefs = readPreferencesFile(path.string());
    ASSERT_TRUE(prefs.has_value());
    EXPECT_EQ(prefs->logLevel, 5);
    EXPECT_EQ(prefs->priority(), 100);
    std::ofstream(dir.path() / "empty.prefs", std::ios::binary).flush();
    EXPECT_EQ(readPreferencesFile((dir.path() / "empty.prefs").string()), Preferences{});
}

TEST(PreferencesFiles, ParentDirectoryOfOneLevelAndAppDataFilePath) {
    const test::TempDir dir;
    EXPECT_TRUE(ensureParentDirectory("no-separator.txt"));
    EXPECT_TRUE(ensureParentDirectory((dir.path() / "sub" / "file.txt").string()));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "sub"));
    EXPECT_FALSE(ensureParentDirectory((dir.path() / "a" / "b" / "file.txt").string()));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "a"));
    const test::ScopedEnv local("LOCALAPPDATA", "/data/user");
    EXPECT_EQ(appDataFilePath("SUPPORTED-CODECS.md"), "/data/user/Kestrova/SUPPORTED-CODECS.md");
    EXPECT_EQ(appDataFilePath(nullptr), "");
    EXPECT_EQ(appDataFilePath(""), "");
}

}  // namespace
}  // namespace kestrova
