// The host's project-management records: size estimate, trim check, trim
// and copy, with a progress callback that records every report and can
// cancel at a chosen one.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host.h"
#include "host/fileops_api.h"

namespace kestrova::hostsim {

// The context of the host's progress callback.
class Progress {
  public:
    struct Report {
        int32_t done = 0;
        int32_t total = 0;
    };
    // `cancelAtCall` counts from 1; 0 never cancels.
    explicit Progress(int32_t cancelAtCall = 0) : cancelAtCall_(cancelAtCall) {}
    // Runs inside each report before it is answered, with the report's
    // number (from 1): a test can change the world mid-operation.
    std::function<void(int32_t call)> onReport;

    std::vector<Report> reports() const;
    // The callback the records carry, with this object as its context.
    static int32_t callback(int32_t done, int32_t total, void* context);

  private:
    int32_t cancelAtCall_;
    mutable std::mutex mutex_;
    std::vector<Report> reports_;
};

struct SizeAnswer {
    host::Result result = host::imFailure;
    int64_t bytes = 0;
};
// imCalcSize8 for `duration` host units of sampleSize / scale seconds from
// `in`; duration 0 asks for the whole file.
SizeAnswer calcSize(const Host& host, void* privateData, int32_t in, int32_t duration,
                    int32_t scale, int32_t sampleSize);

struct CheckTrimAnswer {
    host::Result result = host::imFailure;
    int32_t in = 0;
    int32_t duration = 0;
};
// imCheckTrim8, in frames of the clip.
CheckTrimAnswer checkTrim(const Host& host, void* privateData, int32_t in, int32_t duration,
                          bool keepAudio, bool keepVideo);

struct TrimOrder {
    int32_t in = 0;
    int32_t duration = 0;
    int32_t scale = 25;
    int32_t sampleSize = 1;
    bool keepAudio = true;
    bool keepVideo = true;
    std::string destination;
};
// imTrimFile8; `progress` may be null (no callback).
host::Result trimFile(const Host& host, void* privateData, const TrimOrder& order,
                      Progress* progress = nullptr);

// imCopyFile; `progress` may be null (no callback).
host::Result copyFile(const Host& host, const std::string& source, const std::string& destination,
                      Progress* progress = nullptr);

}  // namespace kestrova::hostsim
