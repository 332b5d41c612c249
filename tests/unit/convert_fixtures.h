// Frames and host buffers for the conversion tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "ffmpeg/ffmpeg_ptr.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "pixels/convert.h"
#include "test_support.h"

namespace kestrova::test {

// An FFmpeg-allocated frame whose samples the test writes.
struct TestFrame {
    ffmpeg::FramePtr frame;
    TestFrame(AVPixelFormat format, int width, int height, AVColorRange range = AVCOL_RANGE_MPEG,
              AVColorSpace space = AVCOL_SPC_BT709) {
        const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
        frame.reset(fn.av_frame_alloc());
        frame->format = format;
        frame->width = width;
        frame->height = height;
        frame->color_range = range;
        frame->colorspace = space;
        EXPECT_GE(fn.av_frame_get_buffer(frame.get(), 0), 0);
    }
    template <typename T = uint8_t>
    T* row(int plane, int y) const {
        return reinterpret_cast<T*>(frame->data[plane] + y * frame->linesize[plane]);
    }
    // Sets `width` samples of `rows` rows of a plane from f(x, y).
    template <typename T = uint8_t>
    void fill(int plane, int width, int rows, const std::function<int(int, int)>& f) {
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < width; ++x) {
                row<T>(plane, y)[x] = static_cast<T>(f(x, y));
            }
        }
    }
    const AVFrame* get() const { return frame.get(); }
};

// A host buffer for the kernel route; negative row bytes store it bottom-up.
struct PackedBuffer {
    std::vector<uint8_t> bytes;
    DestinationBuffers destination;
    PackedBuffer(int width, int height, int64_t rowBytes, uint8_t fill = 0xEE)
        : bytes(static_cast<size_t>(std::abs(rowBytes) * height), fill) {
        destination.width = width;
        destination.height = height;
        destination.packed.rowBytes = rowBytes;
        destination.packed.data =
            rowBytes < 0 ? bytes.data() + (height - 1) * -rowBytes : bytes.data();
    }
    uint8_t* row(int y) const { return destination.packed.data + y * destination.packed.rowBytes; }
    template <typename T>
    T at(int x, int y, int index, int perPixel) const {
        T value;
        std::memcpy(&value, row(y) + (x * perPixel + index) * sizeof(T), sizeof(T));
        return value;
    }
};

inline TargetPlan planFor(const char (&format)[5], ConversionKind kind, int32_t source) {
    TargetPlan plan;
    plan.format = host::fourCC(format);
    plan.kind = kind;
    plan.sourceFormat = source;
    return plan;
}

}  // namespace kestrova::test
