// How the modes end: success is exit status 0; a failure prints its reason and every error logged
// since the mode began to standard error, one plain line each (the message and the system's cause,
// without the function and line the log keeps), and gives exit status 1.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Cli {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

// The number of error lines logged so far: a mode's own errors are those after it.
std::size_t errorMark();
std::size_t warningMark();

// The errors logged since `mark` as a person reads them ("message: cause"); with `tag` at 0 or
// above, only those logged under that MessageLog::Tag.
std::vector<std::string> loggedReasons(std::size_t mark, int tag = -1);

// Prints the warnings logged since `mark` to standard error; with `tag`, only that tag's.
void printWarnings(std::size_t mark, int tag = -1);

// Prints "quillpack: <reason>" (when there is one), then the errors logged since `mark` with their
// causes, and returns kExitFailure. Standard output is flushed first, and its loss reported too.
int fail(std::size_t mark, const std::string& reason);

// A mode's exit status once its standard output is delivered: a success whose text was lost (a
// closed pipe, a full device) becomes a failure with the reason on standard error.
int finish(int status);

}  // namespace Cli
