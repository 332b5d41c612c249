#include "importer_session.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"

namespace kestrova::cli {
namespace {

// The log the importer writes: in the per-user data folder, else the temporary one.
std::filesystem::path importerLog() {
    std::string base = platform::localAppDataFolder();
    if (base.empty()) {
        base = platform::temporaryFolder();
    }
    return platform::pathFromUtf8(base) / "Kestrova" / "logs" / "Kestrova.log";
}

std::uintmax_t fileSize(const std::filesystem::path& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

}  // namespace

std::unique_ptr<ImporterSession> ImporterSession::start(const GlobalOptions& options,
                                                        int& exitCode) {
    exitCode = kExitImporterFailed;
    const std::filesystem::path path = modulePath(options);
    std::string error;
    std::unique_ptr<ImporterSession> session(new ImporterSession);
    session->module_ = hostsim::Module::load(path, error);
    if (!session->module_) {
        std::fprintf(stderr, "kestrova-host: cannot load the importer %s: %s\n",
                     platform::utf8FromPath(path).c_str(), error.c_str());
        return nullptr;
    }
    session->log_ = importerLog();
    session->logStart_ = fileSize(session->log_);
    session->host_ = std::make_unique<hostsim::Host>(*session->module_);
    const host::Result answer = session->host_->init();
    if (answer == host::imInitOk) {
        exitCode = kExitOk;
        return session;
    }
    // Shut down first, so the log is complete when it is read.
    session->host_->shutdown();
    std::fprintf(stderr, "kestrova-host: imInit answered %d\n", answer);
    const std::string reason = session->lastLogLine("FFmpeg unavailable");
    if (reason.empty()) {
        std::fprintf(stderr, "kestrova-host: no FFmpeg failure in %s\n",
                     platform::utf8FromPath(session->log_).c_str());
    } else {
        std::fprintf(stderr, "%s\n", reason.c_str());
    }
    return nullptr;
}

// Reads from where the log ended when the session started (the whole log
// when it was rotated since).
std::string ImporterSession::lastLogLine(std::string_view text) const {
    std::ifstream in(log_);
    if (fileSize(log_) >= logStart_) {
        in.seekg(static_cast<std::streamoff>(logStart_));
    }
    std::string found;
    for (std::string line; std::getline(in, line);) {
        if (line.find(text) != std::string::npos) {
            found = line;
        }
    }
    return found;
}

hostsim::OpenAnswer ImporterSession::openClip(const std::string& file, int32_t stream) {
    std::vector<uint8_t> prefs(host::kClipPrefsBytes);
    host_->getPrefs8(prefs.data(), host::kClipPrefsBytes, true);
    return hostsim::openFile(*host_, file, stream);
}

void ImporterSession::reportDeclined(const std::string& file, host::Result answer) const {
    const std::string reason = lastLogLine("imOpenFile8");
    std::fprintf(stderr, "kestrova-host: declined: imOpenFile8 answered %d for %s\n%s\n", answer,
                 file.c_str(),
                 reason.empty() ? "(the reason is logged at --log-level 4)" : reason.c_str());
}

std::filesystem::path importerDataFile(const char* name) {
    const std::string base = platform::localAppDataFolder();
    if (base.empty()) {
        return {};
    }
    return platform::pathFromUtf8(base) / "Kestrova" / name;
}

}  // namespace kestrova::cli
