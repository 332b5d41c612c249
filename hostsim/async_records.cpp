#include "async_records.h"

namespace kestrova::hostsim {

AsyncImporter createAsyncImporter(const Host& host, void* clip, int64_t passThrough) {
    namespace rec = host::asynccreaterec;
    std::vector<uint8_t> record(rec::kSize, 0);
    host::writeField<void*>(record.data(), rec::kPrivateData, clip);
    host::writeField<int64_t>(record.data(), rec::kPassThrough, passThrough);
    AsyncImporter importer;
    importer.result = host.call(host::imCreateAsyncImporter, record.data(), nullptr);
    importer.entry = host::readField<host::AsyncEntryFn>(record.data(), rec::kOutEntry);
    importer.instance = host::readField<void*>(record.data(), rec::kOutPrivateData);
    return importer;
}

host::Result asyncRecordSelector(const AsyncImporter& importer, host::Selector selector) {
    std::vector<uint8_t> record(host::asyncframerec::kSize, 0);
    host::writeField<void*>(record.data(), host::asyncrec::kPrivateData, importer.instance);
    return importer.entry(selector, record.data());
}

AsyncFrameAnswer asyncGetFrame(const AsyncImporter& importer, int64_t timeTicks,
                               const std::vector<host::FrameFormat>& acceptable) {
    namespace rec = host::asyncframerec;
    std::vector<uint8_t> record(rec::kSize, 0);
    AsyncFrameAnswer answer;
    host::writeField<void*>(record.data(), rec::kPrivateData, importer.instance);
    host::writeField<int64_t>(record.data(), rec::kTime, timeTicks);
    host::writeField<const host::FrameFormat*>(record.data(), rec::kFormats,
                                               acceptable.empty() ? nullptr : acceptable.data());
    host::writeField<int32_t>(record.data(), rec::kFormatCount,
                              static_cast<int32_t>(acceptable.size()));
    host::writeField<host::PPixHand*>(record.data(), rec::kOutPPix, &answer.ppix);
    answer.result = importer.entry(host::aiGetFrame, record.data());
    return answer;
}

RenderTimeAnswer selectEfficientRenderTime(const AsyncImporter& importer, int64_t timeTicks) {
    namespace rec = host::asynctimerec;
    std::vector<uint8_t> record(rec::kSize, 0);
    host::writeField<void*>(record.data(), rec::kPrivateData, importer.instance);
    host::writeField<int64_t>(record.data(), rec::kTime, timeTicks);
    RenderTimeAnswer answer;
    answer.result = importer.entry(host::aiSelectEfficientRenderTime, record.data());
    answer.timeTicks = host::readField<int64_t>(record.data(), rec::kTime);
    return answer;
}

PlaybackSpeedAnswer minPlaybackSpeedForEfficientTime(const AsyncImporter& importer) {
    namespace rec = host::asyncspeedrec;
    std::vector<uint8_t> record(rec::kSize, 0);
    host::writeField<void*>(record.data(), rec::kPrivateData, importer.instance);
    PlaybackSpeedAnswer answer;
    answer.result =
        importer.entry(host::aiGetMinPlaybackSpeedForSelectingEfficientTime, record.data());
    answer.speed = host::readField<double>(record.data(), rec::kSpeed);
    return answer;
}

host::Result asyncFlush(const AsyncImporter& importer) {
    return importer.entry(host::aiFlush, importer.instance);
}

host::Result asyncClose(const AsyncImporter& importer) {
    return importer.entry(host::aiClose, importer.instance);
}

}  // namespace kestrova::hostsim
