#include "video/seek_index.h"

#include <algorithm>
#include <bit>
#include <fstream>
#include <new>
#include <stdexcept>

#include "platform/platform.h"
#include "support/cache_signature.h"
#include "support/file_replace.h"
#include "support/little_endian.h"
#include "support/logger.h"

namespace kestrova {
namespace {

constexpr char kMagic[4] = {'K', 'S', 'T', 'X'};
constexpr uint32_t kVersion = 1;
constexpr int64_t kTicksPerSecond = 10'000'000;  // file times count 100 ns units

// The last of the non-empty, `key`-sorted entries whose key is at or before
// `value`; the first entry when all lie after it.
const SeekIndexEntry& atOrBefore(const std::vector<SeekIndexEntry>& entries, int64_t value,
                                 int64_t SeekIndexEntry::*key) {
    const auto after =
        std::upper_bound(entries.begin(), entries.end(), value,
                         [key](int64_t v, const SeekIndexEntry& entry) { return v < entry.*key; });
    return after == entries.begin() ? entries.front() : *std::prev(after);
}

}  // namespace

const char* statusName(SeekIndexLoadStatus status) {
    switch (status) {
        case SeekIndexLoadStatus::Ok:
            return "Ok";
        case SeekIndexLoadStatus::FileNotFound:
            return "FileNotFound";
        case SeekIndexLoadStatus::CorruptOrTruncated:
            return "CorruptOrTruncated";
        case SeekIndexLoadStatus::VersionMismatch:
            return "VersionMismatch";
        case SeekIndexLoadStatus::ContentStateMismatch:
            return "ContentStateMismatch";
        case SeekIndexLoadStatus::IoError:
            return "IoError";
    }
    return "?";
}

SeekIndexLoadStatus SeekIndex::load(const std::filesystem::path& acceleratorPath,
                                    const ContentState& expected) {
    entries.clear();
    std::ifstream in(acceleratorPath, std::ios::binary);
    if (!in.is_open()) {
        return SeekIndexLoadStatus::FileNotFound;
    }
    return load(in, expected, platform::utf8FromPath(acceleratorPath));
}

SeekIndexLoadStatus SeekIndex::load(std::istream& in, const ContentState& expected,
                                    const std::string& pathText) {
    entries.clear();
    switch (readCacheSignature(in, kMagic, kVersion)) {
        case CacheSignature::Matches:
            break;
        case CacheSignature::Foreign:
            return SeekIndexLoadStatus::CorruptOrTruncated;
        case CacheSignature::OtherVersion:
            return SeekIndexLoadStatus::VersionMismatch;
    }

    int64_t size = 0;
    int64_t modTime = 0;
    uint32_t streamCount = 0;
    int32_t fileStreamIndex = 0;
    uint32_t entryCount = 0;
    if (!readLittleEndian(in, size) || !readLittleEndian(in, modTime) ||
        !readLittleEndian(in, streamCount) || !readLittleEndian(in, fileStreamIndex) ||
        !readLittleEndian(in, entryCount)) {
        return SeekIndexLoadStatus::CorruptOrTruncated;
    }

    if (size != expected.size || modTime != expected.modTime ||
        streamCount != expected.streamCount) {
        Logger::log(LogLevel::Debug,
                    "SeekIndex::load: content state mismatch for %s (size %lld vs %lld, mod %lld "
                    "vs %lld, streams %u vs %u)",
                    pathText.c_str(), static_cast<long long>(size),
                    static_cast<long long>(expected.size), static_cast<long long>(modTime),
                    static_cast<long long>(expected.modTime), streamCount, expected.streamCount);
        return SeekIndexLoadStatus::ContentStateMismatch;
    }

    if (entryCount > kSeekIndexMaxEntries) {
        return SeekIndexLoadStatus::CorruptOrTruncated;
    }
    // The count is only believed once the file is long enough to hold it.
    const std::streamoff here = in.tellg();
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (here < 0 || end < 0 || !in) {
        return SeekIndexLoadStatus::CorruptOrTruncated;
    }
    const uint64_t needed = uint64_t{entryCount} * sizeof(SeekIndexEntry);
    if (static_cast<uint64_t>(end - here) < needed) {
        return SeekIndexLoadStatus::CorruptOrTruncated;
    }
    in.seekg(here);

    try {
        entries.resize(entryCount);
    } catch (const std::bad_alloc&) {
        entries.clear();
        return SeekIndexLoadStatus::CorruptOrTruncated;
    }
    if (needed > 0 &&
        !in.read(reinterpret_cast<char*>(entries.data()), static_cast<std::streamsize>(needed))) {
        entries.clear();
        return SeekIndexLoadStatus::CorruptOrTruncated;
    }
    if constexpr (std::endian::native != std::endian::little) {
        for (SeekIndexEntry& entry : entries) {
            entry.pts = fromLittleEndian<int64_t>(reinterpret_cast<unsigned char*>(&entry.pts));
            entry.pos = fromLittleEndian<int64_t>(reinterpret_cast<unsigned char*>(&entry.pos));
            entry.frameIndex =
                fromLittleEndian<int64_t>(reinterpret_cast<unsigned char*>(&entry.frameIndex));
        }
    }

    streamIndex = fileStreamIndex;
    Logger::log(LogLevel::Debug, "SeekIndex::load: loaded %u entries for stream %d from %s",
                entryCount, streamIndex, pathText.c_str());
    return SeekIndexLoadStatus::Ok;
}

std::string acceleratorBytes(const SeekIndex& index, const ContentState& state) {
    std::string bytes(kMagic, sizeof kMagic);
    bytes.reserve(36 + index.entries.size() * sizeof(SeekIndexEntry));
    appendLittleEndian(bytes, kVersion);
    appendLittleEndian(bytes, state.size);
    appendLittleEndian(bytes, state.modTime);
    appendLittleEndian(bytes, state.streamCount);
    appendLittleEndian(bytes, index.streamIndex);
    appendLittleEndian(bytes, static_cast<uint32_t>(index.entries.size()));
    for (const SeekIndexEntry& entry : index.entries) {
        appendLittleEndian(bytes, entry.pts);
        appendLittleEndian(bytes, entry.pos);
        appendLittleEndian(bytes, entry.frameIndex);
    }
    return bytes;
}

bool SeekIndex::save(const std::filesystem::path& acceleratorPath,
                     const ContentState& state) const {
    if (entries.size() > kSeekIndexMaxEntries) {
        return false;
    }
    const std::string bytes = acceleratorBytes(*this, state);
    return writeFileReplacing(acceleratorPath, [&bytes](std::ostream& out) {
               return static_cast<bool>(
                   out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
           }) == FileReplaceResult::Written;
}

int64_t SeekIndex::positionFor(int64_t pts) const {
    if (entries.empty()) {
        return -1;
    }
    return atOrBefore(entries, pts, &SeekIndexEntry::pts).pos;
}

std::optional<SeekIndexEntry> SeekIndex::entryForFrame(int64_t frameIndex) const {
    if (entries.empty()) {
        return std::nullopt;
    }
    return atOrBefore(entries, frameIndex, &SeekIndexEntry::frameIndex);
}

int64_t SeekIndex::medianSpacing() const {
    if (entries.size() < 2) {
        return 0;
    }
    std::vector<int64_t> gaps;
    gaps.reserve(entries.size() - 1);
    for (std::size_t i = 1; i < entries.size(); ++i) {
        int64_t gap = 0;
        if (!__builtin_sub_overflow(entries[i].frameIndex, entries[i - 1].frameIndex, &gap) &&
            gap > 0) {
            gaps.push_back(gap);
        }
    }
    if (gaps.empty()) {
        return 0;
    }
    const auto middle = gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2);
    std::nth_element(gaps.begin(), middle, gaps.end());
    return *middle;
}

bool SeekIndex::retarget(const std::string& media, const std::string& accelerator) {
    if (!platform::fileStatus(accelerator)) {
        Logger::log(LogLevel::Warning, "SeekIndex::retarget: accelerator not found at %s",
                    accelerator.c_str());
        return false;
    }
    if (!platform::fileStatus(media)) {
        Logger::log(LogLevel::Warning, "SeekIndex::retarget: media not found at %s", media.c_str());
        return false;
    }
    Logger::log(LogLevel::Debug, "SeekIndex::retarget: verified %s for %s", accelerator.c_str(),
                media.c_str());
    return true;
}

std::filesystem::path acceleratorPathFor(const std::string& mediaPath) {
    std::filesystem::path result = platform::pathFromUtf8(mediaPath);
    result.replace_extension("kstidx");
    return result;
}

ContentState contentStateOf(const std::string& mediaPath) {
    ContentState state;
    const auto status = platform::fileStatus(mediaPath);
    if (!status) {
        return state;
    }
    state.size = static_cast<int64_t>(status->size);
    state.modTime = status->lastWrite100ns / kTicksPerSecond;
    return state;
}

}  // namespace kestrova
