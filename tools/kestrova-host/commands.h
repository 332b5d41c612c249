// The commands of kestrova-host. Each is one row of the table in commands.cpp
// and one function in a file of its own.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli_options.h"

namespace kestrova::cli {

using CommandFunction = int (*)(const GlobalOptions& options,
                                const std::vector<std::string>& arguments);

struct Command {
    const char* name;
    const char* arguments;  // shown after the name in the usage line
    std::size_t maxArguments;
    const char* summary;
    const char* details;
    CommandFunction run;
};

std::span<const Command> commands();
const Command* findCommand(std::string_view name);

void printUsage(std::FILE* to);
void printCommandHelp(const Command& command, std::FILE* to);

int runCopy(const GlobalOptions& options, const std::vector<std::string>& arguments);
int runCaptions(const GlobalOptions& options, const std::vector<std::string>& arguments);
int runAudio(const GlobalOptions& options, const std::vector<std::string>& arguments);
int runFrames(const GlobalOptions& options, const std::vector<std::string>& arguments);
int runFormats(const GlobalOptions& options, const std::vector<std::string>& arguments);
int runInfo(const GlobalOptions& options, const std::vector<std::string>& arguments);
int runPeaks(const GlobalOptions& options, const std::vector<std::string>& arguments);
int runPlay(const GlobalOptions& options, const std::vector<std::string>& arguments);
int runReport(const GlobalOptions& options, const std::vector<std::string>& arguments);
int runSize(const GlobalOptions& options, const std::vector<std::string>& arguments);
int runTrim(const GlobalOptions& options, const std::vector<std::string>& arguments);

}  // namespace kestrova::cli
