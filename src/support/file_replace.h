// Whole-file writes that never leave a half-written file under the real name:
// the bytes go to a temporary beside the target, which replaces the target
// only after a complete write and close.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>

namespace kestrova {

enum class FileReplaceResult : int32_t { Written = 0, CannotOpen = 1, WriteFailed = 2 };

// The temporary `writeFileReplacing` uses for `target` on this thread.
std::filesystem::path temporaryPathFor(const std::filesystem::path& target);

// Runs `write` on the temporary; the target is replaced only when `write`
// returns true and every write, the close and the rename succeed. On any
// failure the temporary is removed and the target is left as it was.
FileReplaceResult writeFileReplacing(const std::filesystem::path& target,
                                     const std::function<bool(std::ostream&)>& write);

}  // namespace kestrova
