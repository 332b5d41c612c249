// Fixed-size fields of the plug-in's own cache files: little-endian on disk
// whatever the processor, floats as their IEEE bit patterns.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <type_traits>

namespace kestrova {
namespace detail {

// The unsigned integer that carries T's bytes.
template <typename T>
auto littleEndianBits() {
    if constexpr (std::is_floating_point_v<T>) {
        if constexpr (sizeof(T) == 4) {
            return uint32_t{};
        } else {
            return uint64_t{};
        }
    } else {
        return std::make_unsigned_t<T>{};
    }
}
template <typename T>
using LittleEndianBits = decltype(littleEndianBits<T>());

}  // namespace detail

template <typename T>
T fromLittleEndian(const unsigned char* bytes) {
    using Bits = detail::LittleEndianBits<T>;
    Bits value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        value |= static_cast<Bits>(static_cast<Bits>(bytes[i]) << (8 * i));
    }
    if constexpr (std::is_floating_point_v<T>) {
        return std::bit_cast<T>(value);
    } else {
        return static_cast<T>(value);
    }
}

template <typename T>
bool readLittleEndian(std::istream& in, T& out) {
    unsigned char bytes[sizeof(T)];
    if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes)) {
        return false;
    }
    out = fromLittleEndian<T>(bytes);
    return true;
}

template <typename T>
void appendLittleEndian(std::string& out, T value) {
    const auto bits = std::bit_cast<detail::LittleEndianBits<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<char>(bits >> (8 * i)));
    }
}

}  // namespace kestrova
