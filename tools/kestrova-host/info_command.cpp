// kestrova-host info: opens a file the way the host does and prints
// everything the host learns about each of its streams.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "clip_frames.h"
#include "clip_queries_report.h"
#include "clip_records.h"
#include "commands.h"
#include "frame_records.h"
#include "importer_session.h"
#include "json_writer.h"

namespace kestrova::cli {
namespace {

// More host streams or sizes than any file has; stops a runaway loop.
constexpr int32_t kMaxIterations = 4096;

// Kind, score and reason come from the importer's log; empty (score -1)
// when the log does not carry them.
struct PixelFormatReport {
    uint32_t format = 0;
    std::string kind;
    int32_t score = -1;
    std::string reason;
};

// What the clip offers for delivery, asked after imGetInfo8 described it.
struct DeliveryReport {
    std::vector<PixelFormatReport> formats;
    std::vector<hostsim::ColorSpaceAnswer> colorSpaces;
};

// The reason the importer logs with each candidate: "imGetIndPixelFormat[I] =
// FOURCC (REASON)". The host interface itself carries only the FourCC. Read
// after shutdown, which flushes the log.
std::string candidateReason(const ImporterSession& session, std::size_t index) {
    const std::string line =
        session.lastLogLine("imGetIndPixelFormat[" + std::to_string(index) + "] = ");
    const std::size_t open = line.find(" (", line.find("] = "));
    const std::size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return {};
    }
    return line.substr(open + 2, close - open - 2);
}

// "imGetIndPixelFormat[I]: conversion KIND, score S".
void readConversion(const ImporterSession& session, std::size_t index, PixelFormatReport& report) {
    const std::string line =
        session.lastLogLine("imGetIndPixelFormat[" + std::to_string(index) + "]: conversion ");
    const std::size_t kind = line.find(": conversion ");
    const std::size_t score = line.find(", score ");
    if (kind == std::string::npos || score == std::string::npos || score < kind) {
        return;
    }
    report.kind = line.substr(kind + 13, score - kind - 13);
    report.score = std::atoi(line.c_str() + score + 8);
}

DeliveryReport deliveryReport(const hostsim::Host& host, void* clip) {
    DeliveryReport report;
    for (const uint32_t format : candidateFormats(host, clip)) {
        report.formats.push_back({.format = format, .kind = {}, .score = -1, .reason = {}});
    }
    for (int32_t index = 0; index < kMaxIterations; ++index) {
        const hostsim::ColorSpaceAnswer answer = hostsim::getIndColorSpace(host, clip, index);
        if (answer.result != host::imNoErr) {
            break;
        }
        report.colorSpaces.push_back(answer);
    }
    return report;
}

void printDeliveryText(const DeliveryReport& report) {
    if (!report.formats.empty()) {
        std::printf("pixel formats:\n");
    }
    for (std::size_t i = 0; i < report.formats.size(); ++i) {
        const PixelFormatReport& f = report.formats[i];
        std::printf("  %zu %s", i, fourCCName(f.format).c_str());
        if (!f.kind.empty()) {
            std::printf("  %s, score %d", f.kind.c_str(), f.score);
        }
        std::printf("%s%s\n", f.reason.empty() ? "" : "  ", f.reason.c_str());
    }
    if (!report.colorSpaces.empty()) {
        std::printf("colour spaces:\n");
    }
    for (std::size_t i = 0; i < report.colorSpaces.size(); ++i) {
        const hostsim::ColorSpaceAnswer& c = report.colorSpaces[i];
        if (c.kind == host::colorspacerec::kKindIcc) {
            std::printf("  %zu ICC profile, %d bytes\n", i, c.iccSize);
        } else {
            std::printf("  %zu primaries %d, transfer %d, matrix %d, %d-bit, %s range, %s%s\n", i,
                        c.primaries, c.transfer, c.matrix, c.bitDepth,
                        c.fullRange ? "full" : "limited", c.rgb ? "RGB" : "YUV",
                        c.sceneReferred ? ", scene-referred" : "");
        }
    }
}

void addDeliveryJson(JsonWriter& json, const DeliveryReport& report) {
    json.key("pixelFormats").beginArray();
    for (const PixelFormatReport& f : report.formats) {
        json.beginObject().key("fourcc").value(fourCCName(f.format));
        json.key("kind").value(f.kind).key("score").value(f.score);
        json.key("reason").value(f.reason).endObject();
    }
    json.endArray().key("colorSpaces").beginArray();
    for (const hostsim::ColorSpaceAnswer& c : report.colorSpaces) {
        json.beginObject().key("kind").value(c.kind);
        if (c.kind == host::colorspacerec::kKindIcc) {
            json.key("iccSize").value(c.iccSize);
        } else {
            json.key("primaries").value(c.primaries).key("transfer").value(c.transfer);
            json.key("matrix").value(c.matrix).key("bitDepth").value(c.bitDepth);
            json.key("fullRange").boolean(c.fullRange != 0).key("rgb").boolean(c.rgb != 0);
            json.key("sceneReferred").boolean(c.sceneReferred != 0);
        }
        json.endObject();
    }
    json.endArray();
}

struct StreamReport {
    int32_t index = 0;
    hostsim::ClipInfo info;
    std::vector<hostsim::FrameSize> sizes;
};

std::vector<hostsim::FrameSize> preferredSizes(const hostsim::Host& host, void* clip) {
    std::vector<hostsim::FrameSize> sizes;
    for (int32_t index = 0; index < kMaxIterations; ++index) {
        const hostsim::FrameSize size = hostsim::preferredFrameSize(host, clip, index);
        if (size.result != host::imNoErr && size.result != host::imIterateFrameSizes) {
            break;
        }
        sizes.push_back(size);
        if (size.result == host::imNoErr) {
            break;
        }
    }
    return sizes;
}

const char* fieldTypeName(uint8_t type) {
    return type == 1 ? "upper field first" : type == 2 ? "lower field first" : "progressive";
}

const char* alphaTypeName(uint8_t type) {
    switch (type) {
        case 1:
            return "straight";
        case 2:
            return "premultiplied";
        case 6:
            return "opaque";
        default:
            return "none";
    }
}

void printText(const std::string& file, host::Result answer,
               const std::vector<StreamReport>& streams) {
    std::printf("file: %s\nanswer: %d (opened)\nstreams: %zu\n", file.c_str(), answer,
                streams.size());
    for (const StreamReport& s : streams) {
        const hostsim::ClipInfo& i = s.info;
        std::printf("stream %d (answer %d):\n", s.index, i.result);
        if (i.hasVideo) {
            std::printf(
                "  video: %dx%d, %d/%d fps, %lld frames, %s, alpha %s, pixel aspect %d:%d%s\n",
                i.width, i.height, i.frameRateNum, i.frameRateDen,
                static_cast<long long>(i.durationFrames), fieldTypeName(i.fieldType),
                alphaTypeName(i.alphaType), i.aspectNum, i.aspectDen, i.still ? ", still" : "");
            std::printf("  codec: %s, %d-bit\n", i.codec.c_str(), i.bitDepth);
            std::printf("  embedded LUT: %s, captions possible: %s\n",
                        i.hasEmbeddedLut ? "yes" : "no", i.captionsPossible ? "yes" : "no");
            std::printf("  preferred sizes:");
            for (const hostsim::FrameSize& size : s.sizes) {
                std::printf(" %dx%d", size.width, size.height);
            }
            std::printf("\n");
        }
        if (i.hasAudio) {
            std::printf("  audio: %d channels, %.0f Hz, sample type %d, %lld sample frames\n",
                        i.channels, static_cast<double>(i.sampleRate), i.sampleType,
                        static_cast<long long>(i.audioDuration));
        }
    }
}

std::string printJson(host::Result answer, const std::vector<StreamReport>& streams,
                      const DeliveryReport& delivery, const ClipQueryReport& queries) {
    JsonWriter json;
    json.beginObject().key("answer").value(answer).key("streams").beginArray();
    for (const StreamReport& s : streams) {
        const hostsim::ClipInfo& i = s.info;
        json.beginObject().key("index").value(s.index);
        json.key("hasVideo").value(i.hasVideo ? 1 : 0).key("hasAudio").value(i.hasAudio ? 1 : 0);
        if (i.hasVideo) {
            json.key("width").value(i.width).key("height").value(i.height);
            json.key("frameRate")
                .beginArray()
                .value(i.frameRateNum)
                .value(i.frameRateDen)
                .endArray();
            json.key("durationFrames").value(i.durationFrames);
            json.key("fieldType").value(i.fieldType).key("alphaType").value(i.alphaType);
            json.key("pixelAspect").beginArray().value(i.aspectNum).value(i.aspectDen).endArray();
            json.key("still").value(i.still).key("codec").value(i.codec);
            json.key("preferredSizes").beginArray();
            for (const hostsim::FrameSize& size : s.sizes) {
                json.beginArray().value(size.width).value(size.height).endArray();
            }
            json.endArray();
        }
        if (i.hasAudio) {
            json.key("channels").value(i.channels);
            json.key("sampleRate").value(static_cast<int64_t>(i.sampleRate));
            json.key("sampleType").value(i.sampleType);
            json.key("audioDurationFrames").value(i.audioDuration);
        }
        json.endObject();
    }
    json.endArray();
    addDeliveryJson(json, delivery);
    addClipQueriesJson(json, queries);
    return json.endObject().text();
}

}  // namespace

