// The command-line check that runs before anything else exists: enough arguments, and every path
// the run will need is there. It prints its own refusal and returns false.
#pragma once

bool checkParams(int argc, char** argv);
