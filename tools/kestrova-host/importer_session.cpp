#include "importer_session.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/platform.h"

namespace kestrova::cli {
namespace {

// The log the importer writes: in the per-user data folder, else the temporary one.
std::filesystem::path importerLog() {
    std::string base = platform::localAppDataFolder();
    if (base.empty()) {
        base = platform::temporaryFolder();
    }
    return std::filesystem::path(base) / "Kestrova" / "logs" / "Kestrova.log";
}

std::uintmax_t fileSize(const std::filesystem::path& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

// The last line containing `text` that the importer added to its log after
// the log had `start` bytes (the whole log when it was rotated since).
std::string lastLogLineWith(const std::filesystem::path& log, std::uintmax_t start,
                            std::string_view text) {
    std::ifstream in(log);
    if (fileSize(log) >= start) {
        in.seekg(static_cast<std::streamoff>(start));
    }
    std::string found;
    for (std::string line; std::getline(in, line);) {
        if (line.find(text) != std::string::npos) {
            found = line;
        }
    }
    return found;
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
        std::fprintf(stderr, "kestrova-host: cannot load the importer %s: %s\n", path.c_str(),
                     error.c_str());
        return nullptr;
    }
    const std::filesystem::path log = importerLog();
    const std::uintmax_t logStart = fileSize(log);
    session->log_ = log;
    session->logStart_ = logStart;
    session->host_ = std::make_unique<hostsim::Host>(*session->module_);
    const host::Result answer = session->host_->init();
    if (answer == host::imInitOk) {
        exitCode = kExitOk;
        return session;
    }
    // Shut down first, so the log is complete when it is read.
    session->host_->shutdown();
    std::fprintf(stderr, "kestrova-host: imInit answered %d\n", answer);
    const std::string reason = lastLogLineWith(log, logStart, "FFmpeg unavailable");
    if (reason.empty()) {
        std::fprintf(stderr, "kestrova-host: no FFmpeg failure in %s\n", log.c_str());
    } else {
        std::fprintf(stderr, "%s\n", reason.c_str());
    }
    return nullptr;
}

std::string ImporterSession::lastLogLine(std::string_view text) const {
    return lastLogLineWith(log_, logStart_, text);
}

std::filesystem::path importerDataFile(const char* name) {
    const std::string base = platform::localAppDataFolder();
    if (base.empty()) {
        return {};
    }
    return std::filesystem::path(base) / "Kestrova" / name;
}

}  // namespace kestrova::cli
