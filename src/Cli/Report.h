// How the modes end: success is exit status 0; a failure prints its reason and every error logged
// since the mode began to standard error and gives exit status 1.
#pragma once

#include <cstddef>
#include <string>

namespace Cli {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

// The number of error lines logged so far: a mode's own errors are those after it.
std::size_t errorMark();

// Prints "quillpack: <reason>" (when there is one), then the errors logged since `mark` with their
// causes, and returns kExitFailure. Standard output is flushed first, and its loss reported too.
int fail(std::size_t mark, const std::string& reason);

// A mode's exit status once its standard output is delivered: a success whose text was lost (a
// closed pipe, a full device) becomes a failure with the reason on standard error.
int finish(int status);

}  // namespace Cli
