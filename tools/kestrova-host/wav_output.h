// Writing planar float audio as a 32-bit float WAV file, chunk by chunk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

namespace kestrova::cli {

// The WAV speaker mask for host channel labels: 0 (no assignment) unless
// every label names a distinct speaker and they stand in the mask's order.
uint32_t speakerMask(std::span<const int32_t> labels);

// Up to two channels as WAVE_FORMAT_IEEE_FLOAT, more as
// WAVE_FORMAT_EXTENSIBLE with the float subformat and `speakerMask`.
class WavWriter {
  public:
    // False with `error` set when the file cannot be created.
    bool open(const std::filesystem::path& path, int32_t channels, int32_t sampleRate,
              uint32_t speakerMask, std::string& error);
    // Interleaves `frames` samples of each of the channels' planes.
    bool append(const float* const* planes, int64_t frames, std::string& error);
    // Writes the sizes into the header and closes the file.
    bool finish(std::string& error);

  private:
    std::ofstream file_;
    int32_t channels_ = 0;
    int64_t frames_ = 0;
    std::streamoff factOffset_ = 0;  // the fact chunk's frame count
    std::streamoff dataOffset_ = 0;  // the data chunk's size field
    std::vector<float> interleaved_;
};

}  // namespace kestrova::cli
