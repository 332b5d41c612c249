// Decode speed of one clip through the plug-in's own decoder: every frame in
// order, and frames picked at random positions as an editor's scrubbing does.
// Environment: KESTROVA_BENCH_CLIP (the clip), KESTROVA_BENCH_THREADS (decode
// threads asked for, 0 or unset: let the decoder choose) and
// KESTROVA_BENCH_SUMMARY (a file that receives key=value lines for
// run-decode-bench.sh).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "containers/clip_description.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "video/video_decoder.h"

namespace {

using kestrova::ClipDescription;
using kestrova::DecodeStatus;
using kestrova::FrameResult;
using kestrova::ProbeStatus;
using kestrova::StreamInfo;
using kestrova::ThreadRole;
using kestrova::VideoDecoder;
using Clock = std::chrono::steady_clock;

constexpr int kRandomRequests = 200;
constexpr uint32_t kShuffleSeed = 0x4b455354u;
// More frames than any clip this program is pointed at could hold.
constexpr double kFrameCountLimit = 1e8;

struct Settings {
    std::string clip;
    int32_t threads = 0;
    std::string summaryPath;
    std::string error;
};

const Settings& settings() {
    static const Settings parsed = [] {
        Settings result;
        const char* clip = std::getenv("KESTROVA_BENCH_CLIP");
        if (clip == nullptr || *clip == '\0') {
            result.error = "KESTROVA_BENCH_CLIP names no clip";
            return result;
        }
        result.clip = clip;
        if (const char* threads = std::getenv("KESTROVA_BENCH_THREADS")) {
            char* end = nullptr;
            const long value = std::strtol(threads, &end, 10);
            if (end == threads || *end != '\0' || value < 0 || value > 256) {
                result.error = "KESTROVA_BENCH_THREADS must be a number from 0 to 256";
                return result;
            }
            result.threads = static_cast<int32_t>(value);
        }
        if (const char* path = std::getenv("KESTROVA_BENCH_SUMMARY")) {
            result.summaryPath = path;
        }
        return result;
    }();
    return parsed;
}

// Appends the figures of one benchmark to the summary file, when one is named.
void record(benchmark::State& state, const std::map<std::string, double>& figures) {
    if (settings().summaryPath.empty()) {
        return;
    }
    std::ofstream out(settings().summaryPath, std::ios::app);
    for (const auto& [key, value] : figures) {
        out << key << '=' << value << '\n';
    }
    if (!out) {
        state.SkipWithError("cannot write the summary file");
    }
}

double seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

// The frame rate the decoder indexes by: the average rate, else the real one.
double frameRate(const StreamInfo& stream) {
    for (const AVRational& rate : {stream.averageFrameRate, stream.realFrameRate}) {
        if (rate.num > 0 && rate.den > 0) {
            return static_cast<double>(rate.num) / rate.den;
        }
    }
    return 0;
}

// Frames in the stream from its duration (or the container's) and rate; 0 when
// the file gives nothing usable.
int64_t frameCount(const ClipDescription& clip, const StreamInfo& stream) {
    const double rate = frameRate(stream);
    double duration = 0;
    if (stream.duration > 0 && stream.timeBase.num > 0 && stream.timeBase.den > 0) {
        duration = static_cast<double>(stream.duration) * stream.timeBase.num / stream.timeBase.den;
    } else if (!clip.durationUnknown() && clip.duration() > 0) {
        duration = static_cast<double>(clip.duration()) / AV_TIME_BASE;
    }
    // A container duration that includes a trailing audio packet must not add a frame.
    const double frames = std::floor(duration * rate + 1e-6);
    if (!(frames >= 1 && frames < kFrameCountLimit)) {
        return 0;
    }
    return static_cast<int64_t>(frames);
}

// An open clip and a decoder on its first video stream.
struct Session {
    ClipDescription clip;
    VideoDecoder decoder;
    int64_t frames = 0;
    std::string error;

