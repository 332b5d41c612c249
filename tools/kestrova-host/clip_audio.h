// A clip opened for audio requests: the host stream's channels, rate and
// duration as imGetInfo8 describes them.
#pragma once

#include <memory>
#include <string>

#include "clip_records.h"
#include "importer_session.h"

namespace kestrova::cli {

class ClipAudio {
  public:
    // Starts an importer session for `options` and opens `file` on the host
    // stream of --stream; null (with `exitCode`, the reason on standard
    // error) when either fails or the stream has no audio.
    static std::unique_ptr<ClipAudio> start(const GlobalOptions& options, const std::string& file,
                                            std::unique_ptr<ImporterSession>& session,
                                            int& exitCode);
    ~ClipAudio();
    ClipAudio(const ClipAudio&) = delete;
    ClipAudio& operator=(const ClipAudio&) = delete;

    const hostsim::Host& host() const { return host_; }
    void* privateData() const { return opened_.privateData; }
    const hostsim::ClipInfo& info() const { return info_; }

  private:
    explicit ClipAudio(const hostsim::Host& host) : host_(host) {}

    const hostsim::Host& host_;
    hostsim::OpenAnswer opened_;
    hostsim::ClipInfo info_;
};

}  // namespace kestrova::cli
