// The bytes a trimmed copy of a clip will take, estimated from bit rates.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrova::fileops {

struct SizeInputs {
    int64_t containerBitRate = 0;
    std::vector<int64_t> streamBitRates;
    std::optional<uint64_t> fileSize;  // empty when it cannot be read
    int64_t durationMicros = 0;        // of the whole clip
    // The kept span: `duration` host units of sampleSize / scale seconds.
    int32_t duration = 0;
    int32_t scale = 0;
    int32_t sampleSize = 0;
};

struct SizeEstimate {
    int64_t bytes = 0;
    int64_t bitRate = 0;  // bits per second; 0 when no rate could be found
    double seconds = 0;
};

// Falls back from the container's bit rate to the streams' sum, then to size
// over duration, and finally to the whole file size.
SizeEstimate estimateTrimmedSize(const SizeInputs& inputs);

}  // namespace kestrova::fileops
