#include "commands.h"

namespace kestrova::cli {
namespace {

const Command kCommands[] = {
    {"formats", "", 0, "list the container families the importer offers",
     "Initialises the importer, asks it for every format family in turn and prints one\n"
     "line per family: index, type code, format name, short name and extensions\n"
     "(with --json: one array of objects). Exit 2 when initialisation fails; the\n"
     "reason from the importer's log is printed on standard error.\n",
     runFormats},
    {"info", "FILE", 1, "open a file and print what the host learns about it",
     "Initialises the importer, opens FILE (imOpenFile8, host stream 0 or --stream S)\n"
     "and asks imGetInfo8 for every host stream and imGetPreferredFrameSize for each\n"
     "size, then closes the file. With --json: {\"answer\": N, \"streams\": [...]}.\n"
     "Exit 0 when opened, 3 when the importer declined the file (the answer and the\n"
     "logged reason go to standard error), 2 when initialisation fails.\n",
     runInfo},
    {"report", "", 0, "print the capability report the importer writes",
     "Initialises the importer, which writes SUPPORTED-CODECS.md into the per-user\n"
     "data folder, then prints the report's path on the first line and its contents\n"
     "after it (with --json: an object with path and contents).\n",
     runReport},
};

const char kGlobalOptions[] =
    "Options:\n"
    "  --module PATH     the importer module (default: Kestrova.prm beside this program)\n"
    "  --appdata DIR     per-user data folder for this run (sets LOCALAPPDATA, creates DIR)\n"
    "  --log-level N     write logLevel=N (0..5) into the preferences file before the run\n"
    "  --stream S        info: the host stream to open the file with (default 0)\n"
    "  --json            machine-readable output\n"
    "  --help            this text; 'kestrova-host help COMMAND' for one command\n"
    "Exit codes: 0 ok, 1 usage error, 2 the importer failed, 3 the file was declined.\n";

}  // namespace

std::span<const Command> commands() {
    return kCommands;
}

const Command* findCommand(std::string_view name) {
    for (const Command& command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

void printUsage(std::FILE* to) {
    std::fprintf(to, "Usage: kestrova-host [options] COMMAND [arguments]\n\nCommands:\n");
    for (const Command& command : kCommands) {
        std::fprintf(to, "  %-10s %s\n", command.name, command.summary);
    }
    std::fprintf(to, "  %-10s %s\n\n%s", "help", "help on one command", kGlobalOptions);
}

void printCommandHelp(const Command& command, std::FILE* to) {
    std::fprintf(to, "Usage: kestrova-host [options] %s%s%s\n\n%s\n%s", command.name,
                 *command.arguments ? " " : "", command.arguments, command.details, kGlobalOptions);
}

}  // namespace kestrova::cli
