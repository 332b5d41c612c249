// kestrova-host frames: requests frames of a clip the way the host does and
// reports, hashes or writes out each delivered picture.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "clip_frames.h"
#include "commands.h"
#include "contact_sheet.h"
#include "json_writer.h"
#include "picture_view.h"
#include "platform/platform.h"
#include "png_output.h"

namespace kestrova::cli {
namespace {

// Frames requested when neither --at nor --range says which.
constexpr int64_t kDefaultFrames = 250;

struct FrameReport {
    int64_t frame = 0;
    host::Result result = host::imFailure;
    uint32_t format = 0;
    bool fromCache = false;
    uint64_t hash = 0;
    // The imGetSourceVideo call's wall time.
    double ms = 0;
};

std::vector<int64_t> framesToRequest(const GlobalOptions& options, int64_t duration) {
    if (!options.at.empty()) {
        return options.at;
    }
    int64_t first = 0, end = std::min(std::max<int64_t>(duration, 1), kDefaultFrames);
    if (options.range) {
        std::tie(first, end) = *options.range;
    } else if (duration > kDefaultFrames) {
        std::fprintf(stderr, "kestrova-host: requesting the first %lld of %lld frames (--range)\n",
                     static_cast<long long>(kDefaultFrames), static_cast<long long>(duration));
    }
    std::vector<int64_t> frames;
    for (int64_t frame = first; frame < end; ++frame) {
        frames.push_back(frame);
    }
    return frames;
}

std::string hashText(uint64_t hash) {
    char text[24];
    std::snprintf(text, sizeof text, "%016" PRIx64, hash);
    return text;
}

void printText(const std::vector<FrameReport>& reports, bool withHash) {
    for (const FrameReport& r : reports) {
        if (r.result != host::imNoErr) {
            std::printf("frame %lld: failed (imGetSourceVideo answered %d)\n",
                        static_cast<long long>(r.frame), r.result);
            continue;
        }
        std::printf("frame %lld: %s from %s", static_cast<long long>(r.frame),
                    fourCCName(r.format).c_str(), r.fromCache ? "host-cache" : "importer");
        if (withHash) {
            std::printf(", hash %s", hashText(r.hash).c_str());
        }
        std::printf("\n");
    }
}

std::string printJson(const std::vector<FrameReport>& reports, bool withHash) {
    JsonWriter json;
    json.beginArray();
    for (const FrameReport& r : reports) {
        json.beginObject().key("frame").value(r.frame);
        if (r.result != host::imNoErr) {
            json.key("answer").value(r.result).endObject();
            continue;
        }
        json.key("fourcc").value(fourCCName(r.format)).key("fromCache").boolean(r.fromCache);
        if (withHash) {
            json.key("hash").value(hashText(r.hash));
        }
        json.key("ms").number(r.ms, 3).endObject();
    }
    return json.endArray().text();
}

}  // namespace

int runFrames(const GlobalOptions& options, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) {
        std::fprintf(stderr, "kestrova-host: frames needs one FILE\n");
        return kExitUsage;
    }
    if (!options.at.empty() && options.range) {
        std::fprintf(stderr, "kestrova-host: frames takes --at or --range, not both\n");
        return kExitUsage;
    }
    std::error_code ec;
    if (options.out && !std::filesystem::create_directories(*options.out, ec) && ec) {
        std::fprintf(stderr, "kestrova-host: cannot create %s: %s\n",
                     platform::utf8FromPath(*options.out).c_str(), ec.message().c_str());
        return kExitUsage;
    }
    int exitCode = kExitOk;
    std::unique_ptr<ImporterSession> session;
    std::unique_ptr<ClipFrames> clip = ClipFrames::start(options, arguments[0], session, exitCode);
    if (!clip) {
        return exitCode;
    }
    std::vector<int64_t> order = framesToRequest(options, clip->info().durationFrames);
    if (options.shuffle) {
        std::mt19937_64 random(*options.shuffle);
        std::shuffle(order.begin(), order.end(), random);
    }
    const bool view = options.out || options.sheet;
    ContactSheet sheet;
    std::vector<FrameReport> reports;
    for (const int64_t frame : order) {
        const auto start = std::chrono::steady_clock::now();
        const ClipFrames::Frame got = clip->request(frame);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        FrameReport report{frame, got.result, 0, got.fromCache, 0, took.count()};
        if (const hostsim::PPixBuffer* picture = clip->picture(got.ppix)) {
            report.format = picture->format();
            report.hash = options.hash ? hostsim::visibleHash(*picture) : 0;
            if (view) {
                const hostsim::RgbImage rgb = hostsim::viewAsRgb(*picture);
                std::string error;
                char name[32];
                std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(frame));
                if (options.out && !writePng(*options.out / name, rgb, error)) {
                    std::fprintf(stderr, "kestrova-host: cannot write %s: %s\n", name,
                                 error.c_str());
                    exitCode = kExitImporterFailed;
                }
                sheet.add(frame, rgb);
            }
        }
        clip->dispose(got.ppix);
        if (report.result != host::imNoErr) {
            exitCode = kExitImporterFailed;
        }
        reports.push_back(report);
    }
    std::stable_sort(reports.begin(), reports.end(),
                     [](const FrameReport& a, const FrameReport& b) { return a.frame < b.frame; });
    if (options.json) {
        std::printf("%s\n", printJson(reports, options.hash).c_str());
    } else {
        printText(reports, options.hash);
    }
    if (options.sheet && !sheet.empty()) {
        std::string error;
        if (!writePng(*options.sheet, sheet.render(), error)) {
            std::fprintf(stderr, "kestrova-host: cannot write %s: %s\n",
                         platform::utf8FromPath(*options.sheet).c_str(), error.c_str());
            exitCode = kExitImporterFailed;
        }
    }
    return exitCode;
}

}  // namespace kestrova::cli
