// The caption cache file reader, fed whole files. The expected content state
// and video stream come from the input's own header, so most inputs reach
// the records.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "cache_header.h"
#include "captions/caption_cache.h"
#include "fuzz_check.h"
#include "support/little_endian.h"

namespace {

using kestrova::fuzz::require;

int32_t videoStreamInHeader(const uint8_t* data, std::size_t size) {
    return size >= 32 ? kestrova::fromLittleEndian<int32_t>(data + 28) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrova::fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::istringstream in(input);
    const kestrova::ContentState state = kestrova::fuzz::contentStateIn(data, size);
    const int32_t videoStream = videoStreamInHeader(data, size);
    kestrova::CaptionCacheContent content;
    content.captions.resize(1);
    const auto status = kestrova::loadCaptionCache(in, state, videoStream, content);
    if (status != kestrova::CaptionCacheStatus::Ok) {
        require(content.captions.size() == 1 && content.frameRateNum == 30000,
                "a failed load changes nothing");
        return 0;
    }
    require(content.frameRateNum >= 1 && content.frameRateDen >= 1,
            "a loaded cache has a usable frame rate");
    require(content.captions.size() <= kestrova::kCaptionCacheMaxCount,
            "a loaded cache holds at most the record limit");
    for (const kestrova::Caption& caption : content.captions) {
        require(kestrova::isCaptionFormat(caption.format), "every caption has a known format");
        require(caption.data.size() <= kestrova::kCaptionCacheMaxFieldBytes &&
                    caption.text.size() <= kestrova::kCaptionCacheMaxFieldBytes,
                "no caption exceeds the field limit");
    }
    // The records read are exactly the bytes they came from.
    const std::string again = kestrova::captionCacheBytes(content, state, videoStream);
    require(input.compare(0, again.size(), again) == 0, "a loaded cache writes back unchanged");
    return 0;
}
