#include "clip_records.h"

#include "platform/platform.h"

namespace kestrova::hostsim {
namespace {

template <typename T>
T field(const std::vector<uint8_t>& bytes, std::size_t offset) {
    return host::readField<T>(bytes.data(), offset);
}

std::string utf16Field(const std::vector<uint8_t>& bytes, std::size_t offset, std::size_t units) {
    std::u16string text;
    for (std::size_t i = 0; i < units; ++i) {
        const auto unit = field<char16_t>(bytes, offset + i * 2);
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return platform::utf16ToUtf8(text).value_or("<invalid UTF-16>");
}

}  // namespace

OpenAnswer openFile(const Host& host, const std::string& path, int32_t stream, void* privateData) {
    namespace rec = host::openrec;
    const std::u16string widePath = platform::utf8ToUtf16(path).value_or(u"");
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<const char16_t*>(record.data(), rec::kPath, widePath.c_str());
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<int32_t>(record.data(), rec::kHostValue, 7);
    host::writeField<int64_t>(record.data(), rec::kExtraMemory, 0);
    host::writeField<int32_t>(record.data(), rec::kStreamIndex, stream);
    OpenAnswer answer;
    answer.result = host.call(host::imOpenFile8, &answer.fileRef, record.data());
    answer.privateData = host::readField<void*>(record.data(), rec::kPrivateData);
    answer.extraMemory = host::readField<int64_t>(record.data(), rec::kExtraMemory);
    return answer;
}

ClipInfo getInfo(const Host& host, void* privateData, int32_t stream, bool hostWantsNoDuration) {
    namespace rec = host::inforec;
    std::vector<uint8_t> access(host::fileaccess::kSize, 0);
    ClipInfo info;
    info.bytes.assign(rec::kSize, 0);
    auto& bytes = info.bytes;
    host::writeField<void*>(bytes.data(), rec::kPrivateData, privateData);
    host::writeField<int32_t>(bytes.data(), rec::kStreamIndex, stream);
    host::writeField<uint8_t>(bytes.data(), rec::kHostNoDurationIn, hostWantsNoDuration ? 0 : 1);
    info.result = host.call(host::imGetInfo8, access.data(), bytes.data());
    info.hasVideo = field<uint8_t>(bytes, rec::kHasVideo) != 0;
    info.hasAudio = field<uint8_t>(bytes, rec::kHasAudio) != 0;
    info.width = field<int32_t>(bytes, rec::kWidth);
    info.height = field<int32_t>(bytes, rec::kHeight);
    info.depth = field<int16_t>(bytes, rec::kDepth);
    info.subType = field<uint32_t>(bytes, rec::kSubType);
    info.fieldType = field<uint8_t>(bytes, rec::kFieldType);
    info.alphaType = field<uint8_t>(bytes, rec::kAlphaType);
    info.still = field<uint8_t>(bytes, rec::kIsStill);
    info.stillDuration = field<uint8_t>(bytes, rec::kNoDuration);
    info.aspectNum = field<int32_t>(bytes, rec::kAspectNum);
    info.aspectDen = field<int32_t>(bytes, rec::kAspectDen);
    info.detectionFlags = field<int32_t>(bytes, rec::kDetectionFlags);
    const auto codec = field<host::HostString>(bytes, rec::kCodecDescription);
    info.codec = host.stringText(codec).value_or("");
    info.hasEmbeddedLut = field<int32_t>(bytes, rec::kHasEmbeddedLut);
    info.bitDepth = field<int32_t>(bytes, rec::kBitDepth);
    info.frameRateNum = field<int32_t>(bytes, rec::kFrameRateNum);
    info.frameRateDen = field<int32_t>(bytes, rec::kFrameRateDen);
    info.durationFrames32 = field<int32_t>(bytes, rec::kDurationFrames);
    info.durationFrames = field<int64_t>(bytes, rec::kDurationFrames64);
    info.channels = field<int32_t>(bytes, rec::kChannels);
    info.sampleRate = field<float>(bytes, rec::kSampleRate);
    info.sampleType = field<int32_t>(bytes, rec::kSampleType);
    info.audioDuration = field<int64_t>(bytes, rec::kAudioDuration);
    info.accessModes = field<int32_t>(bytes, rec::kAudioAccessModes);
    info.audioNoDuration = field<uint8_t>(bytes, rec::kAudioNoDuration);
    info.captionsPossible = field<uint8_t>(bytes, rec::kCaptionsPossible);
    info.path = utf16Field(bytes, rec::kPath, rec::kPathUnits);
    info.settingsId = utf16Field(bytes, rec::kSettingsId, rec::kSettingsIdUnits);
    return info;
}

FrameSize preferredFrameSize(const Host& host, void* privateData, int32_t index) {
    namespace rec = host::framesizerec;
    std::vector<uint8_t> record(rec::kSize, 0);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<int32_t>(record.data(), rec::kIndex, index);
    FrameSize size;
    size.result = host.call(host::imGetPreferredFrameSize, record.data(), nullptr);
    size.width = host::readField<int32_t>(record.data(), rec::kWidth);
    size.height = host::readField<int32_t>(record.data(), rec::kHeight);
    return size;
}

host::Result quietFile(const Host& host, void* privateData) {
    return host.call(host::imQuietFile, nullptr, privateData);
}

host::Result closeFile(const Host& host, void* privateData) {
    return host.call(host::imCloseFile, nullptr, privateData);
}

}  // namespace kestrova::hostsim
