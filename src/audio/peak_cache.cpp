#include "audio/peak_cache.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <new>

#include "platform/platform.h"
#include "support/cache_signature.h"
#include "support/file_replace.h"
#include "support/little_endian.h"
#include "support/logger.h"

namespace kestrova {
namespace {

constexpr char kMagic[4] = {'K', 'S', 'T', 'P'};
constexpr uint32_t kVersion = 1;
// A request may exceed the cache's rate by this factor and still be served
// from it: rates arrive as doubles computed by the host.
constexpr double kRateTolerance = 1.0001;

struct Header {
    ContentState state;
    int32_t streamIndex = -1;
    uint32_t channels = 0;
    float pointsPerSecond = 0;
    int64_t pointCount = 0;
};

bool readHeaderFields(std::istream& in, Header& header) {
    return readLittleEndian(in, header.state.size) && readLittleEndian(in, header.state.modTime) &&
           readLittleEndian(in, header.state.streamCount) &&
           readLittleEndian(in, header.streamIndex) && readLittleEndian(in, header.channels) &&
           readLittleEndian(in, header.pointsPerSecond) && readLittleEndian(in, header.pointCount);
}

bool dimensionsPlausible(const Header& header) {
    return header.channels >= 1 && header.channels <= kPeakCacheMaxChannels &&
           header.pointCount >= 1 && header.pointCount <= kPeakCacheMaxPoints &&
           header.pointsPerSecond > 0 && std::isfinite(header.pointsPerSecond);
}

// Points are two floats each; on disk they are little-endian like the rest.
bool readPoints(std::istream& in, std::vector<PeakPoint>& points) {
    if (!in.read(reinterpret_cast<char*>(points.data()),
                 static_cast<std::streamsize>(points.size() * sizeof(PeakPoint)))) {
        return false;
    }
    if constexpr (std::endian::native != std::endian::little) {
        for (PeakPoint& point : points) {
            point.minimum =
                fromLittleEndian<float>(reinterpret_cast<unsigned char*>(&point.minimum));
            point.maximum =
                fromLittleEndian<float>(reinterpret_cast<unsigned char*>(&point.maximum));
        }
    }
    return true;
}

bool writePoints(std::ostream& out, const std::vector<PeakPoint>& points) {
    if constexpr (std::endian::native == std::endian::little) {
        return bool(out.write(reinterpret_cast<const char*>(points.data()),
                              static_cast<std::streamsize>(points.size() * sizeof(PeakPoint))));
    } else {
        std::string bytes;
        for (const PeakPoint& point : points) {
            appendLittleEndian(bytes, point.minimum);
            appendLittleEndian(bytes, point.maximum);
        }
        return bool(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
    }
}

}  // namespace

std::filesystem::path peakCachePathFor(const std::string& mediaPath, int32_t audioStreamIndex) {
    if (mediaPath.empty()) {
        return {};
    }
    return platform::pathFromUtf8(mediaPath + ".a" + std::to_string(std::max(audioStreamIndex, 0)) +
                                  ".kstpk");
}

float clampToUnit(float value) {
    return std::isnan(value) ? 0.0f : std::clamp(value, -1.0f, 1.0f);
}

void PeakCache::clear() {
    streamIndex_ = -1;
    channels_ = 0;
    pointsPerSecond_ = 0;
    pointCount_ = 0;
    points_.clear();
}

PeakLoadResult PeakCache::load(const std::filesystem::path& path, const ContentState& expected,
                               int32_t requestedStream) {
    clear();
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open() || !in.seekg(0, std::ios::end)) {
        return PeakLoadResult::Unreadable;
    }
    const std::streamoff size = in.tellg();
    if (size < 0 || !in.seekg(0)) {
        return PeakLoadResult::Unreadable;
    }
    return load(in, size, expected, requestedStream, platform::utf8FromPath(path));
}

PeakLoadResult PeakCache::load(std::istream& in, int64_t size, const ContentState& expected,
                               int32_t requestedStream, const std::string& pathText) {
    clear();
    switch (readCacheSignature(in, kMagic, kVersion)) {
        case CacheSignature::Matches:
            break;
        case CacheSignature::Foreign:
            return PeakLoadResult::Unreadable;
        case CacheSignature::OtherVersion:
            return PeakLoadResult::WrongVersion;
    }
    Header header;
    if (!readHeaderFields(in, header)) {
        return PeakLoadResult::Unreadable;
    }

    if (header.state.size != expected.size || header.state.modTime != expected.modTime ||
        header.state.streamCount != expected.streamCount) {
        Logger::log(LogLevel::Debug, "PeakCache::load: content state mismatch for %s",
                    pathText.c_str());
        return PeakLoadResult::Stale;
    }
    if (requestedStream >= 0 && requestedStream != header.streamIndex) {
        Logger::log(LogLevel::Warning,
                    "PeakCache::load: %s holds peaks for audio stream %d but stream %d was asked "
                    "for -- rejecting it rather than serving the wrong waveform",
                    pathText.c_str(), header.streamIndex, requestedStream);
        return PeakLoadResult::Stale;
    }
    if (!dimensionsPlausible(header)) {
        return PeakLoadResult::Unreadable;
    }
    // Bounded by the checks above: at most 256 x 2e9 x 8 bytes.
    const uintmax_t expectedSize =
        uintmax_t(kPeakCacheHeaderBytes) +
        uintmax_t{header.channels} * uintmax_t(header.pointCount) * sizeof(PeakPoint);
    if (size < 0 || uintmax_t(size) != expectedSize) {
        Logger::log(LogLevel::Warning,
                    "PeakCache::load: %s size %lld does not match the %u ch x %lld point header "
                    "(expected %ju bytes) -- rejecting rather than allocating from an untrusted "
                    "dimension",
                    pathText.c_str(), static_cast<long long>(size), header.channels,
                    static_cast<long long>(header.pointCount), expectedSize);
        return PeakLoadResult::Unreadable;
    }

    std::vector<std::vector<PeakPoint>> points;
    try {
        points.resize(header.channels);
        for (std::vector<PeakPoint>& channel : points) {
            channel.resize(static_cast<std::size_t>(header.pointCount));
            if (!readPoints(in, channel)) {
                return PeakLoadResult::Unreadable;
            }
        }
    } catch (const std::bad_alloc&) {
        return PeakLoadResult::Unreadable;
    }

    streamIndex_ = header.streamIndex;
    channels_ = static_cast<int32_t>(header.channels);
    pointsPerSecond_ = header.pointsPerSecond;
    pointCount_ = header.pointCount;
    points_ = std::move(points);
    Logger::log(LogLevel::Debug, "PeakCache::load: loaded %u ch x %lld points from %s",
                header.channels, static_cast<long long>(header.pointCount), pathText.c_str());
    return PeakLoadResult::Loaded;
}

bool PeakCache::save(const std::filesystem::path& path, const ContentState& state) const {
    if (empty()) {
        Logger::log(LogLevel::Debug, "PeakCache::save: nothing to save (empty cache)");
        return false;
    }
    std::string header(kMagic, sizeof kMagic);
    appendLittleEndian(header, kVersion);
    appendLittleEndian(header, state.size);
    appendLittleEndian(header, state.modTime);
    appendLittleEndian(header, state.streamCount);
    appendLittleEndian(header, streamIndex_);
    appendLittleEndian(header, static_cast<uint32_t>(channels_));
    appendLittleEndian(header, pointsPerSecond_);
    appendLittleEndian(header, pointCount_);

    const FileReplaceResult result = writeFileReplacing(path, [&](std::ostream& out) {
        if (!out.write(header.data(), static_cast<std::streamsize>(header.size()))) {
            return false;
        }
        return std::all_of(
            points_.begin(), points_.end(),
            [&out](const std::vector<PeakPoint>& channel) { return writePoints(out, channel); });
    });
    switch (result) {
        case FileReplaceResult::Written:
            Logger::log(LogLevel::Info, "PeakCache::save: wrote %d ch x %lld points to %s",
                        channels_, static_cast<long long>(pointCount_),
                        platform::utf8FromPath(path).c_str());
            return true;
        case FileReplaceResult::CannotOpen:
            Logger::log(LogLevel::Warning,
                        "PeakCache::save: cannot open %s for writing (cache not persisted)",
                        platform::utf8FromPath(path).c_str());
            return false;
        case FileReplaceResult::WriteFailed:
            Logger::log(LogLevel::Warning,
                        "PeakCache::save: writing %s failed (cache not persisted)",
                        platform::utf8FromPath(path).c_str());
            return false;
    }
    return false;
}

void PeakCache::set(int32_t streamIndex, int32_t channels, float pointsPerSecond,
                    int64_t pointCount, std::vector<std::vector<PeakPoint>> points) {
    clear();
    if (channels < 1 || pointCount < 1) {
        return;
    }
    points.resize(static_cast<std::size_t>(channels));
    for (std::vector<PeakPoint>& channel : points) {
        channel.resize(static_cast<std::size_t>(pointCount));
    }
    streamIndex_ = streamIndex;
    channels_ = channels;
    pointsPerSecond_ = pointsPerSecond;
    pointCount_ = pointCount;
    points_ = std::move(points);
}

const std::vector<PeakPoint>& PeakCache::points(int32_t channel) const {
    static const std::vector<PeakPoint> kNone;
    return channel >= 0 && channel < channels_ ? points_[static_cast<std::size_t>(channel)] : kNone;
}

bool PeakCache::query(int64_t start, double rate, int32_t count, int32_t channels,
                      float* const* maxima, float* const* minima) const {
    if (empty() || count < 1 || channels < 1 || !(rate > 0) || !maxima || !minima || start < 0 ||
        rate > double{pointsPerSecond_} * kRateTolerance) {
        return false;
    }
    const double ratio = double{pointsPerSecond_} / rate;
    const auto total = static_cast<double>(pointCount_);
    const int32_t served = std::min(channels_, channels);
    for (int32_t i = 0; i < count; ++i) {
        // Bounds are compared as doubles before any conversion: a far start
        // or a tiny rate must not overflow the index arithmetic.
        const double from = std::trunc(i * ratio + static_cast<double>(start) * ratio);
        const double to = std::trunc((i + 1) * ratio + static_cast<double>(start) * ratio);
        const bool past = !(from < total);
        const auto first = past ? 0 : static_cast<int64_t>(from);
        const int64_t last =
            past ? 0 : std::max(static_cast<int64_t>(std::min(to, total)), first + 1);
        for (int32_t c = 0; c < served; ++c) {
            float high = 0;
            float low = 0;
            if (!past) {
                const std::vector<PeakPoint>& stored = points_[static_cast<std::size_t>(c)];
                high = stored[static_cast<std::size_t>(first)].maximum;
                low = stored[static_cast<std::size_t>(first)].minimum;
                for (int64_t p = first + 1; p < last; ++p) {
                    high = std::max(high, stored[static_cast<std::size_t>(p)].maximum);
                    low = std::min(low, stored[static_cast<std::size_t>(p)].minimum);
                }
            }
            if (maxima[c]) {
                maxima[c][i] = clampToUnit(high);
            }
            if (minima[c]) {
                minima[c][i] = clampToUnit(low);
            }
        }
    }
    return true;
}

}  // namespace kestrova
