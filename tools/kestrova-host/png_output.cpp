#include "png_output.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <vector>

namespace kestrova::cli {

namespace {

void putBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

// One chunk: length, type, data, and the CRC of type and data.
void putChunk(std::vector<uint8_t>& out, const char (&type)[5], const std::vector<uint8_t>& data) {
    putBigEndian32(out, static_cast<uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc =
        crc32(crc32(0L, Z_NULL, 0), out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
    putBigEndian32(out, static_cast<uint32_t>(crc));
}

}  // namespace

// 8-bit RGB, every row unfiltered, one zlib stream: plain enough to write
// the same bytes on every platform.
bool writePng(const std::filesystem::path& path, const hostsim::RgbImage& image,
              std::string& error) {
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
    if (image.width < 1 || image.height < 1 ||
        image.rgb.size() != rowBytes * static_cast<std::size_t>(image.height)) {
        error = "no picture to write";
        return false;
    }
    std::vector<uint8_t> rows;
    rows.reserve((rowBytes + 1) * static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        rows.push_back(0);  // filter: none
        const auto row = image.rgb.begin() + static_cast<std::ptrdiff_t>(rowBytes * y);
        rows.insert(rows.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }
    uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
        error = "cannot compress the picture";
        return false;
    }
    packed.resize(packedSize);

    std::vector<uint8_t> header;
    putBigEndian32(header, static_cast<uint32_t>(image.width));
    putBigEndian32(header, static_cast<uint32_t>(image.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, progressive
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putChunk(file, "IHDR", header);
    putChunk(file, "IDAT", packed);
    putChunk(file, "IEND", {});

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size())) ||
        !out.flush()) {
        error = "cannot write the picture";
        return false;
    }
    return true;
}

}  // namespace kestrova::cli
