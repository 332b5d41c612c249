#include "fileops/size_estimate.h"

#include <cmath>
#include <limits>

namespace kestrova::fileops {
namespace {

// Rates and sizes come from the file: done in floating point and clamped, so
// no product of two file numbers can overflow.
int64_t clampToInt64(double value) {
    if (!(value > 0)) {
        return 0;
    }
    constexpr double kMax = 9.2e18;
    return value >= kMax ? static_cast<int64_t>(kMax) : static_cast<int64_t>(value);
}

int64_t bitRateOf(const SizeInputs& inputs) {
    if (inputs.containerBitRate >= 1) {
        return inputs.containerBitRate;
    }
    double sum = 0;
    for (const int64_t rate : inputs.streamBitRates) {
        if (rate > 0) {
            sum += static_cast<double>(rate);
        }
    }
    if (sum >= 1) {
        return clampToInt64(sum);
    }
    if (inputs.fileSize && inputs.durationMicros > 0) {
        return clampToInt64(static_cast<double>(*inputs.fileSize) * 8'000'000.0 /
                            static_cast<double>(inputs.durationMicros));
    }
    return 0;
}

}  // namespace

SizeEstimate estimateTrimmedSize(const SizeInputs& inputs) {
    SizeEstimate estimate;
    estimate.bitRate = bitRateOf(inputs);
    if (estimate.bitRate < 1) {
        estimate.bytes = inputs.fileSize ? clampToInt64(static_cast<double>(*inputs.fileSize)) : 0;
        return estimate;
    }
    if (inputs.scale > 0 && inputs.sampleSize > 0) {
        estimate.seconds = static_cast<double>(inputs.duration) *
                           static_cast<double>(inputs.sampleSize) /
                           static_cast<double>(inputs.scale);
    }
    estimate.bytes =
        clampToInt64(std::trunc(static_cast<double>(estimate.bitRate) * estimate.seconds * 0.125));
    return estimate;
}

}  // namespace kestrova::fileops
