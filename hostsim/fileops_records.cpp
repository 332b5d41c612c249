#include "fileops_records.h"

#include "platform/platform.h"

namespace kestrova::hostsim {
namespace {

std::u16string widePath(const std::string& path) {
    return platform::utf8ToUtf16(path).value_or(u"");
}

host::ProgressFn callbackOf(const Progress* progress) {
    return progress ? &Progress::callback : nullptr;
}

}  // namespace

std::vector<Progress::Report> Progress::reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
}

int32_t Progress::callback(int32_t done, int32_t total, void* context) {
    auto* self = static_cast<Progress*>(context);
    int32_t call = 0;
    {
        std::lock_guard lock(self->mutex_);
        self->reports_.push_back({done, total});
        call = static_cast<int32_t>(self->reports_.size());
    }
    if (self->onReport) {
        self->onReport(call);
    }
    return call == self->cancelAtCall_ ? 0 : 1;
}

SizeAnswer calcSize(const Host& host, void* privateData, int32_t in, int32_t duration,
                    int32_t scale, int32_t sampleSize) {
    namespace rec = host::calcsizerec;
    std::vector<uint8_t> access(host::fileaccess::kSize, 0);
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<int32_t>(record.data(), rec::kTrimIn, in);
    host::writeField<int32_t>(record.data(), rec::kDuration, duration);
    host::writeField<int32_t>(record.data(), rec::kScale, scale);
    host::writeField<int32_t>(record.data(), rec::kSampleSize, sampleSize);
    SizeAnswer answer;
    answer.result = host.call(host::imCalcSize8, record.data(), access.data());
    answer.bytes = host::readField<int64_t>(record.data(), rec::kResultBytes);
    return answer;
}

CheckTrimAnswer checkTrim(const Host& host, void* privateData, int32_t in, int32_t duration,
                          bool keepAudio, bool keepVideo) {
    namespace rec = host::checktrimrec;
    std::vector<uint8_t> access(host::fileaccess::kSize, 0);
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<int32_t>(record.data(), rec::kTrimIn, in);
    host::writeField<int32_t>(record.data(), rec::kDuration, duration);
    host::writeField<int32_t>(record.data(), rec::kKeepAudio, keepAudio ? 1 : 0);
    host::writeField<int32_t>(record.data(), rec::kKeepVideo, keepVideo ? 1 : 0);
    CheckTrimAnswer answer;
    answer.result = host.call(host::imCheckTrim8, record.data(), access.data());
    answer.in = host::readField<int32_t>(record.data(), rec::kNewTrimIn);
    answer.duration = host::readField<int32_t>(record.data(), rec::kNewDuration);
    return answer;
}

host::Result trimFile(const Host& host, void* privateData, const TrimOrder& order,
                      Progress* progress) {
    namespace rec = host::trimrec;
    const std::u16string destination = widePath(order.destination);
    std::vector<uint8_t> access(host::fileaccess::kSize, 0);
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<int32_t>(record.data(), rec::kTrimIn, order.in);
    host::writeField<int32_t>(record.data(), rec::kDuration, order.duration);
    host::writeField<int32_t>(record.data(), rec::kKeepAudio, order.keepAudio ? 1 : 0);
    host::writeField<int32_t>(record.data(), rec::kKeepVideo, order.keepVideo ? 1 : 0);
    host::writeField<const char16_t*>(record.data(), rec::kDestination, destination.c_str());
    host::writeField<int32_t>(record.data(), rec::kScale, order.scale);
    host::writeField<int32_t>(record.data(), rec::kSampleSize, order.sampleSize);
    host::writeField<host::ProgressFn>(record.data(), rec::kProgress, callbackOf(progress));
    host::writeField<void*>(record.data(), rec::kContext, progress);
    return host.call(host::imTrimFile8, access.data(), record.data());
}

host::Result copyFile(const Host& host, const std::string& source, const std::string& destination,
                      Progress* progress) {
    namespace rec = host::copyrec;
    const std::u16string wideSource = widePath(source), wideDestination = widePath(destination);
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<const char16_t*>(record.data(), rec::kSource, wideSource.c_str());
    host::writeField<const char16_t*>(record.data(), rec::kDestination, wideDestination.c_str());
    host::writeField<host::ProgressFn>(record.data(), rec::kProgress, callbackOf(progress));
    host::writeField<void*>(record.data(), rec::kContext, progress);
    return host.call(host::imCopyFile, record.data(), nullptr);
}

}  // namespace kestrova::hostsim
