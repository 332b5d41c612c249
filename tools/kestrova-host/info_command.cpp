// kestrova-host info: opens a file the way the host does and prints
// everything the host learns about each of its streams.
#include <cstdio>
#include <string>
#include <vector>

#include "clip_records.h"
#include "commands.h"
#include "importer_session.h"
#include "json_writer.h"

namespace kestrova::cli {
namespace {

// More host streams or sizes than any file has; stops a runaway loop.
constexpr int32_t kMaxIterations = 4096;

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

std::string printJson(host::Result answer, const std::vector<StreamReport>& streams) {
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
    return json.endArray().endObject().text();
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
    const std::string& file = arguments[0];
    std::vector<uint8_t> prefs(host::kClipPrefsBytes);
    host.getPrefs8(prefs.data(), host::kClipPrefsBytes, true);
    const hostsim::OpenAnswer opened = hostsim::openFile(host, file, options.stream.value_or(0));
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
    }
    hostsim::closeFile(host, opened.privateData);
    if (options.json) {
        std::printf("%s\n", printJson(opened.result, streams).c_str());
    } else if (opened.result == host::imNoErr) {
        printText(file, opened.result, streams);
    }
    if (opened.result != host::imNoErr) {
        const std::string reason = session->lastLogLine("imOpenFile8");
        std::fprintf(stderr, "kestrova-host: declined: imOpenFile8 answered %d for %s\n%s\n",
                     opened.result, file.c_str(),
                     reason.empty() ? "(the reason is logged at --log-level 4)" : reason.c_str());
        return kExitDeclined;
    }
    return kExitOk;
}

}  // namespace kestrova::cli
