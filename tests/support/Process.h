// Runs the built executable in a chosen folder and captures what it printed and how it exited. When
// QUILLPACK_WINDOWS_EXE names the Windows build, the runs that users can make on both systems also go
// through that build under wine, which must behave exactly like the Linux one.
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
// reader is already gone, /dev/full, or no descriptor at all (closed, as `>&-` leaves it).
enum class StandardOutput { File, Pipe, ClosedPipe, Full, Closed };

struct RunLimits {
    long fileSizeBytes = -1;   // RLIMIT_FSIZE for the child; -1 leaves it alone
    int hangSeconds = 60;      // a run still going after this is killed (exit code 128 + 9)
    int killAfterMillis = -1;  // send `killSignal` this long after the start, wherever the run is
    int killSignal = 9;
    StandardOutput standardOutput = StandardOutput::File;
};

enum class Build { Linux, WindowsUnderWine };

RunResult runQuillpack(const std::vector<std::string>& arguments, const std::string& workingFolder,
                       const RunLimits& limits = {}, Build build = Build::Linux);

// The run ended with `exitCode`, and then its standard output is `expected` (success) or its standard
// error holds `expected` (failure).
void expectOutcome(const RunResult& result, int exitCode, const std::string& expected);

// Runs the Linux build and then, from the same files, the Windows build when there is one; expects the
// same exit code, standard output, standard error and output file (the second argument) to the byte.
// Returns the Linux run.
RunResult runOnEveryBuild(const std::vector<std::string>& arguments, const std::string& workingFolder);
