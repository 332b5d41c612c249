// The output side of a trim: a muxer writing to a temporary beside the
// destination, which takes the destination's name only once the whole file
// is written and closed. Anything else removes the temporary, so a failed,
// cancelled or interrupted trim never leaves a partial destination and never
// touches a file already there.
#pragma once

#include <cstdint>
#include <string>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova::fileops {

class RemuxOutput {
  public:
    RemuxOutput() = default;
    ~RemuxOutput();
    RemuxOutput(const RemuxOutput&) = delete;
    RemuxOutput& operator=(const RemuxOutput&) = delete;

    // Creates the muxer context for `destination`; answers the FFmpeg error.
    int create(const char* muxer, const std::string& destination);
    // Opens the temporary for writing (unless the muxer needs no file).
    int open();
    // Closes the file; answers the FFmpeg error of the close.
    int close();
    // Moves the closed, non-empty temporary onto the destination.
    bool commit();

    AVFormatContext* context() const { return context_; }
    const std::string& temporaryPath() const { return temporary_; }

  private:
    bool needsFile() const;

    AVFormatContext* context_ = nullptr;
    std::string destination_;
    std::string temporary_;
    bool committed_ = false;
};

}  // namespace kestrova::fileops
