#include "host/clip_instance.h"

#include <chrono>
#include <thread>

#include "host/clip_registry.h"
#include "host/fault_cleanup.h"
#include "host/summary_overrides.h"
#include "platform/platform.h"
#include "support/logger.h"
#include "support/preferences.h"
#include "video/decoder_selection.h"

namespace kestrova::host {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kGiveUpAfter = std::chrono::seconds(10);
constexpr auto kQuietWarningAfter = std::chrono::milliseconds(250);

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Run by the boundary guard after a fault skipped the lock's destructor.
void releaseAfterFault(void* object) noexcept {
    auto* instance = static_cast<ClipInstance*>(object);
    instance->failed = true;
    Logger::log(LogLevel::Error,
                "%s: a fault stopped a selector inside this clip; later selectors on it are "
                "refused until it is closed",
                instance->path.c_str());
    instance->mutex.unlock();
    // The last touch: once left, a waiting close may free the instance.
    clipregistry::leave(instance);
}

}  // namespace

InstanceLock::InstanceLock(ClipInstance* instance, Mode mode) : instance_(instance) {
    if (!clipregistry::enter(instance)) {
        return;
    }
    counted_ = true;
    if (mode == Mode::CountedOnly) {
        return;
    }
    const auto refused = [&] {
        return instance->closing.load() || instance->failed.load() ||
               (mode == Mode::Normal && instance->quieting.load());
    };
    if (refused()) {
        return;
    }
    instance->mutex.lock();
    if (refused()) {
        instance->mutex.unlock();
        return;
    }
    entered_ = true;
    FaultCleanup::push(&releaseAfterFault, instance);
}

InstanceLock::~InstanceLock() {
    if (entered_) {
        FaultCleanup::pop(instance_);
        instance_->mutex.unlock();
    }
    if (counted_) {
        clipregistry::leave(instance_);
    }
}

LockedClip::LockedClip(void* record, std::size_t privateDataOffset)
    : clip_(record ? readField<ClipInstance*>(record, privateDataOffset) : nullptr) {
    if (clip_) {
        lock_.emplace(clip_, InstanceLock::Mode::Normal);
    }
}

void ClipInstance::applyFrameCacheBudget() {
    const int32_t mib = Preferences::get().frameCacheMiB;
    if (mib != 0) {
        frameCache.setBudget(static_cast<uint64_t>(mib) * 1048576);
    }
}

void ClipInstance::storeSummary(const StreamSummary& built, const StreamMapping& mapping) {
    summary = built;
    summaryBuilt = true;
    mappedVideo = mapping.video;
    mappedAudio = mapping.audio;
    splitIndex = mapping.split;
}

bool ClipInstance::describeVideo() {
    if (summaryBuilt) {
        return true;
    }
    const StreamSummary built =
        buildStreamSummary(mainDemuxer, mappedVideo >= 0 ? mappedVideo : kFirstImportable,
                           mappedAudio >= 0 ? mappedAudio : kNoStream);
    if (!built.hasVideo) {
        return false;
    }
    summary = built;
    summaryBuilt = true;
    mappedVideo = built.videoStream;
    applyStoredOverrides();
    return true;
}

void ClipInstance::applyStoredOverrides() {
    if (!prefsStored || !prefs.hasOverrides()) {
        return;
    }
    applyOverrides(summary, prefs);
    plansBuilt = false;
    planSelected = false;
}

void ClipInstance::loadSeekIndexOnce() {
    if (seekIndexAttempted) {
        return;
    }
    seekIndexAttempted = true;
    const std::filesystem::path accelerator = acceleratorPathFor(path);
    if (accelerator.empty()) {
        return;
    }
    ContentState state = contentStateOf(path);
    if (state.size <= 0 || !mainDemuxer.isOpen()) {
        return;
    }
    state.streamCount = mainDemuxer.demuxer()->nb_streams;
    if (seekIndex.load(accelerator, state) == SeekIndexLoadStatus::Ok) {
        Logger::log(LogLevel::Debug, "loaded seek index from %s",
                    platform::utf8FromPath(accelerator).c_str());
    }
}

