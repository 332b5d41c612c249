#include "ffmpeg/image_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace kestrova::ffmpeg {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes patched(Bytes bytes, std::size_t at, std::initializer_list<uint8_t> values) {
    for (const uint8_t value : values) {
        bytes[at++] = value;
    }
    return bytes;
}

Bytes truncated(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

// "MZ", the PE header offset at 60, then "PE\0\0" and the machine field.
Bytes peImage(uint16_t machine, uint32_t peOffset = 0x80) {
    Bytes bytes = patched(Bytes(peOffset + 24, 0), 0, {'M', 'Z'});
    bytes = patched(bytes, 60,
                    {uint8_t(peOffset), uint8_t(peOffset >> 8), uint8_t(peOffset >> 16),
                     uint8_t(peOffset >> 24)});
    return patched(bytes, peOffset, {'P', 'E', 0, 0, uint8_t(machine), uint8_t(machine >> 8)});
}

// A 64-byte ELF header: magic, class, data encoding, version, e_type, e_machine.
Bytes elfImage(uint16_t machine, uint8_t elfClass = 2, uint8_t encoding = 1) {
    const Bytes bytes = patched(Bytes(64, 0), 0, {0x7F, 'E', 'L', 'F', elfClass, encoding, 1});
    return patched(bytes, 16, {3, 0, uint8_t(machine), uint8_t(machine >> 8)});
}

TEST(ImageCheckTest, AcceptsOnlyWholeX64HeadersOfItsOwnFormat) {
    // Label, bytes, then whether they make an x64 PE image and an x64 ELF image.
    const std::tuple<std::string, Bytes, bool, bool> cases[] = {
        {"pe x64", peImage(0x8664), true, false},
        {"pe x64, header at 0x40", peImage(0x8664, 0x40), true, false},
        {"pe arm64", peImage(0xAA64), false, false},
        {"pe without MZ", patched(peImage(0x8664), 1, {'X'}), false, false},
        {"pe without PE signature", patched(peImage(0x8664), 0x82, {'x'}), false, false},
        {"pe header past the end", truncated(peImage(0x8664, 0x1000), 0x200), false, false},
        {"pe header offset far out", patched(peImage(0x8664), 60, {0xF0, 0xFF, 0xFF, 0xFF}), false,
         false},
        {"pe cut after the machine", truncated(peImage(0x8664), 0x86), true, false},
        {"pe cut at 0", truncated(peImage(0x8664), 0), false, false},
        {"pe cut at 63", truncated(peImage(0x8664), 63), false, false},
        {"pe cut at 0x83", truncated(peImage(0x8664), 0x83), false, false},
        {"pe cut at 0x85", truncated(peImage(0x8664), 0x85), false, false},
        {"elf x86-64", elfImage(62), false, true},
        {"elf machine with only the low byte of x86-64", elfImage(0x013E), false, false},
        {"elf 32-bit class", elfImage(62, 1), false, false},
        {"elf big-endian", elfImage(62, 2, 2), false, false},
        {"elf bad magic", patched(elfImage(62), 3, {'G'}), false, false},
        {"elf cut after the machine", truncated(elfImage(62), 20), false, true},
        {"elf cut at 3", truncated(elfImage(62), 3), false, false},
        {"elf cut at 19", truncated(elfImage(62), 19), false, false}};
    const test::TempDir dir;
    for (const auto& [label, bytes, pe, elf] : cases) {
        const std::string path = (dir.path() / label).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        EXPECT_EQ(isX64PeImage(path), pe) << label;
        EXPECT_EQ(isX64ElfImage(path), elf) << label;
        EXPECT_EQ(isX64Image(path), elf) << label;  // this build runs on ELF systems
    }
    EXPECT_FALSE(isX64Image((dir.path() / "absent.so").string()));
    EXPECT_FALSE(isX64Image(dir.str()));
    EXPECT_FALSE(isX64PeImage(dir.str()));
}

}  // namespace
}  // namespace kestrova::ffmpeg
