// Plain row copies into the host's buffers. A picture too large to stay in
// cache is written with streaming stores: the destination lines are not read
// in first, and the decoder's frames are not pushed out of the cache, which
// roughly halves the copy at 1080p while the decoder runs beside it.
#pragma once

#include <cstdint>

namespace kestrova {

class RowCopy {
  public:
    // `pictureBytes`: everything this copy will write, which decides the mode.
    explicit RowCopy(int64_t pictureBytes);
    // Orders the streaming stores before the buffer goes back to the host.
    ~RowCopy();
    RowCopy(const RowCopy&) = delete;
    RowCopy& operator=(const RowCopy&) = delete;

    void operator()(uint8_t* destination, const uint8_t* source, int64_t bytes) const;

    static constexpr int64_t kStreamingBytes = int64_t{1} << 20;

  private:
    bool streaming_;
};

}  // namespace kestrova
