// The command-line check that runs before anything else exists: enough arguments, and every path
// the run will need is there. It prints its own refusal on the console and returns false; the plain
// line for standard error, saying what was wrong with which argument, waits in paramRefusal() until
// the entry has finished its console text.
#pragma once

#include <string>

bool checkParams(int argc, char** argv);
const std::string& paramRefusal();
