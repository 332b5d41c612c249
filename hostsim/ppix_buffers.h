// Host frame buffers (PPix) in every layout of the host pixel format
// catalogue, with row bytes padded the way a real host pads them, so a module
// that assumes tight rows writes visibly wrong pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pixels/host_formats.h"

namespace kestrova::hostsim {

struct PPixPlane {
    uint8_t* data = nullptr;
    int32_t rowBytes = 0;
    int32_t visibleBytes = 0;  // bytes of a row that belong to the picture
    int32_t rows = 0;
};

// What the creator asked for besides format and size, kept for tests.
struct PPixCreatorFields {
    bool useFields = false;
    int32_t fieldNumber = 0;
    int32_t aspectNum = 0;
    int32_t aspectDen = 0;
};

class PPixBuffer {
  public:
    // Null for a format outside the catalogue or a size that is not positive
    // or too large to allocate sensibly.
    static std::unique_ptr<PPixBuffer> create(uint32_t format, int32_t width, int32_t height,
                                              const PPixCreatorFields& creator = {});

    uint32_t format() const { return format_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    const PlaneLayout& layout() const { return layout_; }
    // One plane for packed formats, two for biplanar, three for planar 4:2:0.
    const std::vector<PPixPlane>& planes() const { return planes_; }
    std::size_t sizeBytes() const { return storage_.size(); }
    // Memory row 0 holds the bottom of the picture.
    bool bottomUp() const { return isBottomUpFormat(format_); }

    const PPixCreatorFields& creator() const { return creator_; }
    // A recycled buffer takes the new creator's fields; its pixels are the
    // previous picture's, as in a host's buffer pool.
    void setCreator(const PPixCreatorFields& creator) { creator_ = creator; }

  private:
    PPixBuffer() = default;
    uint32_t format_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    PlaneLayout layout_;
    PPixCreatorFields creator_;
    std::vector<uint8_t> storage_;
    std::vector<PPixPlane> planes_;
};

bool isV210Format(uint32_t format);

}  // namespace kestrova::hostsim
