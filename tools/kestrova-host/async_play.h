// kestrova-host play --async: playback through the importer's async entry.
#pragma once

#include <cstdint>
#include <string>

#include "async_scheduler.h"
#include "clip_frames.h"

namespace kestrova::cli {

struct AsyncPlayOutcome {
    host::Result created = host::imFailure;
    host::Result closed = host::imFailure;
    hostsim::AsyncPlaybackReport report;
    int64_t hostCacheHits = 0;
    std::string format;
};

// Plays `frames` frames of an open clip (or scrubs over them) from
// options.threads requesting threads, then closes the async instance.
AsyncPlayOutcome measureAsyncPlay(const GlobalOptions& options, ImporterSession& session,
                                  ClipFrames& clip, int64_t frames);

// Prints the outcome, with the frames the importer prefetched from its log;
// run once the importer is shut down, so every line of the log is written.
int reportAsyncPlay(const GlobalOptions& options, const AsyncPlayOutcome& outcome,
                    const ImporterSession& session);

}  // namespace kestrova::cli
