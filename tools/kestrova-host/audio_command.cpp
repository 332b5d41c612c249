// kestrova-host audio: reads a host stream's audio the way the host does, by
// random or by sequential reads, and can save it as a float WAV file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "audio_records.h"
#include "commands.h"
#include "json_writer.h"
#include "opened_clip.h"
#include "platform/platform.h"
#include "wav_output.h"

namespace kestrova::cli {
namespace {

// Sample frames per read when --chunk does not say: one second at 48 kHz.
constexpr int64_t kDefaultChunk = 48000;

struct AudioReport {
    int32_t channels = 0;
    int32_t sampleRate = 0;
    int64_t asked = 0;
    int64_t samples = 0;                      // in reads the importer answered 0
    double ms = 0;                            // inside the read selectors
    std::map<host::Result, int64_t> answers;  // per read answer, how many reads gave it
    host::Result layoutAnswer = host::imFailure;
    host::Result resetAnswer = host::imNoErr;
    std::vector<int32_t> labels;
};

class Reader {
  public:
    Reader(const OpenedClip& clip, bool sequential) : clip_(clip), sequential_(sequential) {}
    host::Result read(int64_t position, int64_t frames, float** planes) const {
        const auto count = static_cast<uint32_t>(frames);
        return sequential_
                   ? hostsim::sequentialAudio(clip_.host(), clip_.privateData(), count, planes)
                   : hostsim::importAudio(clip_.host(), clip_.privateData(), position, count,
                                          planes);
    }

  private:
    const OpenedClip& clip_;
    bool sequential_;
};

// Reads `report.asked` sample frames from `start` in chunks, appending each to
// `wav` when there is one. False when the WAV file cannot be written.
bool readAll(const OpenedClip& clip, const GlobalOptions& options, int64_t start,
             AudioReport& report, WavWriter* wav) {
    const Reader reader(clip, options.sequential);
    const int64_t chunk = options.chunk.value_or(kDefaultChunk);
    hostsim::AudioPlanes planes(report.channels,
                                std::min(chunk, std::max<int64_t>(report.asked, 1)));
    for (int64_t done = 0; done < report.asked;) {
        const int64_t frames = std::min(chunk, report.asked - done);
        for (int32_t c = 0; c < report.channels; ++c) {
            std::fill(planes.channel(c).begin(), planes.channel(c).end(), 0.0f);
        }
        const auto before = std::chrono::steady_clock::now();
        const host::Result answer = reader.read(start + done, frames, planes.pointers());
        report.ms +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before)
                .count();
        ++report.answers[answer];
        report.samples += answer == host::imNoErr ? frames : 0;
        done += frames;
        std::string error;
        if (wav && !wav->append(planes.pointers(), frames, error)) {
            std::fprintf(stderr, "kestrova-host: cannot write %s: %s\n",
                         platform::utf8FromPath(*options.out).c_str(), error.c_str());
            return false;
        }
    }
    return true;
}

void printText(const AudioReport& r) {
    std::printf("channels: %d\nsample rate: %d Hz\n", r.channels, r.sampleRate);
    std::printf("samples: %lld of %lld read in %.3f ms\n", static_cast<long long>(r.samples),
                static_cast<long long>(r.asked), r.ms);
    std::printf("labels:");
    for (const int32_t label : r.labels) {
        std::printf(" %d", label);
    }
    std::printf("\n");
    if (r.layoutAnswer != host::imNoErr) {
        std::printf("imGetAudioChannelLayout answered %d\n", r.layoutAnswer);
    }
    if (r.resetAnswer != host::imNoErr) {
        std::printf("imResetSequentialAudio answered %d\n", r.resetAnswer);
    }
    for (const auto& [answer, count] : r.answers) {
        if (answer != host::imNoErr) {
            std::printf("reads answered %d: %lld\n", answer, static_cast<long long>(count));
        }
    }
}

std::string printJson(const AudioReport& r) {
    JsonWriter json;
    json.beginObject().key("channels").value(r.channels).key("sampleRate").value(r.sampleRate);
    json.key("samples").value(r.samples).key("ms").number(r.ms, 3);
    json.key("labels").beginArray();
    for (const int32_t label : r.labels) {
        json.value(label);
    }
    json.endArray().key("answers").beginObject();
    for (const auto& [answer, count] : r.answers) {
        json.key(std::to_string(answer)).value(count);
    }
    return json.endObject().endObject().text();
}

}  // namespace

int runAudio(const GlobalOptions& options, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) {
        std::fprintf(stderr, "kestrova-host: audio needs one FILE\n");
        return kExitUsage;
    }
    if (options.samples && options.sequential) {
        std::fprintf(stderr,
                     "kestrova-host: audio takes --range or --sequential, not both (sequential "
                     "reads start at 0)\n");
        return kExitUsage;
    }
    int exitCode = kExitOk;
    std::unique_ptr<ImporterSession> session;
    std::unique_ptr<OpenedClip> clip =
        OpenedClip::start(options, arguments[0], session, exitCode, OpenedClip::Need::Audio);
    if (!clip) {
        return exitCode;
    }
    AudioReport report;
    report.channels = clip->info().channels;
    report.sampleRate = static_cast<int32_t>(clip->info().sampleRate);
    const int64_t start = options.samples ? options.samples->first : 0;
    report.asked = options.samples ? options.samples->second : clip->info().audioDuration;
    const hostsim::ChannelLayout layout = hostsim::channelLayout(clip->host(), clip->privateData());
    report.layoutAnswer = layout.result;
    if (layout.result == host::imNoErr) {
        report.labels.assign(layout.labels.begin(),
                             layout.labels.begin() + std::min<int32_t>(report.channels, 32));
    }
    WavWriter wav;
    std::string error;
    if (options.out && !wav.open(*options.out, report.channels, report.sampleRate,
                                 speakerMask(report.labels), error)) {
        std::fprintf(stderr, "kestrova-host: cannot write %s: %s\n",
                     platform::utf8FromPath(*options.out).c_str(), error.c_str());
        return kExitUsage;
    }
    if (options.sequential) {
        report.resetAnswer = hostsim::resetSequentialAudio(clip->host(), clip->privateData());
    }
    if (!readAll(*clip, options, start, report, options.out ? &wav : nullptr) ||
        (options.out && !wav.finish(error))) {
        if (!error.empty()) {
            std::fprintf(stderr, "kestrova-host: cannot write %s: %s\n",
                         platform::utf8FromPath(*options.out).c_str(), error.c_str());
        }
        return kExitImporterFailed;
    }
    if (options.json) {
        std::printf("%s\n", printJson(report).c_str());
    } else {
        printText(report);
    }
    const bool failed = report.samples < report.asked || report.resetAnswer != host::imNoErr ||
                        report.layoutAnswer != host::imNoErr;
    return failed ? kExitImporterFailed : kExitOk;
}

}  // namespace kestrova::cli
