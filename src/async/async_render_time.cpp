// aiSelectEfficientRenderTime: moves the host's render time back to a
// keyframe, so scrubbing lands where no forward decoding is needed.
#include "async/async_entry.h"
#include "async/async_instance.h"
#include "async/render_time_snap.h"
#include "host/frame_delivery.h"
#include "host/host_suites.h"
#include "support/logger.h"

namespace kestrova::async {

using namespace host;

Result aiSelectEfficientRenderTimeHandler(AsyncInstance& instance, void* record) {
    const StreamSummary& s = instance.summary;
    const int64_t ticksPerSecond = HostSuites::ticksPerSecond();
    const int64_t n = frameNumberAt(readField<int64_t>(record, asynctimerec::kTime), s.frameRateNum,
                                    s.frameRateDen, ticksPerSecond);
    // The index is built at creation and only read afterwards.
    const SnapDecision snap = snapToKeyframe(instance.seekIndex, instance.keyframeSpacing, n);
    const auto ll = [](int64_t value) { return static_cast<long long>(value); };
    if (snap.kind == SnapDecision::Kind::Snapped) {
        writeField<int64_t>(
            record, asynctimerec::kTime,
            ticksOfFrame(snap.keyframe, s.frameRateNum, s.frameRateDen, ticksPerSecond));
        Logger::log(LogLevel::Debug,
                    "aiSelectEfficientRenderTime: snapped frame %lld -> keyframe %lld for %s",
                    ll(n), ll(snap.keyframe), instance.path.c_str());
    } else if (snap.kind == SnapDecision::Kind::Declined) {
        Logger::log(LogLevel::Debug,
                    "aiSelectEfficientRenderTime: declining to snap frame %lld, nearest indexed "
                    "keyframe %lld is further back than the %lld-frame spacing (index covers only "
                    "part of the clip)",
                    ll(n), ll(snap.keyframe), ll(snap.spacing));
    }
    return imNoErr;
}

}  // namespace kestrova::async
