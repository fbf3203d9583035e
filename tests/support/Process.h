// Runs the built executable in a chosen folder and captures what it printed and how it exited.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    int exitCode = -1;  // 128 + signal when it was killed
    std::string out;
    std::string err;
};

struct RunLimits {
    long fileSizeBytes = -1;   // RLIMIT_FSIZE for the child; -1 leaves it alone
    int hangSeconds = 60;      // a run still going after this is killed (exit code 128 + 9)
    int killAfterMillis = -1;  // kill the run this long after it started, wherever it is
};

RunResult runQuillpack(const std::vector<std::string>& arguments, const std::string& workingFolder,
                       const RunLimits& limits = {});
