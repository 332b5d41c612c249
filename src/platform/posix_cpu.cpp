// The processor architecture on POSIX systems.
#include <sys/utsname.h>

#include "platform/platform.h"

namespace kestrova::platform {

std::string nativeArchitecture() {
    utsname name{};
    if (uname(&name) != 0) {
        return "unknown";
    }
    const std::string machine = name.machine;
    if (machine == "x86_64") {
        return "x86_64";
    }
    if (machine.size() == 4 && machine[0] == 'i' && machine[1] >= '3' && machine[1] <= '6' &&
        machine.compare(2, 2, "86") == 0) {
        return "x86";
    }
    if (machine == "aarch64") {
        return "ARM64";
    }
    return "unknown";
}

}  // namespace kestrova::platform
