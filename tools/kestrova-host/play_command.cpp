// kestrova-host play: requests frames in order the way a playing host does,
// disposing each after use, and measures the rate with the host's frame cache
// off and when replaying with it on.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "async_play.h"
#include "clip_frames.h"
#include "commands.h"
#include "json_writer.h"

namespace kestrova::cli {
namespace {

// Frames played when --frames does not say.
constexpr int64_t kDefaultFrames = 120;

struct Pass {
    int64_t frames = 0;
    int64_t failed = 0;
    int64_t fromCache = 0;
    double seconds = 0;

    double fps() const { return seconds > 0 ? double(frames) / seconds : 0; }
    double msPerFrame() const { return frames > 0 ? seconds * 1000.0 / double(frames) : 0; }
};

Pass play(ClipFrames& clip, int64_t frames) {
    Pass pass;
    const auto start = std::chrono::steady_clock::now();
    for (int64_t frame = 0; frame < frames; ++frame) {
        const ClipFrames::Frame got = clip.request(frame);
        pass.failed += got.result != host::imNoErr ? 1 : 0;
        pass.fromCache += got.fromCache ? 1 : 0;
        clip.dispose(got.ppix);
    }
    pass.frames = frames;
    pass.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return pass;
}

void addPass(JsonWriter& json, const Pass& pass) {
    json.key("fps").number(pass.fps(), 2).key("msPerFrame").number(pass.msPerFrame(), 3);
    json.key("fromCache").value(pass.fromCache).key("failed").value(pass.failed);
}

}  // namespace

int runPlay(const GlobalOptions& options, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) {
        std::fprintf(stderr, "kestrova-host: play needs one FILE\n");
        return kExitUsage;
    }
    if (!options.async && (options.scrub || options.threads != 1)) {
        std::fprintf(stderr, "kestrova-host: --threads and --scrub play through --async\n");
        return kExitUsage;
    }
    int exitCode = kExitOk;
    std::unique_ptr<ImporterSession> session;
    std::unique_ptr<ClipFrames> clip = ClipFrames::start(options, arguments[0], session, exitCode);
    if (!clip) {
        return exitCode;
    }
    const int64_t duration = clip->info().durationFrames;
    const int64_t frames =
        options.frames.value_or(duration > 0 ? std::min(duration, kDefaultFrames) : 1);
    if (options.async) {
        const AsyncPlayOutcome outcome = measureAsyncPlay(options, *session, *clip, frames);
        clip.reset();
        // Shutting down writes every line of the importer's log.
        session->host().shutdown();
        return reportAsyncPlay(options, outcome, *session);
    }
    // Without the host cache every frame comes from the importer. With it,
    // a first play fills the cache and a replay is served from it as far as
    // its budget reaches.
    hostsim::PPixStore& store = session->host().ppix();
    store.setRecycling(4);
    store.setCacheEnabled(false);
    const Pass uncached = play(*clip, frames);
    store.setCacheEnabled(true);
    const Pass filling = play(*clip, frames);
    const Pass cached = play(*clip, frames);
    store.clearCache();
    const std::string format = fourCCName(clip->format());
    if (options.json) {
        JsonWriter json;
        json.beginObject().key("fourcc").value(format).key("frames").value(frames);
        addPass(json, uncached);
        json.key("cached").beginObject();
        addPass(json, cached);
        std::printf("%s\n", json.endObject().endObject().text().c_str());
    } else {
        std::printf("play: %lld frames as %s\n", static_cast<long long>(frames), format.c_str());
        const auto line = [](const char* name, const Pass& pass) {
            std::printf(
                "  host cache %-12s %9.2f fps, %8.3f ms per frame, %lld from the host cache", name,
                pass.fps(), pass.msPerFrame(), static_cast<long long>(pass.fromCache));
            if (pass.failed > 0) {
                std::printf(", %lld failed", static_cast<long long>(pass.failed));
            }
            std::printf("\n");
        };
        line("off", uncached);
        line("on, replayed", cached);
    }
    return uncached.failed + filling.failed + cached.failed > 0 ? kExitImporterFailed : kExitOk;
}

}  // namespace kestrova::cli
