// The header check that runs on every library file in the FFmpeg folder
// before it is loaded: a user can put any file there.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "ffmpeg/image_check.h"
#include "fuzz_check.h"

using kestrova::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream elf(bytes);
    if (kestrova::ffmpeg::isX64ElfImage(elf)) {
        require(size >= 20 && bytes.compare(0, 4,
                                            "\x7F"
                                            "ELF") == 0,
                "an ELF header was there");
    }
    std::istringstream pe(bytes);
    if (kestrova::ffmpeg::isX64PeImage(pe)) {
        require(size >= 64 && bytes.compare(0, 2, "MZ") == 0, "a PE header was there");
    }
    return 0;
}
