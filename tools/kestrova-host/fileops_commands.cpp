// kestrova-host trim, copy and size: the host's project-management calls,
// with the host's progress callback drawn as a bar on a terminal.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../common/progress_bar.h"
#include "commands.h"
#include "fileops_records.h"
#include "importer_session.h"
#include "json_writer.h"
#include "opened_clip.h"
#include "platform/platform.h"

namespace kestrova::cli {
namespace {

// The host counts a clip's time in frames when it has video and in audio
// sample frames otherwise: units of sampleSize / scale seconds.
struct HostUnits {
    int32_t scale = 0;
    int32_t sampleSize = 0;
    const char* name = "";
    double seconds(int64_t count) const {
        return scale > 0 ? static_cast<double>(count) * sampleSize / scale : 0;
    }
    int32_t count(double seconds) const {
        return static_cast<int32_t>(
            std::llround(std::min(seconds * scale / std::max(sampleSize, 1), 2147483647.0)));
    }
};

// The units the host counts the clip's time in.
HostUnits unitsOf(const hostsim::ClipInfo& info) {
    if (info.hasVideo && info.frameRateNum > 0 && info.frameRateDen > 0) {
        return {info.frameRateNum, info.frameRateDen, "frames"};
    }
    if (info.hasAudio && info.sampleRate >= 1) {
        return {static_cast<int32_t>(info.sampleRate), 1, "samples"};
    }
    return {};
}

// The host's progress callback, drawn as a bar when standard error is a terminal.
struct ProgressDisplay {
    hostsim::Progress progress;
    std::optional<tools::ProgressBar> bar;
    ProgressDisplay() {
        if (platform::standardErrorIsTerminal()) {
            bar.emplace(1);
            progress.onReport = [this](int32_t) {
                const auto last = progress.reports().back();
                bar->show(last.done, last.total);
            };
        }
    }
    // Fills the bar once the operation is done (the callback is not called at the end).
    void complete() {
        if (bar) {
            bar->show(1, 1);
            bar.reset();
        }
    }
};

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

int exitFor(host::Result answer) {
    return answer == host::imNoErr          ? kExitOk
           : answer == host::imTrimDeclined ? kExitDeclined
                                            : kExitImporterFailed;
}

}  // namespace

int runTrim(const GlobalOptions& options, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1 || !options.in || !options.duration || !options.out) {
        std::fprintf(stderr, "kestrova-host: trim needs FILE, --in, --dur and --out\n");
        return kExitUsage;
    }
    if (options.noAudio && options.noVideo) {
        std::fprintf(stderr, "kestrova-host: trim cannot leave out both audio and video\n");
        return kExitUsage;
    }
    int exitCode = kExitOk;
    std::unique_ptr<ImporterSession> session;
    const auto clip = OpenedClip::start(options, arguments[0], session, exitCode);
    if (!clip) {
        return exitCode;
    }
    const HostUnits units = unitsOf(clip->info());
    hostsim::TrimOrder order;
    order.keepAudio = !options.noAudio;
    order.keepVideo = !options.noVideo;
    order.scale = units.scale;
    order.sampleSize = units.sampleSize;
    order.destination = platform::utf8FromPath(*options.out);
    const int32_t requestedIn = units.count(*options.in);
    const int32_t requestedDuration = units.count(*options.duration);
    hostsim::CheckTrimAnswer check =
        hostsim::checkTrim(session->host(), clip->privateData(), requestedIn, requestedDuration,
                           order.keepAudio, order.keepVideo);
    if (check.result != host::imNoErr) {
        // The importer left its answer fields alone.
        check.in = requestedIn;
        check.duration = requestedDuration;
    }
    host::Result answer = check.result;
    double ms = 0;
    if (check.result == host::imNoErr) {
        order.in = check.in;
        order.duration = check.duration;
        ProgressDisplay display;
        const auto start = std::chrono::steady_clock::now();
        answer = hostsim::trimFile(session->host(), clip->privateData(), order, &display.progress);
        ms = millisecondsSince(start);
        if (answer == host::imNoErr) {
            display.complete();
        }
    }
    if (options.json) {
        JsonWriter json;
        json.beginObject().key("checkAnswer").value(check.result).key("answer").value(answer);
        json.key("unit").value(units.name).key("requestedIn").value(requestedIn);
        json.key("requestedDuration").value(requestedDuration);
        json.key("in").value(check.in).key("duration").value(check.duration);
        json.key("inSeconds").number(units.seconds(check.in), 6);
        json.key("durationSeconds").number(units.seconds(check.duration), 6);
        json.key("out").value(order.destination).key("ms").number(ms, 3);
        std::printf("%s\n", json.endObject().text().c_str());
    } else if (check.result != host::imNoErr) {
        std::printf("imCheckTrim8: answer %d, the importer does not trim %s\n", check.result,
                    arguments[0].c_str());
    } else {
        std::printf("imCheckTrim8: answer 0, in %d -> %d %s (%.3f s), duration %d -> %d (%.3f s)\n",
                    requestedIn, check.in, units.name, units.seconds(check.in), requestedDuration,
                    check.duration, units.seconds(check.duration));
        std::printf("imTrimFile8: answer %d, %s in %.3f ms\n", answer, order.destination.c_str(),
                    ms);
    }
    return exitFor(answer);
}

