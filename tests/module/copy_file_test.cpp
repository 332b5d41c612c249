// imCopyFile as the host uses it: byte-exact copies with progress in KiB,
// and a source that changes under the copy.
#include <gtest/gtest.h>

#include "fileops_records.h"
#include "fileops_test_support.h"

namespace kestrova::moduletest {
namespace {

namespace fs = std::filesystem;

class CopyFileTest : public ClipModuleTest {
  protected:
    fs::path source() const { return folder.path() / "source.bin"; }
    fs::path destination() const { return folder.path() / "copy.bin"; }
    std::string text(const fs::path& path) const { return platform::utf8FromPath(path); }
    // A source of `bytes` bytes that differ from one MiB to the next.
    void makeSource(std::size_t bytes) const {
        std::string data(bytes, '\0');
        for (std::size_t i = 0; i < bytes; ++i) {
            data[i] = static_cast<char>((i * 7 + i / 1048576) & 0xFF);
        }
        writeText(source(), data);
    }
    TempFolder folder;
};

TEST_F(CopyFileTest, CopiesEveryByteAndReportsKibibytes) {
    makeSource(2 * 1048576 + 5000);
    hostsim::Progress progress;
    ASSERT_EQ(hostsim::copyFile(host(), text(source()), text(destination()), &progress),
              host::imNoErr);
    EXPECT_EQ(readFile(destination()), readFile(source()));
    const auto reports = progress.reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].done, 1024);
    EXPECT_EQ(reports[2].done, reports[2].total);
    EXPECT_EQ(reports[2].total, (2 * 1048576 + 5000) / 1024);
}

TEST_F(CopyFileTest, AnEmptySourceCopiesToAnEmptyFile) {
    makeSource(0);
    EXPECT_EQ(hostsim::copyFile(host(), text(source()), text(destination())), host::imNoErr);
    EXPECT_TRUE(fs::exists(destination()));
    EXPECT_EQ(fs::file_size(destination()), 0u);
}

TEST_F(CopyFileTest, ASourceShrinkingDuringTheCopyLeavesNoCopy) {
    makeSource(3 * 1048576);
    hostsim::Progress progress;
    progress.onReport = [this](int32_t call) {
        if (call == 1) {
            fs::resize_file(source(), 1048576 + 1048576 / 2);
        }
    };
    EXPECT_EQ(hostsim::copyFile(host(), text(source()), text(destination()), &progress),
              host::imFailure);
    EXPECT_EQ(filesIn(folder.path()), std::vector<std::string>{"source.bin"});
    EXPECT_NE(log().find("imCopyFile: size mismatch for"), std::string::npos);
}

TEST_F(CopyFileTest, AMissingSourceOrAnEmptyPathFails) {
    EXPECT_EQ(hostsim::copyFile(host(), text(source()), text(destination())), host::imFailure);
    makeSource(10);
    EXPECT_EQ(hostsim::copyFile(host(), "", text(destination())), host::imFailure);
    EXPECT_EQ(hostsim::copyFile(host(), text(source()), ""), host::imFailure);
    EXPECT_EQ(filesIn(folder.path()), std::vector<std::string>{"source.bin"});
    EXPECT_NE(log().find("imCopyFile: cannot stat source"), std::string::npos);
}

TEST_F(CopyFileTest, ANonAsciiDestinationIsWrittenUnderItsOwnName) {
    makeSource(1000);
    const fs::path named = folder.path() / platform::pathFromUtf8("k\xC3\xB6pia \xE2\x9C\x93.bin");
    EXPECT_EQ(hostsim::copyFile(host(), text(source()), text(named)), host::imNoErr);
    EXPECT_TRUE(fs::exists(named));
}

}  // namespace
}  // namespace kestrova::moduletest