bool ClipInstance::reopen() {
    if (mainDemuxer.isOpen()) {
        return true;
    }
    if (path.empty()) {
        return false;
    }
    const ProbeResult result = mainDemuxer.probe(path);
    if (result.status != ProbeStatus::Ok) {
        Logger::log(LogLevel::Error, "reopen failed for %s: %s (%s)", path.c_str(),
                    result.detail.c_str(), statusName(result.status));
        return false;
    }
    quieted = false;
    applyFrameCacheBudget();
    loadSeekIndexOnce();
    return true;
}

bool ClipInstance::openVideoDecoder() {
    if (videoDecoderOpen) {
        // After a fall-back to software the decoder delivers the stream's own format.
        if (!videoDecoder.hardware().active) {
            hwReadbackFormat = -1;
        }
        return true;
    }
    hwReadbackFormat = -1;
    if (!reopen() || mappedVideo < 0) {
        return false;
    }
    // A clip opened by imOpenFile8 probed without reopen; its index loads here.
    loadSeekIndexOnce();
    DecoderVerdict verdict;
    const StreamInfo* stream = mainDemuxer.findStream(mappedVideo);
    if (Preferences::get().enableHardwareDecoding && stream) {
        verdict = selectDecoder(mainDemuxer, *stream);
    }
    decoderName = verdict.useHardware ? verdict.deviceName : "software";
    if (!videoDecoder.open(mainDemuxer, mappedVideo, 0, verdict.useHardware, verdict.deviceType,
                           ThreadRole::Foreground)) {
        Logger::log(LogLevel::Error, "decoder open failed for %s stream %d", path.c_str(),
                    mappedVideo);
        return false;
    }
    videoDecoderOpen = true;
    if (!seekIndex.entries.empty()) {
        videoDecoder.setSeekIndex(&seekIndex);
    }
    // Pictures decoded on the way to a requested frame are kept for the
    // requests that follow; the observer runs under the instance lock.
    videoDecoder.setFrameObserver(
        [](void* context, int64_t frameIndex, const AVFrame* frame) {
            auto& cache = static_cast<ClipInstance*>(context)->frameCache;
            if (!cache.contains(frameIndex)) {
                cache.store(frameIndex, frame);
            }
        },
        this);
    if (!videoDecoder.hardware().active) {
        Logger::log(LogLevel::Info, "decoder open for %s: software", path.c_str());
        return true;
    }
    hwReadbackFormat = videoDecoder.currentHwPixelFormat();
    if (hwReadbackFormat < 0 && videoDecoder.frameAt(0).status == DecodeStatus::Ok) {
        hwReadbackFormat = videoDecoder.currentHwPixelFormat();
    }
    if (hwReadbackFormat < 0 && stream) {
        hwReadbackFormat = stream->pixelFormat;
    }
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    const char* readback =
        hwReadbackFormat >= 0 && runtime.available()
            ? runtime.fn().av_get_pix_fmt_name(static_cast<AVPixelFormat>(hwReadbackFormat))
            : nullptr;
    Logger::log(LogLevel::Info, "decoder open for %s: %s (readback format %s)", path.c_str(),
                deviceTypeName(videoDecoder.hardware()), readback ? readback : "unknown");
    return true;
}

namespace {

bool openPrivateDemuxer(ClipDescription& demuxer, const std::string& path, const char* which) {
    if (demuxer.isOpen()) {
        return true;
    }
    if (path.empty()) {
        return false;
    }
    const ProbeResult result = demuxer.probe(path);
    if (result.status != ProbeStatus::Ok) {
        Logger::log(LogLevel::Error, "%s demuxer open failed for %s: %s (%s)", which, path.c_str(),
                    result.detail.c_str(), statusName(result.status));
        return false;
    }
    return true;
}

}  // namespace

bool ClipInstance::openAudioDemuxer() {
    return openPrivateDemuxer(audioDemuxer, path, "audio");
}

