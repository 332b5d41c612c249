// The host's questions about a clip beside decoding: the analysis text, XMP
// metadata, stereo stream labels, the content state of a file, the clip's
// file list, the accelerator path and the embedded LUT. Each record and
// buffer is owned by the host and pre-filled with Host::kFillByte (or
// kFillUnit), so bytes the module left alone show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host.h"

namespace kestrova::hostsim {

// A selector that hands out bytes: the size field after the call and, when
// a buffer was given, the whole buffer as the module left it.
struct BufferAnswer {
    host::Result result = host::imFailure;
    int32_t size = 0;
    std::vector<uint8_t> bytes;
    // The buffer up to its first zero byte (or all of it).
    std::string text() const;
};

// Without a buffer (nullopt) the module is asked for the size; with one,
// for the bytes into a buffer of that many bytes (the size field says so).
BufferAnswer analysis(const Host& host, void* privateData, std::optional<int32_t> bufferBytes);
BufferAnswer metadata(const Host& host, void* privateData, uint32_t code,
                      std::optional<int32_t> bufferBytes);
BufferAnswer embeddedLut(const Host& host, void* privateData, std::optional<int32_t> bufferBytes);
// The size first, then the bytes into a buffer of exactly that size, as the
// host does; the answer of the size query when it fails.
BufferAnswer wholeAnalysis(const Host& host, void* privateData);
BufferAnswer wholeMetadata(const Host& host, void* privateData, uint32_t code);
BufferAnswer wholeEmbeddedLut(const Host& host, void* privateData);

struct TextAnswer {
    host::Result result = host::imFailure;
    // Empty when the module wrote nothing usable.
    std::string text;
};
// imQueryStreamLabel: the label's host string as text.
TextAnswer streamLabel(const Host& host, void* privateData, int32_t stream);
// imQueryContentState for a UTF-8 path (null path when `path` is nullopt).
TextAnswer contentState(const Host& host, const std::optional<std::string>& path);
// imQueryDestinationPath for a UTF-8 source path, with or without the
// host's destination buffer.
TextAnswer destinationPath(const Host& host, const std::string& source, bool withBuffer = true);

struct FileListAnswer {
    host::Result result = host::imFailure;
    int32_t count = 0;
    // The texts of the entries that hold a host string, in order.
    std::vector<std::string> paths;
};
// imQueryInputFileList without an array: the count.
FileListAnswer inputFileCount(const Host& host, void* privateData);
// With an array of `capacity` entries.
FileListAnswer inputFileList(const Host& host, void* privateData, int32_t capacity);
// The count first, then the list into an array of that many entries.
FileListAnswer inputFiles(const Host& host, void* privateData);

}  // namespace kestrova::hostsim
