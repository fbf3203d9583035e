// The tool's modes beyond the specified run (add, build, list, extract, remove, rename, help,
// version), each a thin driver over the dictionary library in a file of its own. The entry hands the
// command line over when its first argument names a mode; anything else keeps the specified run,
// byte for byte.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "Cli/CommandLine.h"

namespace Cli {

// True when `argument` starts a mode: --add, --build, --list, --extract, --remove, --rename, --help
// (also -h, and the system's own help switch), --version.
bool isModeOption(const std::string& argument);
// Every mode's option, for suggestions.
std::vector<std::string> modeOptions();
// Runs the mode that arguments[0] names with the arguments after it; returns the exit status.
int runMode(const Arguments& arguments);

int runAdd(const Arguments& arguments);
int runBuild(const Arguments& arguments);
int runList(const Arguments& arguments);
int runExtract(const Arguments& arguments);
int runRemove(const Arguments& arguments);
int runRename(const Arguments& arguments);
int runHelp(const Arguments& arguments);
int runVersion(const Arguments& arguments);

void printUsage(std::FILE* to);

}  // namespace Cli
