// The decoder verdict file a user may edit or damage. Every verdict read is
// a measured one on a device the plug-in knows, and the file the plug-in
// writes from what it read reads back to the same table.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_check.h"
#include "video/verdict_cache.h"

using kestrova::fuzz::require;

namespace {

// The device types and names of the candidate table.
const char* knownDevice(int32_t deviceType) {
    switch (deviceType) {
        case 2:
            return "cuda (nvdec)";
        case 5:
            return "qsv";
        case 7:
            return "d3d11va";
        default:
            return nullptr;
    }
}

const std::string kIdentity = kestrova::verdictIdentityLine(false, "fuzz");

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrova::fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    kestrova::VerdictTable table;
    const int32_t count = kestrova::readVerdicts(in, kIdentity, knownDevice, table, "fuzz");
    require(count >= 0 && static_cast<std::size_t>(count) >= table.size(),
            "every verdict kept was counted");
    for (const auto& [key, verdict] : table) {
        require(verdict.measured, "verdicts from the file are measured ones");
        if (verdict.useHardware) {
            require(knownDevice(verdict.deviceType) != nullptr &&
                        verdict.deviceName == knownDevice(verdict.deviceType),
                    "hardware verdicts name a known device");
        } else {
            require(verdict.deviceType == 0 && verdict.deviceName == "software",
                    "software verdicts carry no device");
        }
    }
    std::ostringstream written;
    kestrova::writeVerdicts(written, kIdentity, table);
    std::istringstream again(written.str());
    kestrova::VerdictTable reread;
    kestrova::readVerdicts(again, kIdentity, knownDevice, reread, "fuzz");
    std::ostringstream rewritten;
    kestrova::writeVerdicts(rewritten, kIdentity, reread);
    require(reread.size() == table.size(), "a written file keeps every verdict");
    require(rewritten.str() == written.str(), "writing what was read is stable");
    return 0;
}
