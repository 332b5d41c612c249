#include "ffmpeg/image_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace kestrova::ffmpeg {
namespace {

using Bytes = std::vector<uint8_t>;

// "MZ", the PE header offset at 60, then "PE\0\0" and the machine field.
Bytes peImage(uint16_t machine, uint32_t peOffset = 0x80) {
    Bytes bytes(peOffset + 24, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int i = 0; i < 4; ++i) {
        bytes[60 + i] = static_cast<uint8_t>(peOffset >> (8 * i));
    }
    bytes[peOffset] = 'P';
    bytes[peOffset + 1] = 'E';
    bytes[peOffset + 4] = static_cast<uint8_t>(machine);
    bytes[peOffset + 5] = static_cast<uint8_t>(machine >> 8);
    return bytes;
}

// A 64-byte ELF header: magic, class, data encoding, version, e_type, e_machine.
Bytes elfImage(uint16_t machine, uint8_t elfClass = 2, uint8_t encoding = 1) {
    Bytes bytes(64, 0);
    bytes[0] = 0x7F;
    bytes[1] = 'E';
    bytes[2] = 'L';
    bytes[3] = 'F';
    bytes[4] = elfClass;
    bytes[5] = encoding;
    bytes[6] = 1;
    bytes[16] = 3;
    bytes[18] = static_cast<uint8_t>(machine);
    bytes[19] = static_cast<uint8_t>(machine >> 8);
    return bytes;
}

Bytes truncated(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

class ImageCheckTest : public ::testing::Test {
  protected:
    std::string write(const Bytes& bytes) {
        const std::string path = (dir_.path() / ("image" + std::to_string(count_++))).string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    test::TempDir dir_;
    int count_ = 0;
};

TEST_F(ImageCheckTest, PeAcceptsOnlyX64Machine) {
    EXPECT_TRUE(isX64PeImage(write(peImage(0x8664))));
    EXPECT_TRUE(isX64PeImage(write(peImage(0x8664, 0x40))));
    EXPECT_FALSE(isX64PeImage(write(peImage(0x014C))));  // 32-bit x86
    EXPECT_FALSE(isX64PeImage(write(peImage(0xAA64))));  // Arm64
}

TEST_F(ImageCheckTest, PeRejectsBadSignatures) {
    Bytes noMz = peImage(0x8664);
    noMz[1] = 'X';
    EXPECT_FALSE(isX64PeImage(write(noMz)));
    Bytes noPe = peImage(0x8664);
    noPe[0x80 + 2] = 'x';
    EXPECT_FALSE(isX64PeImage(write(noPe)));
    // The PE header offset points past the end of the file.
    EXPECT_FALSE(isX64PeImage(write(truncated(peImage(0x8664, 0x1000), 0x200))));
    Bytes farOffset = peImage(0x8664);
    farOffset[60] = 0xF0;
    farOffset[61] = farOffset[62] = farOffset[63] = 0xFF;
    EXPECT_FALSE(isX64PeImage(write(farOffset)));
}

TEST_F(ImageCheckTest, PeShortReadsAreRejected) {
    const Bytes image = peImage(0x8664);
    for (const std::size_t size : {0u, 1u, 2u, 60u, 63u, 0x80u, 0x83u, 0x85u}) {
        EXPECT_FALSE(isX64PeImage(write(truncated(image, size)))) << size;
    }
    EXPECT_TRUE(isX64PeImage(write(truncated(image, 0x86))));
}

TEST_F(ImageCheckTest, ElfAcceptsOnlyX64Machine) {
    EXPECT_TRUE(isX64ElfImage(write(elfImage(62))));
    EXPECT_FALSE(isX64ElfImage(write(elfImage(183))));  // aarch64
    EXPECT_FALSE(isX64ElfImage(write(elfImage(3))));    // i386
    // Only the low byte matches x86-64.
    EXPECT_FALSE(isX64ElfImage(write(elfImage(0x013E))));
}

TEST_F(ImageCheckTest, ElfRejectsOtherClassesEncodingsAndMagic) {
    EXPECT_FALSE(isX64ElfImage(write(elfImage(62, 1))));     // 32-bit class
    EXPECT_FALSE(isX64ElfImage(write(elfImage(62, 2, 2))));  // big-endian
    Bytes badMagic = elfImage(62);
    badMagic[3] = 'G';
    EXPECT_FALSE(isX64ElfImage(write(badMagic)));
}

TEST_F(ImageCheckTest, ElfShortReadsAreRejected) {
    const Bytes image = elfImage(62);
    for (const std::size_t size : {0u, 3u, 4u, 16u, 19u}) {
        EXPECT_FALSE(isX64ElfImage(write(truncated(image, size)))) << size;
    }
    EXPECT_TRUE(isX64ElfImage(write(truncated(image, 20))));
}

TEST_F(ImageCheckTest, FormatsAreNotConfused) {
    EXPECT_FALSE(isX64ElfImage(write(peImage(0x8664))));
    EXPECT_FALSE(isX64PeImage(write(elfImage(62))));
}

TEST_F(ImageCheckTest, MissingFileAndDirectoryAreRejected) {
    EXPECT_FALSE(isX64Image((dir_.path() / "absent.so").string()));
    EXPECT_FALSE(isX64Image(dir_.str()));
    EXPECT_FALSE(isX64PeImage(dir_.str()));
}

// This build runs on ELF systems.
TEST_F(ImageCheckTest, PlatformCheckUsesElf) {
    EXPECT_TRUE(isX64Image(write(elfImage(62))));
    EXPECT_FALSE(isX64Image(write(peImage(0x8664))));
}

}  // namespace
}  // namespace kestrova::ffmpeg
