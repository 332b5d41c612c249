// Field order of streams whose container does not say, read from the
// interlacing flags of their first decoded frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pixels/pixel_enums.h"

namespace kestrova {

struct FieldProbeSample {
    bool interlaced = false;
    bool topFieldFirst = false;
    int32_t repeatPict = 0;
};

struct FieldProbeResult {
    FieldOrder fieldOrder = FieldOrder::Unknown;
    bool uncertain = true;
    bool pulldown = false;
    int32_t cadence = 0;  // 0 none, 1 period 5, 2 period 4
    int32_t sampleCount = 0;
    int32_t interlacedCount = 0;
    int32_t progressiveCount = 0;
    int32_t topFirstCount = 0;
    int32_t bottomFirstCount = 0;
};

// Counts, field order and cadence of a non-empty sample list.
FieldProbeResult classifyFieldSamples(const std::vector<FieldProbeSample>& samples);

class FieldProbe {
  public:
    // Decodes up to `maxFrames` of the stream on a private demuxer and decoder.
    static FieldProbeResult probe(const std::string& mediaPath, int32_t streamIndex,
                                  int32_t maxFrames);
    // Forgets every remembered answer (tests).
    static void clearMemo();
};

}  // namespace kestrova
