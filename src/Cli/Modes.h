// The tool's modes beyond the specified run (add, list, extract, help, version), each a thin driver
// over the archive in a file of its own. The entry hands the command line over when its first argument
// is exactly one of the mode options; anything else keeps the specified run, byte for byte.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace Cli {

using Arguments = std::vector<std::string>;

// True when `argument` starts a mode: --add, --list, --extract, --help or --version.
bool isModeOption(const std::string& argument);
// Runs the mode that arguments[0] names with the arguments after it; returns the exit status.
int runMode(const Arguments& arguments);

int runAdd(const Arguments& arguments);
int runList(const Arguments& arguments);
int runExtract(const Arguments& arguments);
int runHelp(const Arguments& arguments);
int runVersion(const Arguments& arguments);

void printUsage(std::FILE* to);

}  // namespace Cli
