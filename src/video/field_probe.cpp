#include "video/field_probe.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <optional>

#include "containers/clip_description.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "support/logger.h"
#include "video/seek_index.h"
#include "video/video_decoder.h"

namespace kestrova {
namespace {

constexpr std::size_t kMemoCapacity = 256;

struct MemoKey {
    std::string path;
    int64_t size = 0;
    int64_t modTime = 0;
    int32_t stream = 0;
    bool operator==(const MemoKey&) const = default;
};

struct Memo {
    std::mutex mutex;
    std::deque<std::pair<MemoKey, FieldProbeResult>> answers;  // oldest first
};

Memo& memo() {
    // Never destroyed: probes may still run while the process exits.
    static Memo* instance = new Memo;
    return *instance;
}

std::optional<FieldProbeResult> recall(const MemoKey& key) {
    Memo& m = memo();
    std::lock_guard<std::mutex> lock(m.mutex);
    for (const auto& [storedKey, result] : m.answers) {
        if (storedKey == key) {
            return result;
        }
    }
    return std::nullopt;
}

void remember(const MemoKey& key, const FieldProbeResult& result) {
    Memo& m = memo();
    std::lock_guard<std::mutex> lock(m.mutex);
    for (auto& [storedKey, stored] : m.answers) {
        if (storedKey == key) {
            stored = result;
            return;
        }
    }
    if (m.answers.size() >= kMemoCapacity) {
        m.answers.pop_front();
    }
    m.answers.emplace_back(key, result);
}

// The share of a non-empty sample list that repeats a field.
double repeatShare(const std::vector<FieldProbeSample>& samples) {
    const auto repeating =
        std::count_if(samples.begin(), samples.end(),
                      [](const FieldProbeSample& s) { return s.repeatPict >= 1; });
    return static_cast<double>(repeating) / static_cast<double>(samples.size());
}

bool hasPeriod5Cadence(const std::vector<FieldProbeSample>& samples) {
    const std::size_t n = samples.size();
    if (n < 10) {
        return false;
    }
    const double share = repeatShare(samples);
    if (share < 0.3 || share > 0.5) {
        return false;
    }
    const std::size_t searched = std::min<std::size_t>(n, 25);
    std::size_t first = searched;
    for (std::size_t i = 0; i < searched; ++i) {
        if (samples[i].repeatPict >= 1) {
            first = i;
            break;
        }
    }
    if (first == searched) {
        return false;
    }
    // 3:2 pulldown repeats a field on two frames of every five, two apart.
    const std::size_t phase = first % 5;
    const std::size_t partner = (phase + 2) % 5;
    std::size_t matches = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const bool expected = (i % 5 == phase) || (i % 5 == partner);
        if (expected == (samples[i].repeatPict >= 1)) {
            ++matches;
        }
    }
    return static_cast<double>(matches) / static_cast<double>(n) >= 0.75;
}

bool hasPeriod4Cadence(const std::vector<FieldProbeSample>& samples) {
    const std::size_t n = samples.size();
    if (n < 8) {
        return false;
    }
    const double share = repeatShare(samples);
    if (share < 0.4 || share > 0.6) {
        return false;
    }
    const std::size_t m = std::min<std::size_t>(n, 20);
    std::size_t best = 0;
    for (std::size_t shift = 0; shift < 4; ++shift) {
        std::size_t matches = 0;
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t position = (i + shift) % 4;
            const bool expected = position == 0 || position == 3;
            if (expected == (samples[i].repeatPict > 0)) {
                ++matches;
            }
        }
        best = std::max(best, matches);
    }
    return static_cast<double>(best) / static_cast<double>(m) >= 0.75;
}

}  // namespace

