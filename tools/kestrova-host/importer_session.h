// A started importer: the module loaded, a host made, imInit answered 400.
// Destroying the session shuts the importer down.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "cli_options.h"
#include "clip_records.h"
#include "host.h"
#include "module.h"

namespace kestrova::cli {

class ImporterSession {
  public:
    // Null when the module cannot be loaded or imInit fails; the reason is
    // then on standard error and `exitCode` says what to exit with.
    static std::unique_ptr<ImporterSession> start(const GlobalOptions& options, int& exitCode);
    hostsim::Host& host() { return *host_; }
    // The last line containing `text` that the importer logged in this session.
    std::string lastLogLine(std::string_view text) const;
    // imOpenFile8 for `file` on host stream `stream`, after asking for the
    // clip preferences as the host does before every open.
    hostsim::OpenAnswer openClip(const std::string& file, int32_t stream);
    // Says on standard error that the importer declined `file`, with the
    // reason it logged.
    void reportDeclined(const std::string& file, host::Result answer) const;

  private:
    ImporterSession() = default;
    // Declared first so it outlives the host, which shuts the importer down.
    std::unique_ptr<hostsim::Module> module_;
    std::unique_ptr<hostsim::Host> host_;
    std::filesystem::path log_;
    std::uintmax_t logStart_ = 0;
};

// Where the importer keeps a per-user file (LOCALAPPDATA/Kestrova/NAME).
std::filesystem::path importerDataFile(const char* name);

}  // namespace kestrova::cli
