// kestrova-host peaks: asks for the waveform peaks of a whole host stream the
// way the host does, times the call and can draw the waveform.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "audio_records.h"
#include "commands.h"
#include "json_writer.h"
#include "opened_clip.h"
#include "platform/platform.h"
#include "png_output.h"
#include "waveform.h"

namespace kestrova::cli {
namespace {

// Points per second when --rate does not say: the importer's cache resolution.
constexpr double kDefaultRate = 200;
constexpr int32_t kDefaultWidth = 1200;

struct PeakReport {
    int32_t channels = 0;
    int64_t points = 0;
    double rate = 0;
    double ms = 0;
    host::Result answer = host::imFailure;
    bool cacheFileBefore = false;
    std::string cacheFile;  // empty when the importer's log did not name the stream
    std::vector<float> max;
    std::vector<float> min;
};

// The importer keeps a stream's peaks in "<media>.a<FFmpeg audio stream>.kstpk".
std::string cacheFileName(const std::string& media, int32_t audioStream) {
    return media + ".a" + std::to_string(audioStream) + ".kstpk";
}

// The audio streams that have a peak cache file beside `media`.
std::vector<int32_t> cachedStreams(const std::string& media) {
    namespace fs = std::filesystem;
    const fs::path path(media);
    const std::string prefix = platform::utf8FromPath(path.filename()) + ".a", suffix = ".kstpk";
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::vector<int32_t> streams;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = platform::utf8FromPath(it->path().filename());
        if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
            !name.ends_with(suffix)) {
            continue;
        }
        const std::string digits =
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (digits.size() < 10 && digits.find_first_not_of("0123456789") == std::string::npos) {
            streams.push_back(std::stoi(digits));
        }
    }
    return streams;
}

// The FFmpeg audio stream the importer logged for the peak request, or -1:
// "imGetPeakAudio: start pos P, N frames at R Hz, C ch, ffmpeg audio stream S, PATH".
int32_t loggedAudioStream(const ImporterSession& session) {
    const std::string line = session.lastLogLine("imGetPeakAudio: start pos ");
    const std::string marker = ", ffmpeg audio stream ";
    const std::size_t at = line.find(marker);
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + marker.size());
}

void printText(const PeakReport& r) {
    std::printf("channels: %d\npoints: %lld at %g per second\n", r.channels,
                static_cast<long long>(r.points), r.rate);
    std::printf("imGetPeakAudio: %.3f ms, answer %d\n", r.ms, r.answer);
    std::printf("peak cache file before the call: %s%s%s%s\n", r.cacheFileBefore ? "yes" : "no",
                r.cacheFile.empty() ? "" : " (", r.cacheFile.c_str(),
                r.cacheFile.empty() ? "" : ")");
    for (int32_t c = 0; c < r.channels; ++c) {
        std::printf("channel %d: min %.6f, max %.6f\n", c, static_cast<double>(r.min[c]),
                    static_cast<double>(r.max[c]));
    }
}

std::string printJson(const PeakReport& r) {
    JsonWriter json;
    json.beginObject().key("channels").value(r.channels).key("points").value(r.points);
    json.key("rate").number(r.rate, 3).key("ms").number(r.ms, 3);
    json.key("cacheFileBefore").boolean(r.cacheFileBefore);
    for (const auto& [name, values] : {std::pair{"max", &r.max}, std::pair{"min", &r.min}}) {
        json.key(name).beginArray();
        for (const float value : *values) {
            json.number(value, 6);
        }
        json.endArray();
    }
    return json.endObject().text();
}

}  // namespace

int runPeaks(const GlobalOptions& options, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) {
        std::fprintf(stderr, "kestrova-host: peaks needs one FILE\n");
        return kExitUsage;
    }
    const std::string& file = arguments[0];
    int exitCode = kExitOk;
    std::unique_ptr<ImporterSession> session;
    std::unique_ptr<OpenedClip> clip =
        OpenedClip::start(options, file, session, exitCode, OpenedClip::Need::Audio);
    if (!clip) {
        return exitCode;
    }
    PeakReport report;
    report.channels = clip->info().channels;
    report.rate = options.peakRate.value_or(kDefaultRate);
    const double points = std::ceil(static_cast<double>(clip->info().audioDuration) /
                                    static_cast<double>(clip->info().sampleRate) * report.rate);
    if (!(points >= 0) || points > std::numeric_limits<int32_t>::max()) {
        std::fprintf(stderr, "kestrova-host: %.0f peak points do not fit one request (--rate)\n",
                     points);
        return kExitUsage;
    }
    report.points = static_cast<int64_t>(points);
    hostsim::AudioPlanes maxima(report.channels, report.points);
    hostsim::AudioPlanes minima(report.channels, report.points);
    const std::vector<int32_t> cachedBefore = cachedStreams(file);
    const auto before = std::chrono::steady_clock::now();
    report.answer = hostsim::peakAudio(
        clip->host(), clip->privateData(), 0, static_cast<float>(report.rate),
        static_cast<int32_t>(report.points), maxima.pointers(), minima.pointers());
    report.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before)
                    .count();
    clip.reset();
    session->host().shutdown();
    // Without the logged stream (log level below 3) any cache file of the media counts.
    const int32_t audioStream = loggedAudioStream(*session);
    report.cacheFile = audioStream < 0 ? "" : cacheFileName(file, audioStream);
    report.cacheFileBefore = audioStream < 0 ? !cachedBefore.empty()
                                             : std::find(cachedBefore.begin(), cachedBefore.end(),
                                                         audioStream) != cachedBefore.end();
    std::vector<ChannelPeaks> lanes;
    for (int32_t c = 0; c < report.channels; ++c) {
        const std::vector<float>& high = maxima.channel(c);
        const std::vector<float>& low = minima.channel(c);
        report.max.push_back(high.empty() ? 0.0f : *std::max_element(high.begin(), high.end()));
        report.min.push_back(low.empty() ? 0.0f : *std::min_element(low.begin(), low.end()));
        lanes.push_back({high.data(), low.data()});
    }
    if (options.json) {
        std::printf("%s\n", printJson(report).c_str());
    } else {
        printText(report);
    }
    std::string error;
    if (options.png &&
        !writePng(*options.png,
                  drawWaveform(lanes, report.points, options.width.value_or(kDefaultWidth)),
                  error)) {
        std::fprintf(stderr, "kestrova-host: cannot write %s: %s\n",
                     platform::utf8FromPath(*options.png).c_str(), error.c_str());
        return kExitImporterFailed;
    }
    return report.answer == host::imNoErr ? kExitOk : kExitImporterFailed;
}

}  // namespace kestrova::cli
