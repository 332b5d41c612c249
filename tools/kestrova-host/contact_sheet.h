// A contact sheet: thumbnails of frames in a grid, each labelled with its
// frame number.
#pragma once

#include <cstdint>
#include <vector>

#include "picture_view.h"

namespace kestrova::cli {

class ContactSheet {
  public:
    // Keeps a thumbnail only, so a long run holds little memory.
    void add(int64_t frame, const hostsim::RgbImage& picture);
    bool empty() const { return thumbnails_.empty(); }
    // Thumbnails by frame number, six to a row.
    hostsim::RgbImage render() const;

  private:
    struct Thumbnail {
        int64_t frame;
        hostsim::RgbImage image;
    };
    std::vector<Thumbnail> thumbnails_;
};

}  // namespace kestrova::cli
