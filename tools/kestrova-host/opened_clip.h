// A clip opened on the host stream of --stream, as imGetInfo8 describes it,
// closed with the object.
#pragma once

#include <memory>
#include <string>

#include "clip_records.h"
#include "importer_session.h"

namespace kestrova::cli {

class OpenedClip {
  public:
    enum class Need { Anything, Audio };
    // Starts an importer session for `options` and opens `file`; null (with
    // `exitCode`, the reason on standard error) when either fails, or when
    // `need` asks for audio and the stream has none.
    static std::unique_ptr<OpenedClip> start(const GlobalOptions& options, const std::string& file,
                                             std::unique_ptr<ImporterSession>& session,
                                             int& exitCode, Need need = Need::Anything);
    ~OpenedClip();
    OpenedClip(const OpenedClip&) = delete;
    OpenedClip& operator=(const OpenedClip&) = delete;

    const hostsim::Host& host() const { return host_; }
    void* privateData() const { return opened_.privateData; }
    const hostsim::ClipInfo& info() const { return info_; }

  private:
    explicit OpenedClip(const hostsim::Host& host) : host_(host) {}

    const hostsim::Host& host_;
    hostsim::OpenAnswer opened_;
    hostsim::ClipInfo info_;
};

}  // namespace kestrova::cli
