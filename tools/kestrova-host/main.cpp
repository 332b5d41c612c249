// kestrova-host: drives the importer module from the command line the way
// the host application does.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_options.h"
#include "commands.h"
#include "platform/platform.h"

using namespace kestrova::cli;

namespace {

int usageError(const std::string& message) {
    std::fprintf(stderr, "kestrova-host: %s\n\n", message.c_str());
    printUsage(stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    std::string error;
    if (!parseCommandLine(kestrova::platform::commandLineArguments(argc, argv), line, error)) {
        return usageError(error);
    }
    // "help" and "help COMMAND" are the same as --help without and with a command.
    if (line.command == "help") {
        line.options.help = true;
        line.command = line.arguments.empty() ? "" : line.arguments.front();
        if (line.arguments.size() > 1) {
            return usageError("help takes one command");
        }
        line.arguments.clear();
    }
    if (line.command.empty()) {
        if (line.options.help) {
            printUsage(stdout);
            return kExitOk;
        }
        return usageError("no command given");
    }
    const Command* command = findCommand(line.command);
    if (!command) {
        return usageError("unknown command '" + line.command + "'");
    }
    if (line.options.help) {
        printCommandHelp(*command, stdout);
        return kExitOk;
    }
    if (line.arguments.size() > command->maxArguments) {
        return usageError(std::string(command->name) + ": unexpected argument '" +
                          line.arguments[command->maxArguments] + "'");
    }
    if (!applyEnvironment(line.options, error)) {
        std::fprintf(stderr, "kestrova-host: %s\n", error.c_str());
        return kExitUsage;
    }
    return command->run(line.options, line.arguments);
}
