// The plug-in's picture of one media file: the open demuxer, the container
// facts, one record per stream and the detected stereoscopic pair.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ffmpeg/ffmpeg_ptr.h"

namespace kestrova {

enum class ProbeStatus : int32_t {
    Ok = 0,
    RuntimeUnavailable = 1,
    CannotOpen = 2,
    NoStreamInfo = 3,
    NoDecodableStream = 4,
};
const char* statusName(ProbeStatus status);

struct ProbeResult {
    ProbeStatus status = ProbeStatus::RuntimeUnavailable;
    int32_t errorCode = 0;
    std::string detail;
};

struct StreamInfo {
    int32_t index = 0;
    int32_t mediaType = -1;
    int32_t codecId = 0;
    bool hasDecoder = false;
    std::string codecName;
    std::string codecLongName;
    std::string title;
    std::string language;
    AVRational timeBase{0, 1};
    int64_t duration = 0;
    int64_t startTime = 0;
    int64_t bitRate = 0;
    bool isDefault = false;
    int32_t bitsPerRawSample = 0;
    // Video only.
    int32_t width = 0;
    int32_t height = 0;
    int32_t pixelFormat = -1;
    AVRational sampleAspectRatio{0, 1};
    AVRational averageFrameRate{0, 1};
    AVRational realFrameRate{0, 1};
    int32_t profile = -99;
    int32_t level = -1;
    int32_t colourPrimaries = 2;
    int32_t colourTransfer = 2;
    int32_t colourMatrix = 2;
    int32_t colourRange = 0;
    int32_t chromaLocation = 0;
    int32_t fieldOrder = 0;
    int32_t videoDelay = 0;
    bool stereoPresent = false;
    int32_t stereoType = 0;
    int32_t stereoView = 0;
    bool stereoInverted = false;
    // Audio only.
    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t sampleFormat = -1;
    std::string channelLayoutText;
};

// Mastering display, light level and dynamic metadata of the first frame.
struct HdrMetadata {
    bool masteringPresent = false;
    bool hasPrimaries = false;
    bool hasLuminance = false;
    // red x, red y, green x, green y, blue x, blue y, white x, white y
    double primaries[8] = {};
    double minLuminance = 0;
    double maxLuminance = 0;
    bool contentLightPresent = false;
    uint32_t maxContentLight = 0;
    uint32_t maxFrameAverageLight = 0;
    bool hdr10PlusPresent = false;
    std::size_t hdr10PlusSize = 0;
    bool doviPresent = false;
    std::size_t doviSize = 0;
    int32_t doviProfile = -1;
    int32_t doviLevel = -1;
};

// Whether a codec id is one of the uncompressed PCM family.
inline bool isPcmCodec(int32_t codecId) {
    return codecId >= 0x10000 && codecId <= 0x10FFF;
}

// The stereo fields of a stream from the "stereo_mode" metadata value, or
// none when the value is not one the plug-in understands.
struct StereoTag {
    int32_t type = 0;
    int32_t view = 0;
};
std::optional<StereoTag> stereoFromMetadata(const std::string& value);

// The container-level pair, by container index; -1 when none.
struct StereoPair {
    bool found = false;
    int32_t left = -1;
    int32_t right = -1;
};
// Classifies the decodable video streams of a stream list.
StereoPair classifyStereoPair(const std::vector<StreamInfo>& streams);

// The dolby-vision profile and level from a metadata block, -1 each when
// the block is too short or its header offset is unusable.
std::pair<int32_t, int32_t> doviProfileLevel(const uint8_t* data, std::size_t size);

class ClipDescription {
  public:
    ClipDescription() = default;
    ClipDescription(const ClipDescription&) = delete;
    ClipDescription& operator=(const ClipDescription&) = delete;

    [[nodiscard]] ProbeResult probe(const std::string& path);
    void close();
    bool isOpen() const { return demuxer_ != nullptr; }
    bool isSeekable() const;
    const StreamInfo* findStream(int32_t index) const;
    std::vector<const StreamInfo*> videoStreams() const;
    std::vector<const StreamInfo*> audioStreams() const;
    int32_t eyeForView(int32_t view) const;

    AVFormatContext* demuxer() const { return demuxer_.get(); }
    const std::string& path() const { return path_; }
    const std::string& formatName() const { return formatName_; }
    const std::string& formatLongName() const { return formatLongName_; }
    const std::vector<StreamInfo>& streams() const { return streams_; }
    int64_t duration() const { return duration_; }
    bool durationUnknown() const { return durationUnknown_; }
    const std::vector<std::pair<std::string, std::string>>& metadata() const { return metadata_; }
    const StereoPair& stereoPair() const { return stereo_; }

  private:
    void clear();

    ffmpeg::FormatContextPtr demuxer_;
    std::string path_;
    std::string formatName_;
    std::string formatLongName_;
    std::vector<StreamInfo> streams_;
    int64_t duration_ = 0;
    bool durationUnknown_ = false;
    std::vector<std::pair<std::string, std::string>> metadata_;
    StereoPair stereo_;
};

struct ContainerHeader {
    bool opened = false;
    std::string formatName;
    int32_t streamCount = 0;
    std::vector<int32_t> videoCodecIds;
    bool everyVideoCodecKnown = true;
};
// Opens the container header only (no stream analysis) and closes it again.
ContainerHeader probeContainer(const std::string& path);

}  // namespace kestrova
