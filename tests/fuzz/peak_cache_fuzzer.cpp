// The peak cache file reader, fed whole files. The expected stream, like the
// content state, comes from the input's own header.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "audio/peak_cache.h"
#include "cache_header.h"
#include "fuzz_check.h"
#include "support/little_endian.h"

namespace {

using kestrova::fuzz::require;

int32_t streamInHeader(const uint8_t* data, std::size_t size) {
    return size >= 32 ? kestrova::fromLittleEndian<int32_t>(data + 28) : -1;
}

// A request shaped by the input's last bytes: any start, a rate at or below
// the cache's, a few points, one channel more than the cache holds.
void query(const kestrova::PeakCache& cache, const uint8_t* data, std::size_t size) {
    const uint8_t last = data[size - 1];
    const int32_t count = 1 + last % 32;
    const int64_t start = size >= 9 ? kestrova::fromLittleEndian<int64_t>(data + size - 9) : 0;
    const double rate = cache.pointsPerSecond() / (1.0 + last % 7);
    const int32_t channels = cache.channels() + 1;
    std::vector<std::vector<float>> maxima(std::size_t(channels), std::vector<float>(count, 7.0f));
    std::vector<std::vector<float>> minima = maxima;
    std::vector<float*> maximaPlanes, minimaPlanes;
    for (int32_t c = 0; c < channels; ++c) {
        maximaPlanes.push_back(maxima[std::size_t(c)].data());
        minimaPlanes.push_back(c % 2 ? nullptr : minima[std::size_t(c)].data());
    }
    if (!cache.query(start, rate, count, channels, maximaPlanes.data(), minimaPlanes.data())) {
        return;  // a negative start
    }
    for (int32_t c = 0; c < cache.channels(); ++c) {
        for (float value : maxima[std::size_t(c)]) {
            require(value >= -1.0f && value <= 1.0f, "served peaks stay within [-1, 1]");
        }
    }
    require(maxima.back().front() == 7.0f, "a channel the cache lacks is left alone");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrova::fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    kestrova::PeakCache cache;
    const auto result =
        cache.load(in, static_cast<int64_t>(size), kestrova::fuzz::contentStateIn(data, size),
                   streamInHeader(data, size), "fuzz input");
    if (result != kestrova::PeakLoadResult::Loaded) {
        require(cache.empty(), "a failed load keeps no peaks");
        return 0;
    }
    require(cache.channels() >= 1 && cache.channels() <= kestrova::kPeakCacheMaxChannels,
            "a loaded cache has 1 to 256 channels");
    require(static_cast<uint64_t>(size) ==
                48 + uint64_t(cache.channels()) * uint64_t(cache.pointCount()) * 8,
            "the file holds exactly the points its header announces");
    for (int32_t c = 0; c < cache.channels(); ++c) {
        require(static_cast<int64_t>(cache.points(c).size()) == cache.pointCount(),
                "every channel holds every point");
    }
    query(cache, data, size);
    return 0;
}