FieldProbeResult classifyFieldSamples(const std::vector<FieldProbeSample>& samples) {
    FieldProbeResult result;
    if (samples.empty()) {
        return result;
    }
    result.sampleCount = static_cast<int32_t>(samples.size());
    for (const FieldProbeSample& sample : samples) {
        if (!sample.interlaced) {
            ++result.progressiveCount;
            continue;
        }
        ++result.interlacedCount;
        if (sample.topFieldFirst) {
            ++result.topFirstCount;
        } else {
            ++result.bottomFirstCount;
        }
    }
    const double interlacedShare =
        static_cast<double>(result.interlacedCount) / static_cast<double>(result.sampleCount);
    if (interlacedShare < 0.75) {
        result.fieldOrder = FieldOrder::Progressive;
        result.uncertain = interlacedShare > 0.25;
    } else if (result.topFirstCount > result.bottomFirstCount) {
        result.fieldOrder = FieldOrder::UpperFirst;
        result.uncertain = false;
    } else if (result.bottomFirstCount > result.topFirstCount) {
        result.fieldOrder = FieldOrder::LowerFirst;
        result.uncertain = false;
    } else {
        result.fieldOrder = FieldOrder::UpperFirst;
        result.uncertain = true;
    }
    if (hasPeriod5Cadence(samples)) {
        result.pulldown = true;
        result.cadence = 1;
    } else if (hasPeriod4Cadence(samples)) {
        result.pulldown = true;
        result.cadence = 2;
    }
    return result;
}

FieldProbeResult FieldProbe::probe(const std::string& mediaPath, int32_t streamIndex,
                                   int32_t maxFrames) {
    if (!ffmpeg::FfmpegRuntime::instance().available() || mediaPath.empty()) {
        return {};
    }

    MemoKey key{mediaPath, 0, 0, streamIndex};
    bool store = false;
    const ContentState state = contentStateOf(mediaPath);
    key.size = state.size;
    key.modTime = state.modTime;
    if (key.size >= 1) {
        if (const auto known = recall(key)) {
            Logger::log(LogLevel::Debug,
                        "FieldProbe: served stream %d of %s from the probe memo (%d frames were "
                        "decoded for it once)",
                        streamIndex, mediaPath.c_str(), known->sampleCount);
            return *known;
        }
        store = true;
    }

    // A private demuxer, so the shared one's read position is never disturbed.
    ClipDescription clip;
    if (clip.probe(mediaPath).status != ProbeStatus::Ok) {
        Logger::log(LogLevel::Warning,
                    "FieldProbe: cannot open a private demuxer for %s; skipping the field probe "
                    "rather than reading packets from the shared source",
                    mediaPath.c_str());
        return {};
    }
    VideoDecoder decoder;
    if (!decoder.open(clip, streamIndex, 0, false, 0, ThreadRole::Background)) {
        Logger::log(LogLevel::Warning, "FieldProbe: cannot open decoder for stream %d",
                    streamIndex);
        return {};
    }

    std::vector<FieldProbeSample> samples;
    samples.reserve(static_cast<std::size_t>(std::max(maxFrames, 0)));
    for (int32_t i = 0; i < maxFrames; ++i) {
        const FrameResult frame = decoder.frameAt(i);
        if (frame.status != DecodeStatus::Ok) {
            break;
        }
        if (frame.repeatedLastGood || frame.black) {
            Logger::log(LogLevel::Debug,
                        "FieldProbe: stopping at frame %d of %d, decoder fell back to %s", i,
                        maxFrames, frame.black ? "a black frame" : "the last good frame");
            break;
        }
        const AVFrame* picture = decoder.currentFrame();
        if (!picture) {
            break;
        }
        FieldProbeSample sample;
        sample.interlaced = (picture->flags & AV_FRAME_FLAG_INTERLACED) != 0;
        sample.topFieldFirst = (picture->flags & AV_FRAME_FLAG_TOP_FIELD_FIRST) != 0;
        sample.repeatPict = picture->repeat_pict;
        samples.push_back(sample);
    }
    if (samples.empty()) {
        Logger::log(LogLevel::Warning, "FieldProbe: no frames decoded from stream %d", streamIndex);
        return {};
    }

    const FieldProbeResult result = classifyFieldSamples(samples);
    if (store) {
        remember(key, result);
    }
    return result;
}

void FieldProbe::clearMemo() {
    Memo& m = memo();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.answers.clear();
}

}  // namespace kestrova
