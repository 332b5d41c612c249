// The static function tables behind the host's records and suites.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/host_api.h"

namespace kestrova::hostsim {

// The suites record every Host's standard parameters point to.
const host::HostSuitesRecord* suitesRecord();
// The function table of a named suite at exactly that version, or null.
const void* suiteTable(std::string_view name, int32_t version);

}  // namespace kestrova::hostsim
