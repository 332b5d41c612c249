#include "caption_records.h"

#include <algorithm>
#include <cstring>

namespace kestrova::hostsim {
namespace {

// Enough for every caption a scan delivers: A53 data of one picture is at
// most 31 triplets.
constexpr uint64_t kWalkBufferBytes = 4096;

}  // namespace

CaptionScan startCaptionScan(const Host& host, void* privateData) {
    namespace rec = host::captionscanrec;
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    CaptionScan scan;
    scan.result = host.call(host::imInitiateAsyncClosedCaptionScan, record.data(), nullptr);
    scan.state = host::readField<void*>(record.data(), rec::kScanState);
    scan.frameRateNum = host::readField<int64_t>(record.data(), rec::kFrameRateNum);
    scan.frameRateDen = host::readField<int64_t>(record.data(), rec::kFrameRateDen);
    scan.durationFrames = host::readField<int64_t>(record.data(), rec::kDurationFrames);
    return scan;
}

NextCaption nextCaption(const Host& host, void* scanState, std::optional<uint64_t> capacity) {
    namespace rec = host::nextcaptionrec;
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    std::vector<uint8_t> buffer(static_cast<std::size_t>(capacity.value_or(0)), Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kScanState, scanState);
    host::writeField<uint8_t*>(record.data(), rec::kData, capacity ? buffer.data() : nullptr);
    host::writeField<uint64_t>(record.data(), rec::kDataSize, capacity.value_or(0));
    NextCaption next;
    next.result = host.call(host::imGetNextClosedCaption, record.data(), nullptr);
    next.progress = host::readField<float>(record.data(), rec::kProgress);
    next.frameRateNum = host::readField<int64_t>(record.data(), rec::kFrameRateNum);
    next.frameRateDen = host::readField<int64_t>(record.data(), rec::kFrameRateDen);
    next.time = host::readField<int64_t>(record.data(), rec::kTime);
    next.format = host::readField<uint32_t>(record.data(), rec::kFormat);
    next.size = host::readField<uint64_t>(record.data(), rec::kDataSize);
    if (next.format == host::kCaptionFormatText) {
        const auto* text = reinterpret_cast<const char*>(record.data() + rec::kText);
        const std::size_t length = strnlen(text, rec::kTextBytes);
        next.textTerminated = length < rec::kTextBytes;
        next.text.assign(text, length);
    } else if (capacity) {
        buffer.resize(static_cast<std::size_t>(std::min(next.size, *capacity)));
        next.data = std::move(buffer);
    }
    return next;
}

host::Result completeCaptionScan(const Host& host, void* scanState, bool completed) {
    namespace rec = host::completecaptionrec;
    std::vector<uint8_t> record(rec::kSize, Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kScanState, scanState);
    host::writeField<int32_t>(record.data(), rec::kCompleted, completed ? 1 : 0);
    return host.call(host::imCompleteAsyncClosedCaptionScan, record.data(), nullptr);
}

CaptionWalk walkCaptions(const Host& host, void* privateData) {
    CaptionWalk walk;
    walk.scan = startCaptionScan(host, privateData);
    if (walk.scan.result != host::imNoErr) {
        return walk;
    }
    for (;;) {
        NextCaption next = nextCaption(host, walk.scan.state, kWalkBufferBytes);
        if (next.result != host::imNoErr) {
            break;
        }
        walk.captions.push_back(std::move(next));
    }
    walk.completed = completeCaptionScan(host, walk.scan.state, true);
    return walk;
}

std::string cea608Text(const std::vector<uint8_t>& triplets) {
    constexpr uint8_t kValid = 0x04, kTypeMask = 0x03, kField1 = 0;
    std::string text;
    for (std::size_t i = 0; i + 2 < triplets.size(); i += 3) {
        if (!(triplets[i] & kValid) || (triplets[i] & kTypeMask) != kField1) {
            continue;
        }
        const char first = static_cast<char>(triplets[i + 1] & 0x7F);
        const char second = static_cast<char>(triplets[i + 2] & 0x7F);
        // 0x10 to 0x1F open a two-byte control code.
        if (first >= 0x10 && first < 0x20) {
            continue;
        }
        for (const char c : {first, second}) {
            if (c >= 0x20) {
                text.push_back(c);
            }
        }
    }
    return text;
}

}  // namespace kestrova::hostsim
