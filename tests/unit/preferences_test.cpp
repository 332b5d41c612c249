#include "support/preferences.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "test_support.h"

namespace kestrova {
namespace {

TEST(PreferencesParse, EmptyOrCommentOnlyTextGivesDefaults) {
    const Preferences defaults;
    EXPECT_FALSE(defaults.preferOverBuiltIn);
    EXPECT_EQ(defaults.logLevel, 3);
    EXPECT_TRUE(defaults.enableHardwareDecoding);
    EXPECT_FALSE(defaults.forceHardwareDecoding);
    EXPECT_EQ(defaults.frameCacheMiB, 128);
    EXPECT_EQ(defaults.priority(), 50);

    EXPECT_EQ(parsePreferences(""), defaults);
    EXPECT_EQ(parsePreferences("# logLevel=5\n   # frameCacheMiB=256\n\n"), defaults);
    EXPECT_EQ(parsePreferences("no equals sign here\nlogLevel 4\n"), defaults);
}

TEST(PreferencesParse, BlanksAroundEqualsAndTrailingComment) {
    EXPECT_EQ(parsePreferences("logLevel = 4 # more verbose\n").logLevel, 4);
    EXPECT_EQ(parsePreferences("\tlogLevel\t=\t5\t").logLevel, 5);
    // A comment starts anywhere, even inside a value.
    EXPECT_FALSE(parsePreferences("preferOverBuiltIn=ye#s").preferOverBuiltIn);
    EXPECT_EQ(parsePreferences("logLevel=4#5").logLevel, 4);
}

TEST(PreferencesParse, KeysAreCaseSensitiveAndLaterLinesWin) {
    EXPECT_EQ(parsePreferences("LogLevel=5\nloglevel=5\n").logLevel, 3);
    EXPECT_EQ(parsePreferences("FrameCacheMiB=256\n").frameCacheMiB, 128);
    EXPECT_EQ(parsePreferences("logLevel=1\nlogLevel=4\n").logLevel, 4);
}

TEST(PreferencesParse, EmptyKeyOrValueChangesNothing) {
    EXPECT_EQ(parsePreferences("=4\n= logLevel\n"), Preferences{});
    EXPECT_EQ(parsePreferences("logLevel=5\nlogLevel=\nlogLevel=   \n").logLevel, 5);
    EXPECT_EQ(parsePreferences("frameCacheMiB=256\nframeCacheMiB=\n").frameCacheMiB, 256);
}

TEST(PreferencesParse, CrLfLinesReadLikeLfLines) {
    const Preferences prefs = parsePreferences(
        "preferOverBuiltIn=yes\r\nenableHardwareDecoding=no\r\nlogLevel=4\r\n"
        "frameCacheMiB=512\r\nforceHardwareDecoding=true\r\n");
    EXPECT_TRUE(prefs.preferOverBuiltIn);
    EXPECT_FALSE(prefs.enableHardwareDecoding);
    EXPECT_TRUE(prefs.forceHardwareDecoding);
    EXPECT_EQ(prefs.logLevel, 4);
    EXPECT_EQ(prefs.frameCacheMiB, 512);
    EXPECT_EQ(prefs.priority(), 100);
}

TEST(PreferencesParse, OverLongLineKeepsItsFirst65536Characters) {
    const std::string head = "preferOverBuiltIn=yes";
    // Cut at 65536 characters the value is "yes"; read whole it would not match.
    std::string text = head + std::string(65536 - head.size(), ' ') + "x\n";
    // The discarded rest of a long line is not read as a line of its own.
    text += "#" + std::string(65535, ' ') + "logLevel=5\n";
    text += "frameCacheMiB=256";  // no final newline: end of file ends the line
    const Preferences prefs = parsePreferences(text);
    EXPECT_TRUE(prefs.preferOverBuiltIn);
    EXPECT_EQ(prefs.logLevel, 3);
    EXPECT_EQ(prefs.frameCacheMiB, 256);
}

struct BoolCase {
    const char* line;
    bool Preferences::*field;
    bool expected;
};

class PreferencesBool : public testing::TestWithParam<BoolCase> {};

TEST_P(PreferencesBool, WholeCaseSensitiveWordsDecide) {
    const BoolCase& c = GetParam();
    EXPECT_EQ(parsePreferences(c.line).*c.field, c.expected) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    Words, PreferencesBool,
    testing::Values(
        // Hardware decoding stays on unless switched off with one of three words.
        BoolCase{"enableHardwareDecoding=off", &Preferences::enableHardwareDecoding, true},
        BoolCase{"enableHardwareDecoding=no", &Preferences::enableHardwareDecoding, false},
        BoolCase{"enableHardwareDecoding=0", &Preferences::enableHardwareDecoding, false},
        BoolCase{"enableHardwareDecoding=false", &Preferences::enableHardwareDecoding, false},
        BoolCase{"enableHardwareDecoding=FALSE", &Preferences::enableHardwareDecoding, true},
        BoolCase{"enableHardwareDecoding=", &Preferences::enableHardwareDecoding, true},
        BoolCase{"enableHardwareDecoding=00", &Preferences::enableHardwareDecoding, true},
        // The other two stay off unless switched on with one of three words.
        BoolCase{"preferOverBuiltIn=TRUE", &Preferences::preferOverBuiltIn, false},
        BoolCase{"preferOverBuiltIn=true", &Preferences::preferOverBuiltIn, true},
        BoolCase{"preferOverBuiltIn=yes", &Preferences::preferOverBuiltIn, true},
        BoolCase{"preferOverBuiltIn=1", &Preferences::preferOverBuiltIn, true},
        BoolCase{"preferOverBuiltIn=on", &Preferences::preferOverBuiltIn, false},
        BoolCase{"preferOverBuiltIn=yes please", &Preferences::preferOverBuiltIn, false},
        BoolCase{"forceHardwareDecoding=Yes", &Preferences::forceHardwareDecoding, false},
        BoolCase{"forceHardwareDecoding=yes", &Preferences::forceHardwareDecoding, true},
        // A later unrecognised word switches an earlier "yes" back off.
        BoolCase{"forceHardwareDecoding=yes\nforceHardwareDecoding=2",
                 &Preferences::forceHardwareDecoding, false}));

struct IntCase {
    const char* value;
    int32_t expectedLogLevel;
    int32_t expectedFrameCacheMiB;
};

class PreferencesInt : public testing::TestWithParam<IntCase> {};

TEST_P(PreferencesInt, LeadingDecimalNumberIsRead) {
    const IntCase& c = GetParam();
    const std::string value = c.value;
    EXPECT_EQ(parsePreferences("logLevel=" + value).logLevel, c.expectedLogLevel) << value;
    EXPECT_EQ(parsePreferences("frameCacheMiB=" + value).frameCacheMiB, c.expectedFrameCacheMiB)
        << value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, PreferencesInt,
    testing::Values(IntCase{"4", 4, 128},  // below the frame cache minimum
                    IntCase{"8", 8, 128}, IntCase{"15", 15, 128}, IntCase{"16", 16, 16},
                    IntCase{"4096", 4096, 4096}, IntCase{"4097", 4097, 128},
                    IntCase{"5000", 5000, 128}, IntCase{"12abc", 12, 128},
                    IntCase{"256MiB", 256, 256}, IntCase{"+32", 32, 32}, IntCase{"-2", -2, 128},
                    IntCase{"0x20", 0, 128},  // base 10: reads the leading 0
                    IntCase{"abc", 3, 128}, IntCase{"-", 3, 128}, IntCase{"four", 3, 128},
                    IntCase{"2147483647", 2147483647, 128}, IntCase{"-2147483648", INT32_MIN, 128},
                    IntCase{"2147483648", 3, 128}, IntCase{"-2147483649", 3, 128},
                    IntCase{"99999999999999999999", 3, 128}));

class PreferencesFiles : public testing::Test {
  protected:
    test::TempDir dir_;
    const std::filesystem::path& root_ = dir_.path();
};

TEST_F(PreferencesFiles, ReadsAnOpenableFileOnly) {
    EXPECT_FALSE(readPreferencesFile((root_ / "missing.prefs").string()).has_value());
    EXPECT_FALSE(readPreferencesFile("").has_value());

    const auto path = root_ / "kestrova.prefs";
    std::ofstream(path, std::ios::binary) << "logLevel = 5\r\npreferOverBuiltIn=1\r\n";
    const auto prefs = readPreferencesFile(path.string());
    ASSERT_TRUE(prefs.has_value());
    EXPECT_EQ(prefs->logLevel, 5);
    EXPECT_EQ(prefs->priority(), 100);

    std::ofstream(root_ / "empty.prefs", std::ios::binary).flush();
    EXPECT_EQ(readPreferencesFile((root_ / "empty.prefs").string()), Preferences{});
}

TEST_F(PreferencesFiles, EnsureParentDirectoryCreatesOneLevelOnly) {
    EXPECT_TRUE(ensureParentDirectory("no-separator.txt"));

    const auto oneLevel = root_ / "sub" / "file.txt";
    EXPECT_TRUE(ensureParentDirectory(oneLevel.string()));
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "sub"));
    EXPECT_TRUE(ensureParentDirectory(oneLevel.string()));  // already there

    const auto twoLevels = root_ / "a" / "b" / "file.txt";
    EXPECT_FALSE(ensureParentDirectory(twoLevels.string()));
    EXPECT_FALSE(std::filesystem::exists(root_ / "a"));
}

TEST(PreferencesPaths, AppDataFileLivesInTheKestrovaFolder) {
    const test::ScopedEnv local("LOCALAPPDATA", "/data/user");
    EXPECT_EQ(appDataFilePath("SUPPORTED-CODECS.md"), "/data/user/Kestrova/SUPPORTED-CODECS.md");
    EXPECT_EQ(appDataFilePath(nullptr), "");
    EXPECT_EQ(appDataFilePath(""), "");
}

TEST(PreferencesPaths, NoPathWhenTheFolderIsTooLong) {
    const std::string longest = "/" + std::string(258, 'd');
    {
        const test::ScopedEnv local("LOCALAPPDATA", longest.c_str());
        EXPECT_EQ(appDataFilePath("x"), longest + "/Kestrova/x");
    }
    const std::string tooLong = longest + "d";
    const test::ScopedEnv local("LOCALAPPDATA", tooLong.c_str());
    EXPECT_EQ(appDataFilePath("x"), "");
}

}  // namespace
}  // namespace kestrova
