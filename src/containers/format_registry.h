// The container families offered to the host, derived at run time from the
// demuxers of the loaded FFmpeg build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrova {

namespace ffmpeg {
class FfmpegRuntime;
}

// One importable container family: one qualifying demuxer and the file
// extensions it alone contributes.
struct FormatFamily {
    std::string name;
    std::string displayName;
    std::string shortName;
    // Host file type code, most significant byte first; 0 when no free code
    // was found.
    uint32_t typeCode = 0;
    std::vector<std::string> extensions;
    std::string mimeType;
    bool extensionsFromOverride = false;
};

// What the registry needs to know about one demuxer. The texts point into
// the demuxer's own static description; null means FFmpeg gives none.
struct DemuxerInfo {
    const char* name = nullptr;
    const char* longName = nullptr;
    bool noFile = false;
    const char* extensions = nullptr;
    const char* mimeType = nullptr;
};

// The result of one build: the families in demuxer order and the counters.
struct FormatFamilyBuild {
    std::vector<FormatFamily> families;
    int32_t demuxersSeen = 0;
    int32_t devicesExcluded = 0;
    int32_t withoutExtensions = 0;
};

// Turns a demuxer list, in FFmpeg's iteration order, into container families.
[[nodiscard]] FormatFamilyBuild buildFormatFamilies(const std::vector<DemuxerInfo>& demuxers);

// Every demuxer of the runtime in `av_demuxer_iterate` order. The runtime
// must be available.
[[nodiscard]] std::vector<DemuxerInfo> listDemuxers(const ffmpeg::FfmpegRuntime& runtime);

// The process-wide registry, built once and read-only afterwards.
class FormatRegistry {
  public:
    static const FormatRegistry& instance();

    explicit FormatRegistry(FormatFamilyBuild build) : build_(std::move(build)) {}

    std::size_t size() const { return build_.families.size(); }
    // The family at `index` in registry order; `index` must be below size().
    const FormatFamily& family(std::size_t index) const { return build_.families[index]; }
    int32_t demuxersSeen() const { return build_.demuxersSeen; }
    int32_t devicesExcluded() const { return build_.devicesExcluded; }
    int32_t withoutExtensions() const { return build_.withoutExtensions; }

  private:
    FormatFamilyBuild build_;
};

}  // namespace kestrova
