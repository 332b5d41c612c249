// Host interface definitions of the project-management selectors: their
// result codes, the progress callback and the records of the size estimate,
// trim check, trim and copy. Byte offsets as in host_api.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_api.h"

namespace kestrova::host {

// Trim and copy: the container cannot be trimmed by remuxing; the copy's
// destination could not be written; the trim's output could not be written.
inline constexpr Result imTrimDeclined = 20;
inline constexpr Result imCopyWriteFailed = 21;
inline constexpr Result imTrimWriteFailed = 22;

// Progress of a trim or copy: (done, total, context); 0 means the user
// cancelled, anything else go on.
using ProgressFn = int32_t (*)(int32_t done, int32_t total, void* context);

// imCalcSize8 (first parameter; the file access record is the second).
// Trim-in and duration count host units of sampleSize / scale seconds.
namespace calcsizerec {
inline constexpr std::size_t kPrivateData = 0;   // void*
inline constexpr std::size_t kTrimIn = 8;        // int32
inline constexpr std::size_t kDuration = 12;     // int32, 0 for the whole file
inline constexpr std::size_t kResultBytes = 16;  // int64 out
inline constexpr std::size_t kScale = 24;        // int32
inline constexpr std::size_t kSampleSize = 28;   // int32
inline constexpr std::size_t kSize = 32;
}  // namespace calcsizerec

// imCheckTrim8 (first parameter; the file access record is the second), in
// frames of the clip.
namespace checktrimrec {
inline constexpr std::size_t kPrivateData = 0;   // void*
inline constexpr std::size_t kTrimIn = 8;        // int32
inline constexpr std::size_t kDuration = 12;     // int32
inline constexpr std::size_t kKeepAudio = 16;    // int32 flag
inline constexpr std::size_t kKeepVideo = 20;    // int32 flag
inline constexpr std::size_t kNewTrimIn = 24;    // int32 out
inline constexpr std::size_t kNewDuration = 28;  // int32 out
inline constexpr std::size_t kSize = 32;
}  // namespace checktrimrec

// imTrimFile8 (second parameter; the file access record is the first).
namespace trimrec {
inline constexpr std::size_t kPrivateData = 0;   // void*
inline constexpr std::size_t kTrimIn = 8;        // int32 host units
inline constexpr std::size_t kDuration = 12;     // int32 host units
inline constexpr std::size_t kKeepAudio = 16;    // int32 flag
inline constexpr std::size_t kKeepVideo = 20;    // int32 flag
inline constexpr std::size_t kDestination = 24;  // const char16_t*, zero-terminated
inline constexpr std::size_t kScale = 32;        // int32
inline constexpr std::size_t kSampleSize = 36;   // int32
inline constexpr std::size_t kProgress = 40;     // ProgressFn, may be null
inline constexpr std::size_t kContext = 48;      // void*, handed back to the callback
inline constexpr std::size_t kSize = 56;
}  // namespace trimrec

// imCopyFile (first parameter).
namespace copyrec {
inline constexpr std::size_t kSource = 0;       // const char16_t*, zero-terminated
inline constexpr std::size_t kDestination = 8;  // const char16_t*, zero-terminated
inline constexpr std::size_t kProgress = 16;    // ProgressFn, may be null
inline constexpr std::size_t kContext = 24;     // void*
inline constexpr std::size_t kSize = 32;
}  // namespace copyrec

}  // namespace kestrova::host
