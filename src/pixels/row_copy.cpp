#include "pixels/row_copy.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace kestrova {
namespace {

constexpr int64_t kVector = 16;
constexpr int64_t kLine = 64;

void streamRow(uint8_t* destination, const uint8_t* source, int64_t bytes) {
    // Streaming stores need 16-byte aligned addresses; the ragged ends are
    // ordinary copies.
    const auto misalignment =
        static_cast<int64_t>(reinterpret_cast<uintptr_t>(destination) % kVector);
    const int64_t head = std::min(bytes, (kVector - misalignment) % kVector);
    std::memcpy(destination, source, head);
    int64_t at = head;
    for (; at + kLine <= bytes; at += kLine) {
        for (int64_t part = 0; part < kLine; part += kVector) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + part));
            _mm_stream_si128(reinterpret_cast<__m128i*>(destination + at + part), v);
        }
    }
    std::memcpy(destination + at, source + at, bytes - at);
}

}  // namespace

RowCopy::RowCopy(int64_t pictureBytes) : streaming_(pictureBytes >= kStreamingBytes) {}

RowCopy::~RowCopy() {
    if (streaming_) {
        _mm_sfence();
    }
}

void RowCopy::operator()(uint8_t* destination, const uint8_t* source, int64_t bytes) const {
    if (bytes <= 0) {
        return;
    }
    if (streaming_) {
        streamRow(destination, source, bytes);
    } else {
        std::memcpy(destination, source, bytes);
    }
}

}  // namespace kestrova
