// Program location, environment changes and child processes, for the tools
// and the stand-in host that drive the module from a process of their own.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/platform.h"

extern char** environ;

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

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

int runProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outputPath, const std::string& errorPath) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return -1;
    }
    constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC;
    pid_t child = 0;
    const bool started =
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), kFlags,
                                         0644) == 0 &&
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath.c_str(), kFlags,
                                         0644) == 0 &&
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started) {
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool standardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

}  // namespace kestrova::platform
