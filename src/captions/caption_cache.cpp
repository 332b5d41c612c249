#include "captions/caption_cache.h"

#include <algorithm>
#include <fstream>
#include <new>

#include "platform/platform.h"
#include "support/cache_signature.h"
#include "support/file_replace.h"
#include "support/little_endian.h"
#include "support/logger.h"

namespace kestrova {
namespace {

constexpr char kMagic[4] = {'K', 'S', 'T', 'C'};
constexpr uint32_t kVersion = 1;
// Records are only believed as far as the file holds them; this many are
// reserved up front whatever the header claims.
constexpr uint32_t kReservedRecords = 4096;

struct Header {
    ContentState state;
    int32_t videoStream = -1;
    int64_t frameRateNum = 0;
    int64_t frameRateDen = 0;
    int64_t estimatedDurationFrames = 0;
    uint32_t count = 0;
};

bool readHeader(std::istream& in, Header& header) {
    return readLittleEndian(in, header.state.size) && readLittleEndian(in, header.state.modTime) &&
           readLittleEndian(in, header.state.streamCount) &&
           readLittleEndian(in, header.videoStream) && readLittleEndian(in, header.frameRateNum) &&
           readLittleEndian(in, header.frameRateDen) &&
           readLittleEndian(in, header.estimatedDurationFrames) &&
           readLittleEndian(in, header.count);
}

// A length-prefixed field of at most kCaptionCacheMaxFieldBytes.
template <typename Bytes>
bool readField(std::istream& in, Bytes& bytes) {
    uint32_t length = 0;
    if (!readLittleEndian(in, length) || length > kCaptionCacheMaxFieldBytes) {
        return false;
    }
    bytes.resize(length);
    return length == 0 || bool(in.read(reinterpret_cast<char*>(bytes.data()),
                                       static_cast<std::streamsize>(length)));
}

bool readRecord(std::istream& in, Caption& caption) {
    return readLittleEndian(in, caption.time) && readLittleEndian(in, caption.format) &&
           isCaptionFormat(caption.format) && readField(in, caption.data) &&
           readField(in, caption.text);
}

void appendField(std::string& out, const void* bytes, std::size_t length) {
    appendLittleEndian(out, static_cast<uint32_t>(length));
    out.append(static_cast<const char*>(bytes), length);
}

}  // namespace

std::filesystem::path captionCachePathFor(const std::string& mediaPath) {
    if (mediaPath.empty()) {
        return {};
    }
    return platform::pathFromUtf8(mediaPath + ".kstcc");
}

CaptionCacheStatus loadCaptionCache(const std::filesystem::path& path, const ContentState& expected,
                                    int32_t videoStream, CaptionCacheContent& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return CaptionCacheStatus::FileNotFound;
    }
    return loadCaptionCache(in, expected, videoStream, out);
}

CaptionCacheStatus loadCaptionCache(std::istream& in, const ContentState& expected,
                                    int32_t videoStream, CaptionCacheContent& out) {
    switch (readCacheSignature(in, kMagic, kVersion)) {
        case CacheSignature::Matches:
            break;
        case CacheSignature::Foreign:
            return CaptionCacheStatus::CorruptOrTruncated;
        case CacheSignature::OtherVersion:
            return CaptionCacheStatus::VersionMismatch;
    }
    Header header;
    if (!readHeader(in, header)) {
        return CaptionCacheStatus::CorruptOrTruncated;
    }
    if (header.state.size != expected.size || header.state.modTime != expected.modTime ||
        header.state.streamCount != expected.streamCount || header.videoStream != videoStream) {
        return CaptionCacheStatus::ContentStateMismatch;
    }
    if (header.count > kCaptionCacheMaxCount || header.frameRateNum < 1 ||
        header.frameRateDen < 1) {
        return CaptionCacheStatus::CorruptOrTruncated;
    }
    std::vector<Caption> captions;
    try {
        captions.reserve(std::min(header.count, kReservedRecords));
        for (uint32_t i = 0; i < header.count; ++i) {
            Caption caption;
            if (!readRecord(in, caption)) {
                return CaptionCacheStatus::CorruptOrTruncated;
            }
            captions.push_back(std::move(caption));
        }
    } catch (const std::bad_alloc&) {
        return CaptionCacheStatus::CorruptOrTruncated;
    }
    out.frameRateNum = header.frameRateNum;
    out.frameRateDen = header.frameRateDen;
    out.estimatedDurationFrames = header.estimatedDurationFrames;
    out.captions = std::move(captions);
    return CaptionCacheStatus::Ok;
}

std::string captionCacheBytes(const CaptionCacheContent& content, const ContentState& state,
                              int32_t videoStream) {
    std::string bytes(kMagic, sizeof kMagic);
    appendLittleEndian(bytes, kVersion);
    appendLittleEndian(bytes, state.size);
    appendLittleEndian(bytes, state.modTime);
    appendLittleEndian(bytes, state.streamCount);
    appendLittleEndian(bytes, videoStream);
    appendLittleEndian(bytes, content.frameRateNum);
    appendLittleEndian(bytes, content.frameRateDen);
    appendLittleEndian(bytes, content.estimatedDurationFrames);
    appendLittleEndian(bytes, static_cast<uint32_t>(content.captions.size()));
    for (const Caption& caption : content.captions) {
        appendLittleEndian(bytes, caption.time);
        appendLittleEndian(bytes, caption.format);
        appendField(bytes, caption.data.data(), caption.data.size());
        appendField(bytes, caption.text.data(), caption.text.size());
    }
    return bytes;
}

bool saveCaptionCache(const std::filesystem::path& path, const CaptionCacheContent& content,
                      const ContentState& state, int32_t videoStream) {
    // A file the reader would reject would only be rewritten by every scan.
    const bool readable =
        content.captions.size() <= kCaptionCacheMaxCount &&
        std::all_of(content.captions.begin(), content.captions.end(), [](const Caption& c) {
            return c.data.size() <= kCaptionCacheMaxFieldBytes &&
                   c.text.size() <= kCaptionCacheMaxFieldBytes;
        });
    if (!readable) {
        Logger::log(LogLevel::Warning,
                    "CaptionScanner: %zu caption(s) exceed what the cache file holds, not saving "
                    "%s",
                    content.captions.size(), platform::utf8FromPath(path).c_str());
        return false;
    }
    const std::string bytes = captionCacheBytes(content, state, videoStream);
    const FileReplaceResult result = writeFileReplacing(path, [&bytes](std::ostream& out) {
        return bool(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
    });
    const std::string pathText = platform::utf8FromPath(path);
    if (result != FileReplaceResult::Written) {
        Logger::log(LogLevel::Debug,
                    "CaptionScanner: cannot write %s, the scan will be repeated next time",
                    pathText.c_str());
        return false;
    }
    Logger::log(LogLevel::Info,
                "CaptionScanner: wrote %zu caption(s) to %s -- this file will not be rescanned "
                "while its size and timestamp are unchanged",
                content.captions.size(), pathText.c_str());
    return true;
}

}  // namespace kestrova
