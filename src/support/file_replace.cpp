#include "support/file_replace.h"

#include <fstream>
#include <string>

#include "platform/platform.h"

namespace kestrova {

std::filesystem::path temporaryPathFor(const std::filesystem::path& target) {
    // Thread ids are unique among live threads system-wide, so two writers of
    // the same target never share a temporary.
    std::filesystem::path temporary = target;
    temporary += ".tmp." + std::to_string(platform::threadId());
    return temporary;
}

FileReplaceResult writeFileReplacing(const std::filesystem::path& target,
                                     const std::function<bool(std::ostream&)>& write) {
    const std::filesystem::path temporary = temporaryPathFor(target);
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) {
        return FileReplaceResult::CannotOpen;
    }
    bool written = write(out) && out.flush().good();
    out.close();
    written =
        written && !out.fail() &&
        platform::replaceFile(platform::utf8FromPath(temporary), platform::utf8FromPath(target));
    if (!written) {
        platform::removeFile(platform::utf8FromPath(temporary));
        return FileReplaceResult::WriteFailed;
    }
    return FileReplaceResult::Written;
}

}  // namespace kestrova
