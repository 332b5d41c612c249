// kestrova-index: writes the keyframe index file for one stream of a media
// file, reading the file once.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../common/progress_bar.h"
#include "containers/clip_description.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "index_options.h"
#include "platform/platform.h"
#include "support/logger.h"
#include "video/keyframe_scan.h"
#include "video/seek_index.h"

using namespace kestrova;
using namespace kestrova::indextool;

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "kestrova-index: %s\n", message.c_str());
    return kExitFailed;
}

int32_t chosenStream(const ClipDescription& clip, const IndexOptions& options, std::string& error) {
    if (!options.stream) {
        for (const StreamInfo& stream : clip.streams()) {
            if (stream.mediaType == AVMEDIA_TYPE_VIDEO) {
                return stream.index;
            }
        }
        error = "the file has no video stream";
        return -1;
    }
    const StreamInfo* stream = clip.findStream(*options.stream);
    if (stream == nullptr || stream->mediaType != AVMEDIA_TYPE_VIDEO) {
        error = "stream " + std::to_string(*options.stream) + " is not a video stream of the file";
        return -1;
    }
    return stream->index;
}

int writeIndex(const IndexOptions& options) {
    const int64_t started = platform::monotonicNanos();
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        return fail("FFmpeg could not be loaded: " + runtime.loadMessage);
    }
    // Damage worth reporting ends in a failure with a message of its own.
    runtime.fn().av_log_set_level(AV_LOG_QUIET);
    ContentState state = contentStateOf(options.media);
    if (state.size <= 0) {
        return fail("cannot read " + options.media);
    }
    ClipDescription clip;
    const ProbeResult probe = clip.probe(options.media);
    if (probe.status != ProbeStatus::Ok) {
        return fail("cannot open " + options.media + ": " + probe.detail);
    }
    std::string error;
    const int32_t stream = chosenStream(clip, options, error);
    if (stream < 0) {
        return fail(error);
    }
    state.streamCount = clip.demuxer()->nb_streams;

    SeekIndex index;
    KeyframeScan scan;
    {
        tools::ProgressBar bar(state.size);
        ScanProgress progress;
        if (platform::standardErrorIsTerminal()) {
            progress = [&bar](int64_t bytes) { bar.show(bytes); };
        }
        scan = scanKeyframes(clip, stream, index, progress);
        if (scan.ok && progress) {
            bar.show(state.size);
        }
    }
    if (!scan.ok) {
        return fail(options.media + ": " + scan.error);
    }
    if (index.entries.empty()) {
        return fail("stream " + std::to_string(stream) + " of " + options.media +
                    " has no keyframes with timestamps and positions");
    }
    if (!resumesAtKeyframePositions(clip, index)) {
        return fail(options.media + ": the " + clip.formatName() +
                    " demuxer cannot resume reading at a keyframe's byte position, so an index "
                    "file would not help; the importer seeks this file through the container's "
                    "own index (nothing written)");
    }
    const std::string target =
        options.out ? *options.out : platform::utf8FromPath(acceleratorPathFor(options.media));
    if (!index.save(platform::pathFromUtf8(target), state)) {
        return fail("cannot write " + target);
    }
    const double seconds = static_cast<double>(platform::monotonicNanos() - started) / 1e9;
    std::printf(
        "kestrova-index: wrote %zu keyframe entries for stream %d (%lld packets) to %s in "
        "%.3f s\n",
        index.entries.size(), stream, static_cast<long long>(scan.packets), target.c_str(),
        seconds);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    IndexOptions options;
    std::string error;
    if (!parseIndexOptions(platform::commandLineArguments(argc, argv), options, error)) {
        std::fprintf(stderr, "kestrova-index: %s\n\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    // The program reports on its own output; the module's log file is not its business.
    Logger::setLevel(static_cast<int32_t>(LogLevel::Off));
    return writeIndex(options);
}
