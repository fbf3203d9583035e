// Runs the built executable in a chosen folder and captures what it printed and how it exited.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

RunResult runQuillpack(const std::vector<std::string>& arguments, const std::string& workingFolder);
