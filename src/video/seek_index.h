// Keyframe lists for seeking by byte position: from the container's own
// index, or from a kstidx accelerator file beside the media.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <vector>

struct AVFormatContext;

namespace kestrova {

struct SeekIndexEntry {
    int64_t pts = 0;
    int64_t pos = 0;
    int64_t frameIndex = 0;
};
static_assert(sizeof(SeekIndexEntry) == 24);

// What identifies a media file's content: size, last-write time in whole
// seconds since 1601 and the container's stream count.
struct ContentState {
    int64_t size = 0;
    int64_t modTime = 0;
    uint32_t streamCount = 0;
};

enum class SeekIndexLoadStatus : int32_t {
    Ok = 0,
    FileNotFound = 1,
    CorruptOrTruncated = 2,
    VersionMismatch = 3,
    ContentStateMismatch = 4,
    IoError = 5,
};
const char* statusName(SeekIndexLoadStatus status);

inline constexpr uint32_t kSeekIndexMaxEntries = 10'000'000;

class SeekIndex {
  public:
    // Entries from the container's own index; their count, 0 when the
    // container has none, -1 on bad arguments.
    int32_t buildFromContainer(AVFormatContext* format, int32_t streamIndex);
    [[nodiscard]] SeekIndexLoadStatus load(const std::filesystem::path& acceleratorPath,
                                           const ContentState& expected);
    // The same from an open byte stream; `pathText` names it in log lines.
    [[nodiscard]] SeekIndexLoadStatus load(std::istream& in, const ContentState& expected,
                                           const std::string& pathText);
    int64_t positionFor(int64_t pts) const;
    std::optional<SeekIndexEntry> entryForFrame(int64_t frameIndex) const;
    int64_t medianSpacing() const;
    // Replaces the accelerator file at `path` as a whole, for media in
    // `state`; false when it could not be written (an older file then stays).
    bool save(const std::filesystem::path& acceleratorPath, const ContentState& state) const;
    // Checks that both files exist; nothing is rewritten.
    static bool retarget(const std::string& mediaPath, const std::string& acceleratorPath);

    std::vector<SeekIndexEntry> entries;
    int32_t streamIndex = -1;
    bool fromContainer = false;
};

// The accelerator file's bytes for `index`, made for media in `state`.
std::string acceleratorBytes(const SeekIndex& index, const ContentState& state);

// The media path with its extension replaced by "kstidx".
std::filesystem::path acceleratorPathFor(const std::string& mediaPath);
// Size and time of the media file; all zero when it cannot be queried.
// The stream count is left for the caller.
ContentState contentStateOf(const std::string& mediaPath);

}  // namespace kestrova
