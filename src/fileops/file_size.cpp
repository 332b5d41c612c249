#include "fileops/file_size.h"

#include <filesystem>
#include <system_error>

#include "platform/platform.h"

namespace kestrova::fileops {

std::optional<uint64_t> currentFileSize(const std::string& path, std::string* reason) {
    std::error_code error;
    const std::filesystem::path file = platform::pathFromUtf8(path);
    const uintmax_t size = std::filesystem::file_size(file, error);
    if (error) {
        if (reason) {
            *reason = error.message();
        }
        return std::nullopt;
    }
    return static_cast<uint64_t>(size);
}

}  // namespace kestrova::fileops
