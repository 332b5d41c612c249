// No partial or lost files: a trim or copy that is cancelled or cannot write
// leaves no destination file, and a file already at the destination stays
// as it was until a complete result replaces it.
#include <gtest/gtest.h>

#include <functional>

#include "fileops_records.h"
#include "fileops_test_support.h"

#if !defined(_WIN32)
#include <sys/resource.h>

#include <csignal>
#endif

namespace kestrova::moduletest {
namespace {

namespace fs = std::filesystem;

struct Operation {
    const char* name;
    // Runs the operation onto `destination`, reporting to `progress`.
    std::function<host::Result(const hostsim::Host&, const std::string& destination,
                               hostsim::Progress*)>
        run;
    host::Result writeFailed;   // the answer when the destination cannot be written
    host::Result cannotCreate;  // the answer when the destination cannot be created
};

// A whole-clip trim of 215 packets (two progress reports) and the copy of a
// file of 1.5 MiB (two reports).
const Operation kOperations[] = {
    {"trim",
     [](const hostsim::Host& host, const std::string& destination, hostsim::Progress* progress) {
         OpenClip clip(host, fixturePath("h264_closed.mkv"));
         hostsim::TrimOrder order{0, 75, 25, 1, true, true, destination};
         return hostsim::trimFile(host, clip.clip(), order, progress);
     },
     host::imTrimWriteFailed, host::imTrimWriteFailed},
    {"copy",
     [](const hostsim::Host& host, const std::string& destination, hostsim::Progress* progress) {
         return hostsim::copyFile(host, fixturePath("mpeg2_tff.mxf"), destination, progress);
     },
     host::imCopyWriteFailed, host::imFailure},
};

class FileSafetyTest : public ClipModuleTest, public ::testing::WithParamInterface<Operation> {
  protected:
    host::Result run(const std::string& destination, hostsim::Progress* progress = nullptr) {
        return GetParam().run(host(), destination, progress);
    }
    std::string destination() const { return platform::utf8FromPath(folder.path() / "out.bin"); }
    // A file already at the destination, which must survive any failure.
    void placeEarlierFile() const { writeText(folder.path() / "out.bin", "earlier contents"); }
    void expectEarlierFileKept() const {
        EXPECT_EQ(filesIn(folder.path()), std::vector<std::string>{"out.bin"});
        EXPECT_EQ(readFile(folder.path() / "out.bin"), "earlier contents");
    }
    TempFolder folder;
};

TEST_P(FileSafetyTest, CancellingAtTheFirstReportLeavesNoFile) {
    hostsim::Progress progress(1);
    EXPECT_EQ(run(destination(), &progress), host::imFailure);
    EXPECT_EQ(progress.reports().size(), 1u);
    EXPECT_TRUE(filesIn(folder.path()).empty());
}

TEST_P(FileSafetyTest, CancellingKeepsTheFileAlreadyThere) {
    placeEarlierFile();
    hostsim::Progress progress(2);
    EXPECT_EQ(run(destination(), &progress), host::imFailure);
    expectEarlierFileKept();
}

TEST_P(FileSafetyTest, ACompleteResultReplacesTheFileAlreadyThere) {
    placeEarlierFile();
    hostsim::Progress progress;
    EXPECT_EQ(run(destination(), &progress), host::imNoErr);
    EXPECT_EQ(filesIn(folder.path()), std::vector<std::string>{"out.bin"});
    EXPECT_GT(fs::file_size(folder.path() / "out.bin"), 100000u);
    EXPECT_EQ(progress.reports().size(), 2u);
}

TEST_P(FileSafetyTest, AMissingFolderIsAnErrorWithoutAFile) {
    const std::string inMissing = platform::utf8FromPath(folder.path() / "missing" / "out.bin");
    EXPECT_EQ(run(inMissing), GetParam().cannotCreate);
    EXPECT_TRUE(filesIn(folder.path()).empty());
}

TEST_P(FileSafetyTest, AReadOnlyFolderIsAnErrorWithoutAFile) {
    placeEarlierFile();
    fs::permissions(folder.path(),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const bool writable = std::ofstream(folder.path() / "probe").is_open();
    std::error_code ignored;
    fs::remove(folder.path() / "probe", ignored);
    if (writable) {
        fs::permissions(folder.path(), fs::perms::owner_all, fs::perm_options::add);
        GTEST_SKIP() << "this user writes into read-only folders";
    }
    EXPECT_EQ(run(destination()), GetParam().cannotCreate);
    fs::permissions(folder.path(), fs::perms::owner_all, fs::perm_options::add);
    expectEarlierFileKept();
}

#if !defined(_WIN32)
// Writes past `bytes` fail (EFBIG) while the object lives, as on a full disk;
// the signal such a write raises is ignored so the write reports the error.
class ScopedFileSizeLimit {
  public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~ScopedFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_P(FileSafetyTest, AWriteFailingHalfwayKeepsTheFileAlreadyThere) {
    placeEarlierFile();
    host::Result result = host::imNoErr;
    {
        const ScopedFileSizeLimit limit(64 * 1024);
        result = run(destination());
    }
    EXPECT_EQ(result, GetParam().writeFailed);
    expectEarlierFileKept();
}
#endif

INSTANTIATE_TEST_SUITE_P(Operations, FileSafetyTest, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrova::moduletest
