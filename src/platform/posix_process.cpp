// Program location and environment changes, for the tools and the stand-in
// host that drive the module from a process of their own.
#include <stdlib.h>
#include <unistd.h>

#include <climits>

#include "platform/platform.h"

namespace kestrova::platform {

std::string executablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

bool setEnvironmentVariable(const char* name, const char* value) {
    if (!name || !*name) {
        return false;
    }
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

bool standardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

}  // namespace kestrova::platform
