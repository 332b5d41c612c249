#include "frame_records.h"

#include <algorithm>
#include <cstdint>

namespace kestrova::hostsim {
namespace {

// Pass-through bytes of the desired descriptor, so a test sees them survive.
constexpr uint8_t kPassThroughByte = 0x5A;

}  // namespace

PixelFormatAnswer getIndPixelFormat(const Host& host, void* privateData, int32_t index) {
    namespace rec = host::pixelformatrec;
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<uint32_t>(record.data(), rec::kFormat, 0);
    PixelFormatAnswer answer;
    answer.result = host.call(host::imGetIndPixelFormat, reinterpret_cast<void*>(intptr_t{index}),
                              record.data());
    answer.format = host::readField<uint32_t>(record.data(), rec::kFormat);
    return answer;
}

FrameDescriptorAnswer selectClipFrameDescriptor(const Host& host, void* privateData,
                                                uint32_t desiredFormat, int32_t desiredWidth,
                                                int32_t desiredHeight) {
    namespace rec = host::framedescrec;
    std::vector<uint8_t> record(rec::kSize, kPassThroughByte);
    host::writeField<uint32_t>(record.data(), rec::kDesired, desiredFormat);
    host::writeField<int32_t>(record.data(), rec::kDesired + 4, desiredWidth);
    host::writeField<int32_t>(record.data(), rec::kDesired + 8, desiredHeight);
    std::fill(record.begin() + rec::kOutput, record.begin() + rec::kPrivateData, Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    FrameDescriptorAnswer answer;
    answer.result = host.call(host::imSelectClipFrameDescriptor, record.data(), nullptr);
    std::copy_n(record.begin() + rec::kOutput, rec::kDescriptorBytes, answer.output.begin());
    answer.format = host::readField<uint32_t>(record.data(), rec::kOutput);
    answer.width = host::readField<int32_t>(record.data(), rec::kOutWidth);
    answer.height = host::readField<int32_t>(record.data(), rec::kOutHeight);
    return answer;
}

ColorSpaceAnswer getIndColorSpace(const Host& host, void* privateData, int32_t index, uint8_t* icc,
                                  int32_t iccBytes) {
    namespace rec = host::colorspacerec;
    std::vector<uint8_t> record(rec::kSize, 0);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<int32_t>(record.data(), rec::kIccSize, icc ? iccBytes : 0);
    host::writeField<uint8_t*>(record.data(), rec::kIccBuffer, icc);
    ColorSpaceAnswer answer;
    answer.result = host.call(host::imGetIndColorSpace, reinterpret_cast<void*>(intptr_t{index}),
                              record.data());
    const auto field = [&record](std::size_t offset) {
        return host::readField<int32_t>(record.data(), offset);
    };
    answer.kind = field(rec::kKind);
    answer.iccSize = field(rec::kIccSize);
    answer.primaries = field(rec::kPrimaries);
    answer.transfer = field(rec::kTransfer);
    answer.matrix = field(rec::kMatrix);
    answer.bitDepth = field(rec::kBitDepth);
    answer.fullRange = field(rec::kFullRange);
    answer.rgb = field(rec::kRgb);
    answer.sceneReferred = field(rec::kSceneReferred);
    return answer;
}

host::Result performSourceSettings(const Host& host, void* privateData, void* settings,
                                   int32_t bytes) {
    namespace rec = host::settingsrec;
    std::vector<uint8_t> record(rec::kSize, 0);
    host::writeField<void*>(record.data(), rec::kBuffer, settings);
    host::writeField<int32_t>(record.data(), rec::kBufferSize, bytes);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    return host.call(host::imPerformSourceSettingsCommand, record.data(), nullptr);
}

SourceVideoAnswer getSourceVideo(const Host& host, void* privateData, int64_t timeTicks,
                                 const std::vector<host::FrameFormat>& acceptable, int32_t quality,
                                 void* fileRef) {
    namespace rec = host::sourcevideorec;
    std::vector<uint8_t> record(rec::kSize, 0);
    SourceVideoAnswer answer;
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<int64_t>(record.data(), rec::kTime, timeTicks);
    host::writeField<const host::FrameFormat*>(record.data(), rec::kFormats,
                                               acceptable.empty() ? nullptr : acceptable.data());
    host::writeField<int32_t>(record.data(), rec::kFormatCount,
                              static_cast<int32_t>(acceptable.size()));
    host::writeField<int32_t>(record.data(), rec::kQuality, quality);
    host::writeField<host::PPixHand*>(record.data(), rec::kOutPPix, &answer.ppix);
    answer.result = host.call(host::imGetSourceVideo, fileRef, record.data());
    return answer;
}

int64_t frameTicks(int64_t frame, int32_t rateNum, int32_t rateDen) {
    if (rateNum <= 0 || rateDen <= 0) {
        return 0;
    }
    const __int128 ticks = static_cast<__int128>(frame) * host::kTicksPerSecond * rateDen / rateNum;
    constexpr __int128 kMax = INT64_MAX;
    return static_cast<int64_t>(ticks > kMax ? kMax : ticks < -kMax ? -kMax : ticks);
}

}  // namespace kestrova::hostsim
