// The plug-in's whole per-clip state, handed back by the host with every
// clip selector, and the lock that lets one selector at a time inside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_read_stats.h"
#include "audio/peak_cache.h"
#include "containers/clip_description.h"
#include "host/clip_prefs.h"
#include "host/host_api.h"
#include "host/stream_mapping.h"
#include "host/stream_summary.h"
#include "pixels/divergence_tracker.h"
#include "pixels/target_plan.h"
#include "video/frame_cache.h"
#include "video/seek_index.h"
#include "video/video_decoder.h"

namespace kestrova::host {

class ClipInstance {
  public:
    ClipInstance() = default;
    ClipInstance(const ClipInstance&) = delete;
    ClipInstance& operator=(const ClipInstance&) = delete;

    // Lazy (re)opening; each answers true when its resource is open.
    bool reopen();
    bool openVideoDecoder();
    // Private demuxers of the same file, so audio reads and peak scans never
    // move the main demuxer.
    bool openAudioDemuxer();
    bool openPeakDemuxer();
    bool openPeakDecoder();
    bool openAudioDecoder();
    // Releases the handles for imQuietFile, unless a selector holds the
    // instance for more than 10 s.
    void quiet();
    // For imCloseFile, once the clip is marked closing: waits up to 10 s for
    // every selector inside or queued to leave; false when one is still
    // there and the instance must be leaked.
    [[nodiscard]] bool prepareForDestroy();
    // Closes the decoders and demuxers and empties the frame cache; the
    // summary, plans, seek index and prefs stay. Run under the lock.
    void releaseHandles();

    // Stores a summary built for `mapping` as the instance's own.
    void storeSummary(const StreamSummary& built, const StreamMapping& mapping);
    // Builds the summary for the mapped (or first importable) video stream
    // when none is built yet; false when the clip has no video to describe.
    bool describeVideo();
    // Applies the host's stored source-settings overrides to the summary and
    // makes the pixel formats be offered afresh.
    void applyStoredOverrides();

    // Lazy content probes; each runs at most once per clip.
    void probeEmbeddedLut();
    void probeHdrMetadata();
    void probeIccProfile();

    std::string path;
    int32_t hostStreamIndex = 0;
    int32_t mappedVideo = -1;
    int32_t mappedAudio = -1;
    ClipDescription mainDemuxer;
    StreamSummary summary;
    bool summaryBuilt = false;
    bool quieted = false;
    SeekIndex seekIndex;
    bool seekIndexAttempted = false;
    // Declared after the demuxer it borrows, so it is destroyed first.
    VideoDecoder videoDecoder;
    bool videoDecoderOpen = false;
    std::string decoderName = "software";
    ClipDescription audioDemuxer;
    ClipDescription peakDemuxer;
    // Declared after the demuxers they borrow, so they are destroyed first.
    AudioDecoder audioDecoder;
    bool audioDecoderOpen = false;
    AudioDecoder peakDecoder;
    bool peakDecoderOpen = false;
    PeakCache peakCache;
    bool peakCacheAttempted = false;
    // Moved by imResetSequentialAudio, which takes no lock.
    std::atomic<int64_t> sequentialPosition{0};
    AudioReadStats audioStats;
    int32_t hwReadbackFormat = -1;
    int32_t splitIndex = 0;
    std::vector<uint8_t> lutBytes;
    bool lutProbed = false;
    HdrMetadata hdrMetadata;
    bool hdrProbed = false;
    std::vector<uint8_t> iccProfile;
    bool iccProbed = false;
    std::vector<TargetPlan> plans;
    bool plansBuilt = false;
    TargetPlan selectedPlan;
    bool planSelected = false;
    std::atomic<bool> greyFramesReported{false};
    FrameCache frameCache;
    DivergenceTracker divergence;
    // The host's importer identifier, handed back to its frame cache.
    int32_t hostValue = 0;
    ClipPrefs prefs = ClipPrefs::defaults();
    bool prefsStored = false;

    std::mutex mutex;
    // Written by the quieting or closing thread, read by selector threads
    // before and after they take the mutex.
    std::atomic<bool> quieting{false};
    std::atomic<bool> closing{false};
    // Set when a processor fault stopped a selector inside the clip: its
    // state is unknown, so every later selector is refused until close.
    std::atomic<bool> failed{false};

    // Applies the frameCacheMiB preference to the frame cache budget.
    void applyFrameCacheBudget();

  private:
    void loadSeekIndexOnce();
    // Decodes frame 0 for the first-frame probes; null when it cannot.
    // `concluded` stays false when no real picture came but a later try may
    // still decode one.
    const AVFrame* firstFrame(const char* probeName, bool& concluded);
};

// Enters a clip for one selector. The instance is only read once the
// caller is counted in by the clip registry, so a closed instance is never
// touched; a caller refused after being counted leaves at once.
class InstanceLock {
  public:
    // CountedOnly keeps the instance alive without taking its lock, for the
    // few selectors that may run beside another.
    enum class Mode { Normal, OpenWhileQuieting, CountedOnly };
    InstanceLock(ClipInstance* instance, Mode mode);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    bool entered() const { return entered_; }
    // Counted in, so the instance may be read though it was not entered.
    bool counted() const { return counted_; }

  private:
    ClipInstance* instance_;
    bool counted_ = false;
    bool entered_ = false;
};

// Turns away an audio selector that came during a quiet or close: counts
// and logs it, and answers imUnsupported.
Result noteDeclined(ClipInstance& instance, const char* selector);

// Logs what the clip's audio reads came to since the last summary.
void logAudioSummary(ClipInstance& instance, const char* tag);

// The clip a selector's record names, entered for that selector; false when
// the record or its clip is missing, or the clip is quieting or closing.
class LockedClip {
  public:
    LockedClip(void* record, std::size_t privateDataOffset);
    explicit operator bool() const { return lock_ && lock_->entered(); }
    // Counted in though perhaps refused: the instance may then still be read.
    bool counted() const { return lock_ && lock_->counted(); }
    ClipInstance* operator->() const { return clip_; }
    ClipInstance& operator*() const { return *clip_; }

  private:
    ClipInstance* clip_ = nullptr;
    std::optional<InstanceLock> lock_;
};

}  // namespace kestrova::host