bool ClipInstance::openPeakDemuxer() {
    return openPrivateDemuxer(peakDemuxer, path, "peak");
}

bool ClipInstance::openPeakDecoder() {
    if (peakDecoderOpen) {
        return true;
    }
    if (mappedAudio < 0 || !openPeakDemuxer()) {
        return false;
    }
    if (!peakDecoder.open(peakDemuxer, mappedAudio, 0)) {
        Logger::log(LogLevel::Error, "peak decoder open failed for stream %d in %s", mappedAudio,
                    path.c_str());
        return false;
    }
    peakDecoderOpen = true;
    return true;
}

bool ClipInstance::openAudioDecoder() {
    if (audioDecoderOpen) {
        return true;
    }
    if (mappedAudio < 0 || !openAudioDemuxer() ||
        !audioDecoder.open(audioDemuxer, mappedAudio, 0)) {
        return false;
    }
    audioDecoderOpen = true;
    return true;
}

Result noteDeclined(ClipInstance& instance, const char* selector) {
    const int64_t count = ++instance.audioStats.declined;
    if (worthLogging(count)) {
        Logger::log(LogLevel::Warning,
                    "%s: DECLINED #%lld (quiet in progress), returning imUnsupported for %s",
                    selector, static_cast<long long>(count), instance.path.c_str());
    }
    return imUnsupported;
}

void ClipInstance::quiet() {
    // Counted in like a selector, so a close waits for the quiet to finish.
    if (!clipregistry::enter(this)) {
        return;
    }
    Logger::log(LogLevel::Info, "imQuietFile: releasing handles for %s", path.c_str());
    quieting = true;
    const Clock::time_point start = Clock::now();
    bool warned = false;
    while (!mutex.try_lock()) {
        const auto elapsed = Clock::now() - start;
        if (elapsed > kGiveUpAfter) {
            Logger::log(LogLevel::Error,
                        "quiet(): a selector still holds the instance lock after %lld s for %s -- "
                        "abandoning the quiet and leaving handles open; closing now would free "
                        "state another thread is still reading",
                        10LL, path.c_str());
            quieting = false;
            clipregistry::leave(this);
            return;
        }
        if (elapsed >= kQuietWarningAfter && !warned) {
            warned = true;
            Logger::log(LogLevel::Warning,
                        "quiet(): still waiting for the instance lock after %lld ms for %s -- "
                        "imQuietFile is blocked on another thread",
                        millisecondsSince(start), path.c_str());
        }
        if (elapsed < std::chrono::milliseconds(1)) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    FaultCleanup::push(&releaseAfterFault, this);
    if (warned) {
        Logger::log(LogLevel::Warning, "quiet(): acquired the instance lock after %lld ms for %s",
                    millisecondsSince(start), path.c_str());
    }
    // A clip a fault left in an unknown state is only ever closed.
    if (!failed) {
        divergence.report(path);
        logAudioSummary(*this, "imQuietFile");
        releaseHandles();
        quieted = true;
    }
    quieting = false;
    FaultCleanup::pop(this);
    mutex.unlock();
    clipregistry::leave(this);
}

void ClipInstance::releaseHandles() {
    frameCache.clear();
    videoDecoder.close();
    videoDecoderOpen = false;
    audioDecoder.close();
    audioDecoderOpen = false;
    peakDecoder.close();
    peakDecoderOpen = false;
    mainDemuxer.close();
    audioDemuxer.close();
    peakDemuxer.close();
}

bool ClipInstance::prepareForDestroy() {
    const Clock::time_point start = Clock::now();
    while (clipregistry::occupants(this) > 0) {
        if (Clock::now() - start > kGiveUpAfter) {
            Logger::log(LogLevel::Error,
                        "prepareForDestroy(): a selector still holds the instance lock after %lld "
                        "s for %s -- leaking the instance rather than freeing state a live reader "
                        "is inside",
                        10LL, path.c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace kestrova::host
