#include "png_output.h"

#include <png.h>

namespace kestrova::cli {

// The simplified write interface keeps libpng's longjmp error handling
// inside libpng.
bool writePng(const std::filesystem::path& path, const hostsim::RgbImage& image,
              std::string& error) {
    if (image.width < 1 || image.height < 1 ||
        image.rgb.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
        error = "no picture to write";
        return false;
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), image.width * 3,
                                nullptr) == 0) {
        error = png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

}  // namespace kestrova::cli
