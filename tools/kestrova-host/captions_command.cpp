// kestrova-host captions: scans a clip's closed captions the way the host
// does and prints each one with its time, format and bytes or text.
#include <cstdio>
#include <string>
#include <vector>

#include "caption_records.h"
#include "commands.h"
#include "importer_session.h"
#include "json_writer.h"
#include "opened_clip.h"

namespace kestrova::cli {
namespace {

std::string formatName(uint32_t format) {
    switch (format) {
        case host::kCaptionFormat608:
            return "608";
        case host::kCaptionFormat708:
            return "708";
        case host::kCaptionFormatText:
            return "TTML";
        default:
            return std::to_string(format);
    }
}

std::string hexBytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    char digits[4];
    for (const uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%s%02x", text.empty() ? "" : " ", byte);
        text += digits;
    }
    return text;
}

double seconds(const hostsim::CaptionWalk& walk, int64_t time) {
    const hostsim::CaptionScan& scan = walk.scan;
    return scan.frameRateNum > 0 && scan.frameRateDen > 0
               ? static_cast<double>(time) * static_cast<double>(scan.frameRateDen) /
                     static_cast<double>(scan.frameRateNum)
               : 0.0;
}

bool isText(const hostsim::NextCaption& caption) {
    return caption.format == host::kCaptionFormatText;
}

// The EIA-608 text of every byte caption, in order.
std::string allCea608Text(const hostsim::CaptionWalk& walk) {
    std::string text;
    for (const hostsim::NextCaption& caption : walk.captions) {
        if (!isText(caption)) {
            text += hostsim::cea608Text(caption.data);
        }
    }
    return text;
}

void printText(const hostsim::CaptionWalk& walk) {
    const hostsim::CaptionScan& scan = walk.scan;
    if (scan.result != host::imNoErr) {
        std::printf("no captions (imInitiateAsyncClosedCaptionScan answered %d)\n", scan.result);
        return;
    }
    std::printf("captions: %zu at %lld/%lld frames per second, estimated duration %lld frames\n",
                walk.captions.size(), static_cast<long long>(scan.frameRateNum),
                static_cast<long long>(scan.frameRateDen),
                static_cast<long long>(scan.durationFrames));
    for (const hostsim::NextCaption& caption : walk.captions) {
        std::printf("%8lld %10.3f s  %-4s  ", static_cast<long long>(caption.time),
                    seconds(walk, caption.time), formatName(caption.format).c_str());
        if (isText(caption)) {
            std::printf("%s\n", JsonWriter::quote(caption.text).c_str());
            continue;
        }
        const std::string text = hostsim::cea608Text(caption.data);
        std::printf("%s%s%s\n", hexBytes(caption.data).c_str(), text.empty() ? "" : "  ",
                    text.empty() ? "" : JsonWriter::quote(text).c_str());
    }
    const std::string text = allCea608Text(walk);
    if (!text.empty()) {
        std::printf("CEA-608 text: %s\n", text.c_str());
    }
}

std::string printJson(const hostsim::CaptionWalk& walk) {
    const hostsim::CaptionScan& scan = walk.scan;
    JsonWriter json;
    json.beginObject().key("answer").value(int64_t{scan.result});
    json.key("frameRateNum").value(scan.result == host::imNoErr ? scan.frameRateNum : 0);
    json.key("frameRateDen").value(scan.result == host::imNoErr ? scan.frameRateDen : 0);
    json.key("estimatedDurationFrames")
        .value(scan.result == host::imNoErr ? scan.durationFrames : 0);
    json.key("captions").beginArray();
    for (const hostsim::NextCaption& caption : walk.captions) {
        json.beginObject().key("time").value(caption.time);
        json.key("seconds").number(seconds(walk, caption.time), 3);
        json.key("format").value(formatName(caption.format));
        if (isText(caption)) {
            json.key("text").value(caption.text);
        } else {
            json.key("bytes").value(hexBytes(caption.data));
            json.key("cea608").value(hostsim::cea608Text(caption.data));
        }
        json.endObject();
    }
    json.endArray().key("cea608Text").value(allCea608Text(walk));
    return json.endObject().text();
}

}  // namespace

int runCaptions(const GlobalOptions& options, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) {
        std::fprintf(stderr, "kestrova-host: captions needs one FILE\n");
        return kExitUsage;
    }
    const std::string& file = arguments[0];
    int exitCode = kExitOk;
    std::unique_ptr<ImporterSession> session;
    hostsim::CaptionWalk walk;
    {
        const auto clip = OpenedClip::start(options, file, session, exitCode);
        if (!clip) {
            return exitCode;
        }
        walk = hostsim::walkCaptions(session->host(), clip->privateData());
    }
    if (options.json) {
        std::printf("%s\n", printJson(walk).c_str());
    } else {
        printText(walk);
    }
    const bool failed = walk.scan.result != host::imNoErr && walk.scan.result != host::imNoCaptions;
    return failed ? kExitImporterFailed : kExitOk;
}

}  // namespace kestrova::cli
