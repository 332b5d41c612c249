#include <algorithm>
#include <cstdint>
#include <string>

#include "fileops/fileops_selectors.h"
#include "host/utf16_fields.h"
#include "platform/platform.h"
#include "support/file_replace.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

constexpr uint64_t kReportBytes = 1'048'576;

// The host's progress callback in KiB, called once per MiB copied and at the
// end whatever size the system copies in.
struct CopyProgress {
    ProgressFn progress = nullptr;
    void* context = nullptr;
    uint64_t size = 0;
    uint64_t reported = 0;
    bool cancelled = false;
};

bool reportCopied(uint64_t copied, void* data) {
    auto* state = static_cast<CopyProgress*>(data);
    if (!state->progress ||
        (copied / kReportBytes == state->reported / kReportBytes && copied != state->size)) {
        return true;
    }
    state->reported = copied;
    const auto total = static_cast<int32_t>(std::max<uint64_t>(state->size / 1024, 1));
    const auto done = static_cast<int32_t>(std::min<uint64_t>(copied, state->size) / 1024);
    state->cancelled = state->progress(done, total, state->context) == 0;
    return !state->cancelled;
}

// Whether the source still has the size and write time it had when the copy
// began: one that changed under the copy is not faithfully copied.
bool sourceUnchanged(const std::string& source, const platform::FileStatus& before,
                     uint64_t copied) {
    const auto after = platform::fileStatus(source);
    return copied == before.size && after && after->size == before.size &&
           after->lastWrite100ns == before.lastWrite100ns;
}

Result copyFailed(platform::CopyOutcome outcome, const std::string& source,
                  const std::string& destination, uint64_t copied) {
    switch (outcome) {
        case platform::CopyOutcome::CannotOpenSource:
            Logger::log(LogLevel::Error, "imCopyFile: cannot open source %s", source.c_str());
            return imFailure;
        case platform::CopyOutcome::CannotCreate:
            Logger::log(LogLevel::Error, "imCopyFile: cannot create dest %s", destination.c_str());
            return imFailure;
        case platform::CopyOutcome::ReadFailed:
            Logger::log(LogLevel::Error, "imCopyFile: read error on source %s after %ju bytes",
                        source.c_str(), static_cast<uintmax_t>(copied));
            return imFailure;
        case platform::CopyOutcome::WriteFailed:
            Logger::log(LogLevel::Error, "imCopyFile: write error to %s", destination.c_str());
            return imCopyWriteFailed;
        case platform::CopyOutcome::Cancelled:
            Logger::log(LogLevel::Info, "imCopyFile: cancelled by user");
            return imFailure;
        case platform::CopyOutcome::Copied:
            break;
    }
    return imNoErr;
}

}  // namespace

Result imCopyFileHandler(void* record) {
    if (!record) {
        return imUnsupported;
    }
    const std::string source = readUtf16Path(readField<const char16_t*>(record, copyrec::kSource));
    const std::string destination =
        readUtf16Path(readField<const char16_t*>(record, copyrec::kDestination));
    if (source.empty() || destination.empty()) {
        return imFailure;
    }
    Logger::log(LogLevel::Info, "imCopyFile: %s -> %s", source.c_str(), destination.c_str());
    const auto before = platform::fileStatus(source);
    if (!before || before->isDirectory) {
        Logger::log(LogLevel::Error, "imCopyFile: cannot stat source %s: %s", source.c_str(),
                    before ? "it is a folder" : "it cannot be examined");
        return imFailure;
    }
    // The bytes go to a temporary beside the destination, which replaces it
    // only once complete and checked: a failed or cancelled copy leaves no
    // partial file and keeps whatever was at the destination before.
    const std::string temporary =
        platform::utf8FromPath(temporaryPathFor(platform::pathFromUtf8(destination)));
    platform::removeFile(temporary);  // left by a copy that did not live to clean up
    CopyProgress progress{readField<ProgressFn>(record, copyrec::kProgress),
                          readField<void*>(record, copyrec::kContext), before->size, 0, false};
    uint64_t copied = 0;
    const platform::CopyOutcome outcome =
        platform::copyFileBytes(source, temporary, &reportCopied, &progress, copied);
    Result result = copyFailed(outcome, source, destination, copied);
    if (result == imNoErr && !sourceUnchanged(source, *before, copied)) {
        Logger::log(LogLevel::Error,
                    "imCopyFile: size mismatch for %s -- copied %ju of %ju bytes; removing the "
                    "incomplete copy",
                    destination.c_str(), static_cast<uintmax_t>(copied),
                    static_cast<uintmax_t>(before->size));
        result = imFailure;
    }
    if (result == imNoErr && !platform::replaceFile(temporary, destination)) {
        Logger::log(LogLevel::Error, "imCopyFile: error finalising %s", destination.c_str());
        result = imCopyWriteFailed;
    }
    if (result != imNoErr) {
        platform::removeFile(temporary);
        return result;
    }
    Logger::log(LogLevel::Info, "imCopyFile: completed, %ju bytes written",
                static_cast<uintmax_t>(copied));
    return imNoErr;
}

}  // namespace kestrova::host
