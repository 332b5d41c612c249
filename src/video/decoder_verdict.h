// What decoder selection decides for one codec and frame size, and the
// arithmetic that turns measured decode times into that decision.
#pragma once

#include <compare>
#include <cstdint>
#include <span>
#include <string>

namespace kestrova {

struct DecoderVerdict {
    bool useHardware = false;
    int32_t deviceType = 0;
    std::string deviceName = "software";
    double chosenMsPerFrame = 0;
    double softwareMsPerFrame = 0;
    // Rests on a completed examination and may be remembered across processes.
    bool measured = false;

    bool operator==(const DecoderVerdict&) const = default;
};

struct VerdictKey {
    int32_t codecId = 0;
    int32_t width = 0;
    int32_t height = 0;

    auto operator<=>(const VerdictKey&) const = default;
};

// A GPU backend may be this much slower than software and still be chosen:
// it frees the processor for the rest of the edit.
inline constexpr double kHardwareTolerance = 1.25;

// One GPU backend's measured time; negative when it could not decode.
struct BackendTiming {
    std::string name;
    int32_t deviceType = 0;
    double msPerFrame = -1;
};

// The decision from the software time (negative when software could not
// decode) and the backends' times in the order they were tried: the fastest
// backend wins, ties keep the earlier one. Logs the decision.
DecoderVerdict decideVerdict(double softwareMs, std::span<const BackendTiming> backends,
                             bool forceHardware, const std::string& codecName);

}  // namespace kestrova
