#include "support/logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "support/logger_internal.h"
#include "test_support.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { TearDown(); }
    void TearDown() override { Logger::close(), Logger::setLevel(3); }
    fs::path logPath() const { return test::logFileIn(dir_); }
    std::string logText() { return Logger::close(), test::readFile(logPath()); }

    test::TempDir dir_;
    test::ScopedEnv env_{"LOCALAPPDATA", dir_.str().c_str()};
};

TEST_F(LoggerTest, FilteredMessageCreatesNoFile) {
    Logger::setLevel(0);
    Logger::log(LogLevel::Error, "also hidden");
    EXPECT_FALSE(fs::exists(logPath()));
}

TEST_F(LoggerTest, LineCarriesTimestampTagAndThreadAndLongMessagesWhole) {
    Logger::log(LogLevel::Warning, "value=%d", 42);
    // Around the formatting stack buffer.
    for (const std::size_t length : {1024u, 70000u}) {
        Logger::log(LogLevel::Error, "%s", std::string(length, 'x').c_str());
    }
    const std::string text = logText();
    // "YYYY-MM-DD HH:MM:SS.mmm [WARN] [t<id>] value=42\n"
    ASSERT_GE(text.size(), 24u);
    EXPECT_EQ(text[4], '-');
    EXPECT_EQ(text[19], '.');
    EXPECT_EQ(text.find(" [WARN] [t"), 23u);
    EXPECT_NE(text.find("] value=42\n"), std::string::npos);
    for (const std::size_t length : {1024u, 70000u}) {
        EXPECT_NE(text.find("] " + std::string(length, 'x') + "\n"), std::string::npos) << length;
    }
    EXPECT_STREQ(Logger::tag(9), "??? ");
}

TEST_F(LoggerTest, RotatesAtEightMiBKeepingOneGeneration) {
    fs::create_directories(logPath().parent_path());
    std::ofstream(logPath().string() + ".1") << "generation before\n";
    std::ofstream(logPath(), std::ios::binary) << std::string(8388608, 'a');
    // Reopening continues the count from the file's size, so one line rotates.
    Logger::log(LogLevel::Error, "first new line");
    Logger::log(LogLevel::Error, "second new line");
    const std::string current = logText(), previous = test::readFile(logPath().string() + ".1");
    EXPECT_EQ(current.find("first new line"), std::string::npos);
    EXPECT_NE(current.find("second new line"), std::string::npos);
    EXPECT_NE(previous.find("first new line"), std::string::npos);
    EXPECT_EQ(previous.find("generation before"), std::string::npos);
}

TEST_F(LoggerTest, WriteRawGoesToStandardErrorWhileTheLockIsHeld) {
    Logger::log(LogLevel::Error, "opened");
    std::unique_lock held(loggerMutex());
    testing::internal::CaptureStderr();
    std::thread([] { Logger::writeRaw("raw while locked"); }).join();
    const std::string err = testing::internal::GetCapturedStderr();
    held.unlock();
    EXPECT_EQ(err, "raw while locked\n");
    // With the lock free, the line goes to the open file.
    Logger::writeRaw("raw line");
    const std::string text = logText();
    EXPECT_EQ(text.find("raw while locked"), std::string::npos);
    EXPECT_NE(text.find("\nraw line\n"), std::string::npos);
}

TEST_F(LoggerTest, WithoutUsableAppDataTheLogGoesToTheTemporaryFolder) {
    test::TempDir temp;
    test::ScopedEnv tmp("TMPDIR", temp.str().c_str()), noXdg("XDG_DATA_HOME", nullptr),
        noHome("HOME", nullptr), tooLong("LOCALAPPDATA", std::string(260, 'x').c_str());
    Logger::log(LogLevel::Error, "to temp");
    TearDown();
    EXPECT_NE(test::readFile(test::logFileIn(temp)).find("to temp"), std::string::npos);
}

}  // namespace
}  // namespace kestrova
