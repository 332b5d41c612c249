// A clip opened for frame requests: the pixel format negotiated the way the
// host does it, then frames asked for one at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clip_records.h"
#include "importer_session.h"
#include "pixels/host_formats.h"

namespace kestrova::cli {

// FourCCs are written as the catalogue spells them; --format reads the same.
using kestrova::fourCCName;

// imGetIndPixelFormat from index 0 until it answers anything but 0.
std::vector<uint32_t> candidateFormats(const hostsim::Host& host, void* clip);

class ClipFrames {
  public:
    // Starts an importer session for `options` and opens its one FILE
    // argument in it; null (with `exitCode`) when either fails.
    static std::unique_ptr<ClipFrames> start(const GlobalOptions& options, const std::string& file,
                                             std::unique_ptr<ImporterSession>& session,
                                             int& exitCode);
    ~ClipFrames();
    ClipFrames(const ClipFrames&) = delete;
    ClipFrames& operator=(const ClipFrames&) = delete;

    const hostsim::ClipInfo& info() const { return info_; }
    uint32_t format() const { return format_; }
    // The clip's private data, for the records that name the clip.
    void* clip() const { return opened_.privateData; }
    // The one format every request accepts: the negotiated one at clip size.
    host::FrameFormat acceptedFormat() const { return {width_, height_, format_}; }

    struct Frame {
        host::Result result = host::imFailure;
        host::PPixHand ppix = nullptr;  // the caller disposes it
        bool fromCache = false;         // the host's frame cache served it
    };
    Frame request(int64_t frame);
    void dispose(host::PPixHand ppix);
    const hostsim::PPixBuffer* picture(host::PPixHand ppix) const;

  private:
    explicit ClipFrames(hostsim::Host& host) : host_(host) {}
    // Null when the file is declined or no format can be negotiated; the
    // reason is then on standard error and `exitCode` says what to exit with.
    static std::unique_ptr<ClipFrames> open(ImporterSession& session, const std::string& file,
                                            int32_t stream, std::optional<uint32_t> desired,
                                            int& exitCode);

    hostsim::Host& host_;
    hostsim::OpenAnswer opened_;
    hostsim::ClipInfo info_;
    uint32_t format_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

}  // namespace kestrova::cli
