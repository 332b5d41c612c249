#include "ppix_buffers.h"

#include "host.h"

namespace kestrova::hostsim {
namespace {

// Larger than any frame a test or the tool asks for; keeps the sizes below
// in 32-bit range.
constexpr int32_t kMaxDimension = 16384;
constexpr int64_t kRowAlignment = 64;
constexpr int64_t kMaxBytes = int64_t{1} << 30;

int64_t roundUp(int64_t value, int64_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

// Rows are aligned and carry at least one alignment unit of padding; v210
// rows keep their own 128-byte rule, as hosts give them.
int64_t paddedRowBytes(int64_t visible) {
    return roundUp(visible, kRowAlignment) + kRowAlignment;
}

// Bytes per pixel of a packed 4:4:4 catalogue format.
int64_t packedPixelBytes(const PlaneLayout& layout) {
    return layout.isFloat ? 16 : layout.depth == 16 ? 8 : 4;
}

}  // namespace

bool isV210Format(uint32_t format) {
    const PlaneLayout layout = layoutOfHostFormat(format);
    return layout.valid && layout.planeCount == 1 && layout.chromaShiftX == 1 && layout.depth == 10;
}

std::unique_ptr<PPixBuffer> PPixBuffer::create(uint32_t format, int32_t width, int32_t height,
                                               const PPixCreatorFields& creator) {
    const PlaneLayout layout = layoutOfHostFormat(format);
    if (!layout.valid || width < 1 || height < 1 || width > kMaxDimension ||
        height > kMaxDimension) {
        return nullptr;
    }
    std::unique_ptr<PPixBuffer> buffer(new PPixBuffer);
    buffer->format_ = format;
    buffer->width_ = width;
    buffer->height_ = height;
    buffer->layout_ = layout;
    buffer->creator_ = creator;
    struct Shape {
        int64_t visible;
        int64_t rowBytes;
        int64_t rows;
    };
    std::vector<Shape> shapes;
    const int64_t chromaWidth = (int64_t{width} + 1) / 2;
    const int64_t chromaRows = (int64_t{height} + 1) / 2;
    if (isPlanar420Format(format)) {
        shapes = {{width, paddedRowBytes(width), height},
                  {chromaWidth, paddedRowBytes(chromaWidth), chromaRows},
                  {chromaWidth, paddedRowBytes(chromaWidth), chromaRows}};
    } else if (isBiplanarFormat(format)) {
        const int64_t sample = layout.depth > 8 ? 2 : 1;
        shapes = {{width * sample, paddedRowBytes(width * sample), height},
                  {chromaWidth * 2 * sample, paddedRowBytes(chromaWidth * 2 * sample), chromaRows}};
    } else if (isV210Format(format)) {
        shapes = {{(int64_t{width} + 5) / 6 * 16, v210RowBytes(width), height}};
    } else {
        const int64_t visible =
            layout.chromaShiftX == 1 ? chromaWidth * 4 : int64_t{width} * packedPixelBytes(layout);
        shapes = {{visible, paddedRowBytes(visible), height}};
    }
    int64_t total = 0;
    for (const Shape& shape : shapes) {
        total += shape.rowBytes * shape.rows;
    }
    if (total > kMaxBytes) {
        return nullptr;
    }
    buffer->storage_.assign(static_cast<std::size_t>(total), Host::kFillByte);
    uint8_t* at = buffer->storage_.data();
    for (const Shape& shape : shapes) {
        buffer->planes_.push_back({at, static_cast<int32_t>(shape.rowBytes),
                                   static_cast<int32_t>(shape.visible),
                                   static_cast<int32_t>(shape.rows)});
        at += shape.rowBytes * shape.rows;
    }
    return buffer;
}

}  // namespace kestrova::hostsim
