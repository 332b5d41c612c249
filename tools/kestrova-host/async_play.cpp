#include "async_play.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>

#include "async_scheduler.h"
#include "json_writer.h"

namespace kestrova::cli {
namespace {

struct Latency {
    double mean = 0;
    double p95 = 0;
};

Latency latencyOf(std::vector<double> ms) {
    Latency latency;
    if (ms.empty()) {
        return latency;
    }
    latency.mean = std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size());
    std::sort(ms.begin(), ms.end());
    latency.p95 = ms[std::min(ms.size() - 1, (ms.size() * 95 + 99) / 100 - 1)];
    return latency;
}

// The frames the importer's prefetch thread decoded, from the line it logs
// when it stops (at log level 3 and above); -1 when none was logged.
int64_t prefetchedFrames(const ImporterSession& session) {
    const std::string line = session.lastLogLine("(prefetched ");
    const auto at = line.rfind("(prefetched ");
    if (at == std::string::npos) {
        return -1;
    }
    return std::stoll(line.substr(at + 12));
}

}  // namespace

AsyncPlayOutcome measureAsyncPlay(const GlobalOptions& options, ImporterSession& session,
                                  ClipFrames& clip, int64_t frames) {
    AsyncPlayOutcome outcome;
    outcome.format = fourCCName(clip.format());
    hostsim::Host& host = session.host();
    const hostsim::AsyncImporter importer = hostsim::createAsyncImporter(host, clip.clip());
    outcome.created = importer.result;
    if (!importer) {
        return outcome;
    }
    hostsim::AsyncPlayback playback;
    if (options.scrub) {
        playback.frames = hostsim::scrubPattern(frames);
        playback.snapRenderTimes = true;
    } else {
        playback.frames.resize(static_cast<std::size_t>(frames));
        std::iota(playback.frames.begin(), playback.frames.end(), int64_t{0});
    }
    playback.threads = options.threads;
    playback.rateNum = clip.info().frameRateNum;
    playback.rateDen = clip.info().frameRateDen;
    playback.formats = {clip.acceptedFormat()};
    // A scrubbing host keeps what it showed, so a scrub back finds it; one
    // playing forward shows each frame once and reuses its buffers.
    hostsim::PPixStore& store = host.ppix();
    store.setRecycling(4);
    store.setCacheEnabled(options.scrub);
    const int64_t hitsBefore = store.cacheStats().hits;
    outcome.report = hostsim::playAsync(importer, host, playback);
    outcome.hostCacheHits = store.cacheStats().hits - hitsBefore;
    outcome.closed = hostsim::asyncClose(importer);
    store.clearCache();
    return outcome;
}

int reportAsyncPlay(const GlobalOptions& options, const AsyncPlayOutcome& outcome,
                    const ImporterSession& session) {
    if (outcome.created != host::imNoErr) {
        std::fprintf(stderr, "kestrova-host: imCreateAsyncImporter answered %d\n", outcome.created);
        return kExitImporterFailed;
    }
    const hostsim::AsyncPlaybackReport& report = outcome.report;
    const int64_t prefetched = prefetchedFrames(session);
    const Latency latency = latencyOf(report.latencyMs);
    const double fps = report.seconds > 0 ? double(report.requested) / report.seconds : 0;
    const int64_t failed =
        report.failed + report.refused + (outcome.closed != host::imNoErr ? 1 : 0);
    if (options.json) {
        JsonWriter json;
        json.beginObject()
            .key("fourcc")
            .value(outcome.format)
            .key("frames")
            .value(report.requested);
        json.key("async").boolean(true).key("threads").value(int64_t{options.threads});
        json.key("scrub").boolean(options.scrub);
        json.key("fps").number(fps, 2).key("msPerFrame").number(fps > 0 ? 1000.0 / fps : 0, 3);
        json.key("meanLatencyMs").number(latency.mean, 3);
        json.key("p95LatencyMs").number(latency.p95, 3);
        json.key("hostCacheHits").value(outcome.hostCacheHits).key("prefetched").value(prefetched);
        json.key("snapped").value(report.snapped).key("failed").value(failed);
        std::printf("%s\n", json.endObject().text().c_str());
    } else {
        std::printf("play: %lld frames as %s through the async entry, %d requesting thread%s%s\n",
                    static_cast<long long>(report.requested), outcome.format.c_str(),
                    options.threads, options.threads == 1 ? "" : "s",
                    options.scrub ? ", scrubbing" : "");
        std::printf(
            "  %9.2f fps, %8.3f ms per frame; latency %.3f ms mean, %.3f ms at the 95th "
            "percentile\n",
            fps, fps > 0 ? 1000.0 / fps : 0, latency.mean, latency.p95);
        const std::string prefetchedText =
            prefetched < 0 ? "unknown (log level below 3)" : std::to_string(prefetched);
        std::printf("  host cache hits %lld, prefetched frames %s, snapped render times %lld\n",
                    static_cast<long long>(outcome.hostCacheHits), prefetchedText.c_str(),
                    static_cast<long long>(report.snapped));
        if (failed > 0) {
            std::printf("  %lld failed\n", static_cast<long long>(failed));
        }
    }
    return failed > 0 ? kExitImporterFailed : kExitOk;
}

}  // namespace kestrova::cli
