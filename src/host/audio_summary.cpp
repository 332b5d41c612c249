#include <algorithm>

#include "host/clip_instance.h"
#include "support/logger.h"

namespace kestrova::host {

void logAudioSummary(ClipInstance& instance, const char* tag) {
    AudioReadStats& stats = instance.audioStats;
    if (stats.reads < 1 || stats.reads == stats.readsAtLastSummary) {
        return;
    }
    stats.readsAtLastSummary = stats.reads;
    const double rate = instance.summary.sampleRate;
    const double seconds = rate > 0 ? static_cast<double>(stats.samplesServed) / rate : 0.0;
    const double wallMs =
        stats.timesValid ? static_cast<double>(stats.latestReadNs - stats.firstReadNs) / 1e6 : 0.0;
    const AudioDecoderStats& decoder = instance.audioDecoder.stats();
    const double busyMs = static_cast<double>(decoder.busyNs) / 1e6;
    const double busy = wallMs > 0 ? std::min(100.0, busyMs / wallMs * 100.0) : 0.0;
    Logger::log(LogLevel::Info,
                "audio summary (%s) stream %d of %s: served %lld samples (%.1f s of audio) over "
                "%lld reads in %.1f ms wall, of which %.1f ms was inside our decoder (%.0f%% "
                "busy, %lld decode calls); empty %lld, partial %lld, declined %lld, seq stalls "
                "%lld",
                tag, instance.mappedAudio, instance.path.c_str(),
                static_cast<long long>(stats.samplesServed), seconds,
                static_cast<long long>(stats.reads), wallMs, busyMs, busy,
                static_cast<long long>(decoder.readCalls), static_cast<long long>(stats.emptyReads),
                static_cast<long long>(stats.partialReads),
                static_cast<long long>(stats.declined.load()),
                static_cast<long long>(stats.sequentialStalls));
}

}  // namespace kestrova::host
