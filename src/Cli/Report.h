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
// causes, and returns kExitFailure.
int fail(std::size_t mark, const std::string& reason);

// Prints the warnings logged since `mark` (an index into the log's warning lines) to standard error.
void printWarnings(std::size_t mark);

}  // namespace Cli