int runCopy(const GlobalOptions& options, const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) {
        std::fprintf(stderr, "kestrova-host: copy needs SRC and DST\n");
        return kExitUsage;
    }
    int exitCode = kExitOk;
    auto session = ImporterSession::start(options, exitCode);
    if (!session) {
        return exitCode;
    }
    ProgressDisplay display;
    const auto start = std::chrono::steady_clock::now();
    const host::Result answer =
        hostsim::copyFile(session->host(), arguments[0], arguments[1], &display.progress);
    const double ms = millisecondsSince(start);
    if (answer == host::imNoErr) {
        display.complete();
    }
    const auto copied = platform::fileStatus(arguments[1]);
    const int64_t bytes =
        answer == host::imNoErr && copied ? static_cast<int64_t>(copied->size) : 0;
    if (options.json) {
        JsonWriter json;
        json.beginObject().key("answer").value(answer).key("bytes").value(bytes);
        json.key("ms").number(ms, 3);
        std::printf("%s\n", json.endObject().text().c_str());
    } else {
        std::printf("imCopyFile: answer %d, %lld bytes in %.3f ms\n", answer,
                    static_cast<long long>(bytes), ms);
    }
    return exitFor(answer);
}

int runSize(const GlobalOptions& options, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1 || (options.in && !options.duration)) {
        std::fprintf(stderr, "kestrova-host: size needs FILE (and --dur with --in)\n");
        return kExitUsage;
    }
    int exitCode = kExitOk;
    std::unique_ptr<ImporterSession> session;
    const auto clip = OpenedClip::start(options, arguments[0], session, exitCode);
    if (!clip) {
        return exitCode;
    }
    const HostUnits units = unitsOf(clip->info());
    const int32_t in = units.count(options.in.value_or(0));
    const int32_t duration = options.duration ? units.count(*options.duration) : 0;
    const hostsim::SizeAnswer size = hostsim::calcSize(session->host(), clip->privateData(), in,
                                                       duration, units.scale, units.sampleSize);
    if (options.json) {
        JsonWriter json;
        json.beginObject().key("answer").value(size.result).key("bytes").value(size.bytes);
        json.key("unit").value(units.name).key("in").value(in).key("duration").value(duration);
        std::printf("%s\n", json.endObject().text().c_str());
    } else {
        std::printf("imCalcSize8: answer %d, %lld bytes (in %d, duration %d %s)\n", size.result,
                    static_cast<long long>(size.bytes), in, duration, units.name);
    }
    return size.result == host::imNoErr ? kExitOk : kExitImporterFailed;
}

}  // namespace kestrova::cli
