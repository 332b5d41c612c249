#include "ffmpeg/image_check.h"

#include <cstddef>
#include <cstdint>
#include <fstream>

#include "platform/platform.h"

namespace kestrova::ffmpeg {
namespace {

constexpr std::streamoff kPeHeaderOffsetField = 60;
constexpr uint16_t kPeMachineX64 = 0x8664;
constexpr uint8_t kElfClass64 = 2;
constexpr uint8_t kElfLittleEndian = 1;
constexpr uint16_t kElfMachineX64 = 62;

// Reads exactly `count` bytes at `offset`; a failed seek or short read is false.
bool readAt(std::istream& file, std::streamoff offset, uint8_t* out, std::size_t count) {
    file.seekg(offset);
    if (!file) {
        return false;
    }
    file.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    return file.gcount() == static_cast<std::streamsize>(count);
}

uint16_t littleEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t littleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

}  // namespace

bool isX64PeImage(std::istream& file) {
    uint8_t dosSignature[2];
    if (!readAt(file, 0, dosSignature, sizeof dosSignature) || dosSignature[0] != 'M' ||
        dosSignature[1] != 'Z') {
        return false;
    }
    uint8_t peOffset[4];
    if (!readAt(file, kPeHeaderOffsetField, peOffset, sizeof peOffset)) {
        return false;
    }
    // Signature "PE\0\0" followed by the COFF header, whose first field is the machine.
    uint8_t peHeader[6];
    if (!readAt(file, static_cast<std::streamoff>(littleEndian32(peOffset)), peHeader,
                sizeof peHeader)) {
        return false;
    }
    if (peHeader[0] != 'P' || peHeader[1] != 'E' || peHeader[2] != 0 || peHeader[3] != 0) {
        return false;
    }
    return littleEndian16(peHeader + 4) == kPeMachineX64;
}

bool isX64ElfImage(std::istream& file) {
    // e_ident (16 bytes), e_type (2), e_machine (2).
    uint8_t header[20];
    if (!readAt(file, 0, header, sizeof header)) {
        return false;
    }
    if (header[0] != 0x7F || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') {
        return false;
    }
    // The machine field is only meaningful once its width and byte order are known.
    if (header[4] != kElfClass64 || header[5] != kElfLittleEndian) {
        return false;
    }
    return littleEndian16(header + 18) == kElfMachineX64;
}

bool isX64PeImage(const std::string& path) {
    std::ifstream file(platform::pathFromUtf8(path), std::ios::binary);
    return file && isX64PeImage(file);
}

bool isX64ElfImage(const std::string& path) {
    std::ifstream file(platform::pathFromUtf8(path), std::ios::binary);
    return file && isX64ElfImage(file);
}

bool isX64Image(const std::string& path) {
#if defined(_WIN32)
    return isX64PeImage(path);
#else
    return isX64ElfImage(path);
#endif
}

}  // namespace kestrova::ffmpeg
