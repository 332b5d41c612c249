#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "fileops/file_size.h"
#include "fileops/fileops_selectors.h"
#include "host/utf16_fields.h"
#include "platform/platform.h"
#include "support/file_replace.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

constexpr std::size_t kCopyBufferBytes = 1'048'576;

// Why a copy stopped before its destination could be put in place.
enum class CopyStop { None, WriteError, ReadError, Cancelled, SizeMismatch };

struct CopyJob {
    const std::string& source;
    const std::string& destination;
    uint64_t size = 0;
    ProgressFn progress = nullptr;
    void* context = nullptr;
    uint64_t copied = 0;
    CopyStop stop = CopyStop::None;
};

// Copies the open source into `out`; false with the reason in the job.
bool copyStream(std::istream& in, std::ostream& out, CopyJob& job) {
    std::vector<char> buffer(kCopyBufferBytes);
    const auto total = static_cast<int32_t>(std::max<uint64_t>(job.size / 1024, 1));
    for (;;) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = in.gcount();
        if (in.bad()) {
            Logger::log(LogLevel::Error, "imCopyFile: read error on source %s after %ju bytes",
                        job.source.c_str(), static_cast<uintmax_t>(job.copied));
            job.stop = CopyStop::ReadError;
            return false;
        }
        if (got > 0) {
            if (!out.write(buffer.data(), got)) {
                Logger::log(LogLevel::Error, "imCopyFile: write error to %s",
                            job.destination.c_str());
                job.stop = CopyStop::WriteError;
                return false;
            }
            job.copied += static_cast<uint64_t>(got);
            if (job.progress &&
                job.progress(static_cast<int32_t>(job.copied / 1024), total, job.context) == 0) {
                Logger::log(LogLevel::Info, "imCopyFile: cancelled by user");
                job.stop = CopyStop::Cancelled;
                return false;
            }
        }
        if (in.eof() || got == 0) {
            break;
        }
    }
    // A source that shrank or grew while it was read is not a faithful copy.
    if (job.copied != job.size) {
        Logger::log(LogLevel::Error,
                    "imCopyFile: size mismatch for %s -- copied %ju of %ju bytes; removing the "
                    "incomplete copy",
                    job.destination.c_str(), static_cast<uintmax_t>(job.copied),
                    static_cast<uintmax_t>(job.size));
        job.stop = CopyStop::SizeMismatch;
        return false;
    }
    return true;
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
    std::string reason;
    const auto size = fileops::currentFileSize(source, &reason);
    if (!size) {
        Logger::log(LogLevel::Error, "imCopyFile: cannot stat source %s: %s", source.c_str(),
                    reason.c_str());
        return imFailure;
    }
    std::ifstream in(platform::pathFromUtf8(source), std::ios::binary);
    if (!in.is_open()) {
        Logger::log(LogLevel::Error, "imCopyFile: cannot open source %s", source.c_str());
        return imFailure;
    }
    CopyJob job{source,
                destination,
                *size,
                readField<ProgressFn>(record, copyrec::kProgress),
                readField<void*>(record, copyrec::kContext),
                0,
                CopyStop::None};
    // The bytes go to a temporary beside the destination, which replaces it
    // only once complete: a failed or cancelled copy leaves no partial file
    // and keeps whatever was at the destination before.
    const FileReplaceResult written =
        writeFileReplacing(platform::pathFromUtf8(destination),
                           [&in, &job](std::ostream& out) { return copyStream(in, out, job); });
    if (written == FileReplaceResult::CannotOpen) {
        Logger::log(LogLevel::Error, "imCopyFile: cannot create dest %s", destination.c_str());
        return imFailure;
    }
    if (written == FileReplaceResult::WriteFailed) {
        switch (job.stop) {
            case CopyStop::None:
                Logger::log(LogLevel::Error, "imCopyFile: error finalising %s",
                            destination.c_str());
                return imCopyWriteFailed;
            case CopyStop::WriteError:
                return imCopyWriteFailed;
            default:
                return imFailure;
        }
    }
    Logger::log(LogLevel::Info, "imCopyFile: completed, %ju bytes written",
                static_cast<uintmax_t>(job.copied));
    return imNoErr;
}

}  // namespace kestrova::host
