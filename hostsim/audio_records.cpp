#include "audio_records.h"

#include <algorithm>

namespace kestrova::hostsim {
namespace {

std::vector<uint8_t> audioRecord(void* privateData, int64_t position, uint32_t frames,
                                 float** planes) {
    namespace rec = host::audiorec;
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<int64_t>(record.data(), rec::kPosition, position);
    host::writeField<uint32_t>(record.data(), rec::kFrameCount, frames);
    host::writeField<float**>(record.data(), rec::kPlanes, planes);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    return record;
}

}  // namespace

AudioPlanes::AudioPlanes(int32_t channels, int64_t frames, float fill)
    : data_(static_cast<std::size_t>(std::max(channels, 0)),
            std::vector<float>(static_cast<std::size_t>(std::max<int64_t>(frames, 0)), fill)) {
    for (auto& plane : data_) {
        pointers_.push_back(plane.data());
    }
}

host::Result importAudio(const Host& host, void* privateData, int64_t position, uint32_t frames,
                         float** planes) {
    auto record = audioRecord(privateData, position, frames, planes);
    return host.call(host::imImportAudio7, nullptr, record.data());
}

host::Result sequentialAudio(const Host& host, void* privateData, uint32_t frames, float** planes) {
    auto record = audioRecord(privateData, 0, frames, planes);
    return host.call(host::imGetSequentialAudio, nullptr, record.data());
}

host::Result resetSequentialAudio(const Host& host, void* privateData) {
    auto record = audioRecord(privateData, 0, 0, nullptr);
    return host.call(host::imResetSequentialAudio, nullptr, record.data());
}

ChannelLayout channelLayout(const Host& host, void* privateData) {
    namespace rec = host::layoutrec;
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    ChannelLayout layout;
    layout.result = host.call(host::imGetAudioChannelLayout, nullptr, record.data());
    for (int32_t i = 0; i < rec::kLabelCount; ++i) {
        layout.labels[static_cast<std::size_t>(i)] =
            host::readField<int32_t>(record.data(), rec::kLabels + static_cast<std::size_t>(i) * 4);
    }
    return layout;
}

host::Result peakAudio(const Host& host, void* privateData, int64_t start, float rate,
                       int32_t frames, float** maxima, float** minima) {
    namespace rec = host::peakrec;
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<int64_t>(record.data(), rec::kPosition, start);
    host::writeField<float>(record.data(), rec::kRate, rate);
    host::writeField<int32_t>(record.data(), rec::kFrames, frames);
    host::writeField<float**>(record.data(), rec::kMaxima, maxima);
    host::writeField<float**>(record.data(), rec::kMinima, minima);
    return host.call(host::imGetPeakAudio, record.data(), nullptr);
}

}  // namespace kestrova::hostsim
