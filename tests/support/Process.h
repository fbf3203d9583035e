// Runs the built executable in a chosen folder and captures what it printed and how it exited.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    int exitCode = -1;  // 128 + signal when it was killed
    std::string out;
    std::string err;
    long peakKilobytes = 0;  // the child's peak resident memory
};

// What the child's standard output is: a file (the default), a pipe read to its end, a pipe whose
// reader is already gone, or /dev/full.
enum class StandardOutput { File, Pipe, ClosedPipe, Full };

struct RunLimits {
    long fileSizeBytes = -1;   // RLIMIT_FSIZE for the child; -1 leaves it alone
    int hangSeconds = 60;      // a run still going after this is killed (exit code 128 + 9)
    int killAfterMillis = -1;  // send `killSignal` this long after the start, wherever the run is
    int killSignal = 9;
    StandardOutput standardOutput = StandardOutput::File;
};

RunResult runQuillpack(const std::vector<std::string>& arguments, const std::string& workingFolder,
                       const RunLimits& limits = {});