    bool open() {
        if (!settings().error.empty()) {
            error = settings().error;
            return false;
        }
        const kestrova::ffmpeg::FfmpegRuntime& runtime =
            kestrova::ffmpeg::FfmpegRuntime::instance();
        if (!runtime.available()) {
            error = "FFmpeg runtime unavailable: " + runtime.loadMessage + " " +
                    runtime.discoveryMessage;
            return false;
        }
        const kestrova::ProbeResult probe = clip.probe(settings().clip);
        if (probe.status != ProbeStatus::Ok) {
            error = std::string("probe failed: ") + kestrova::statusName(probe.status) + " " +
                    probe.detail;
            return false;
        }
        const std::vector<const StreamInfo*> videos = clip.videoStreams();
        if (videos.empty()) {
            error = "no video stream";
            return false;
        }
        frames = frameCount(clip, *videos.front());
        if (frames == 0) {
            error = "no usable duration or frame rate";
            return false;
        }
        if (!decoder.open(clip, videos.front()->index, settings().threads, false, 0,
                          ThreadRole::Foreground)) {
            error = "the decoder did not open";
            return false;
        }
        return true;
    }
};

void sequentialDecode(benchmark::State& state) {
    int64_t delivered = 0;
    int64_t inexact = 0;
    int64_t frames = 0;
    int32_t granted = 0;
    double best = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        Session session;
        if (!session.open()) {
            state.SkipWithError(session.error.c_str());
            return;
        }
        frames = session.frames;
        granted = session.decoder.grantedThreads();
        for (int64_t n = 0; n < session.frames; ++n) {
            const FrameResult result = session.decoder.frameAt(n);
            if (result.status == DecodeStatus::EndOfStream) {
                break;
            }
            benchmark::DoNotOptimize(session.decoder.currentFrame());
            ++delivered;
            if (result.status != DecodeStatus::Ok || result.notExact) {
                ++inexact;
            }
        }
        const double pass = seconds(Clock::now() - start);
        best = best > 0 ? std::min(best, pass) : pass;
    }
    state.counters["frames"] = static_cast<double>(frames);
    state.counters["inexact"] = static_cast<double>(inexact);
    state.counters["threads"] = granted;
    state.counters["best_s"] = best;
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(delivered), benchmark::Counter::kIsRate);
    record(state, {{"sequential_s", best},
                   {"sequential_fps", best > 0 ? static_cast<double>(frames) / best : 0},
                   {"sequential_frames", static_cast<double>(frames)},
                   {"sequential_inexact", static_cast<double>(inexact)},
                   {"threads_granted", granted}});
}

void randomAccess(benchmark::State& state) {
    Session session;
    if (!session.open()) {
        state.SkipWithError(session.error.c_str());
        for (auto _ : state) {
        }
        return;
    }
    // Positions spread over the whole clip, every GOP hit about equally, in
    // a fixed shuffled order so runs compare.
    std::vector<int64_t> targets;
    for (int k = 0; k < kRandomRequests; ++k) {
        targets.push_back((session.frames * k) / kRandomRequests + k % 7);
    }
    for (int64_t& target : targets) {
        target = std::min(target, session.frames - 1);
    }
    std::shuffle(targets.begin(), targets.end(), std::mt19937(kShuffleSeed));

    std::vector<double> costs;
    int64_t inexact = 0;
    for (auto _ : state) {
        for (const int64_t target : targets) {
            const Clock::time_point start = Clock::now();
            const FrameResult result = session.decoder.frameAt(target);
            costs.push_back(seconds(Clock::now() - start) * 1000.0);
            benchmark::DoNotOptimize(session.decoder.currentFrame());
            if (result.status != DecodeStatus::Ok || result.notExact) {
                ++inexact;
            }
        }
    }
    if (costs.empty()) {
        return;
    }
    double total = 0;
    for (const double cost : costs) {
        total += cost;
    }
    std::sort(costs.begin(), costs.end());
    const double mean = total / static_cast<double>(costs.size());
    const std::size_t rank = static_cast<std::size_t>(std::ceil(0.95 * costs.size()));
    const double p95 = costs[std::max<std::size_t>(rank, 1) - 1];
    state.counters["mean_ms"] = mean;
    state.counters["p95_ms"] = p95;
    state.counters["inexact"] = static_cast<double>(inexact);
    state.counters["seeks"] = static_cast<double>(session.decoder.seekCount());
    record(state, {{"random_mean_ms", mean},
                   {"random_p95_ms", p95},
                   {"random_inexact", static_cast<double>(inexact)},
                   {"random_seeks", static_cast<double>(session.decoder.seekCount())}});
}

}  // namespace

// Best of three passes, as the ffmpeg program is timed by run-decode-bench.sh.
BENCHMARK(sequentialDecode)
    ->Name("decode/sequential")
    ->Iterations(3)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(randomAccess)
    ->Name("decode/random_access")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