int runInfo(const GlobalOptions& options, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) {
        std::fprintf(stderr, "kestrova-host: info needs one FILE\n");
        return kExitUsage;
    }
    int exitCode = kExitOk;
    std::unique_ptr<ImporterSession> session = ImporterSession::start(options, exitCode);
    if (!session) {
        return exitCode;
    }
    const hostsim::Host& host = session->host();
    DeliveryReport delivery;
    ClipQueryReport queries;
    const std::string& file = arguments[0];
    const hostsim::OpenAnswer opened = session->openClip(file, options.stream.value_or(0));
    std::vector<StreamReport> streams;
    if (opened.result == host::imNoErr) {
        for (int32_t index = 0; index < kMaxIterations; ++index) {
            StreamReport report{index, hostsim::getInfo(host, opened.privateData, index), {}};
            if (report.info.result != host::imNoErr &&
                report.info.result != host::imAnotherStream) {
                if (streams.empty()) {
                    streams.push_back(std::move(report));
                }
                break;
            }
            if (report.info.hasVideo) {
                report.sizes = preferredSizes(host, opened.privateData);
            }
            const bool more = report.info.result == host::imAnotherStream;
            streams.push_back(std::move(report));
            if (!more) {
                break;
            }
        }
        const bool hasVideo = std::any_of(streams.begin(), streams.end(),
                                          [](const StreamReport& s) { return s.info.hasVideo; });
        if (hasVideo) {
            delivery = deliveryReport(host, opened.privateData);
        }
        queries = queryClip(host, opened.privateData, file);
    }
    hostsim::closeFile(host, opened.privateData);
    session->host().shutdown();
    for (std::size_t i = 0; i < delivery.formats.size(); ++i) {
        delivery.formats[i].reason = candidateReason(*session, i);
        readConversion(*session, i, delivery.formats[i]);
    }
    if (options.json) {
        std::printf("%s\n", printJson(opened.result, streams, delivery, queries).c_str());
    } else if (opened.result == host::imNoErr) {
        printText(file, opened.result, streams);
        printDeliveryText(delivery);
        printClipQueries(queries);
    }
    if (opened.result != host::imNoErr) {
        session->reportDeclined(file, opened.result);
        return kExitDeclined;
    }
    return kExitOk;
}

}  // namespace kestrova::cli
