#include "host/retarget_accelerator.h"

#include <string>

#include "host/utf16_fields.h"
#include "support/logger.h"
#include "video/seek_index.h"

namespace kestrova::host {
Result imRetargetAcceleratorHandler(void* record) {
    if (!record) {
        return imUnsupported;
    }
    const std::string media =
        readUtf16Path(readField<const char16_t*>(record, retargetrec::kMediaPath));
    const std::string accelerator =
        readUtf16Path(readField<const char16_t*>(record, retargetrec::kAcceleratorPath));
    if (media.empty() || accelerator.empty()) {
        Logger::log(LogLevel::Warning, "imRetargetAccelerator: empty path(s)");
        return imFailure;
    }
    if (!SeekIndex::retarget(media, accelerator)) {
        Logger::log(LogLevel::Warning, "imRetargetAccelerator: failed for %s", media.c_str());
        return imFailure;
    }
    Logger::log(LogLevel::Info, "imRetargetAccelerator: retargeted %s -> %s", accelerator.c_str(),
                media.c_str());
    return imNoErr;
}

}  // namespace kestrova::host
