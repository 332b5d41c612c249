#include "async/async_instance.h"

#include <new>

#include "async/async_registry.h"
#include "support/logger.h"
#include "support/preferences.h"

namespace kestrova::async {

AsyncInstance* createAsyncInstance(const AsyncSource& source) {
    auto* instance = new (std::nothrow) AsyncInstance();
    if (!instance) {
        return nullptr;
    }
    instance->path = source.path;
    instance->streamIndex = source.streamIndex;
    instance->summary = source.summary;
    instance->plans = source.plans;
    instance->selectedPlan = source.selectedPlan;
    instance->planSelected = source.planSelected;
    instance->hostValue = source.hostValue;
    instance->deviceType = source.deviceType;
    instance->passThrough = source.passThrough;
    instance->passThroughExtra = source.passThroughExtra;

    const ProbeResult probed = instance->demuxer.probe(instance->path);
    if (probed.status != ProbeStatus::Ok) {
        Logger::log(LogLevel::Error, "createAsyncInstance: cannot open %s: %s",
                    instance->path.c_str(), probed.detail.c_str());
        delete instance;
        return nullptr;
    }
    // The container's own index only: no file scan and no accelerator file,
    // so creation stays quick on the host's thread.
    if (instance->streamIndex >= 0 && instance->demuxer.demuxer()) {
        (void)instance->seekIndex.buildFromContainer(instance->demuxer.demuxer(),
                                                     instance->streamIndex);
        instance->keyframeSpacing = instance->seekIndex.medianSpacing();
    }
    Logger::log(LogLevel::Debug,
                "createAsyncInstance: created for %s stream %d (%zu keyframe index entries)",
                instance->path.c_str(), instance->streamIndex, instance->seekIndex.entries.size());
    instance->frameCache.setBudget(static_cast<uint64_t>(Preferences::get().frameCacheMiB) *
                                   1048576);
    registry::add(instance);
    return instance;
}

void destroyAsyncInstance(AsyncInstance* instance) {
    instance->prefetcher.stop(true);
    instance->divergence.report(instance->path);
    if (instance->decoderOpen) {
        instance->decoder.close();
        instance->decoderOpen = false;
    }
    instance->demuxer.close();
    Logger::log(LogLevel::Debug, "aiClose: async instance for %s destroyed",
                instance->path.c_str());
    delete instance;
}

}  // namespace kestrova::async
