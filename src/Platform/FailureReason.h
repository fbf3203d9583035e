// The plain cause behind a failure, for the person reading standard error. The layer that sees why
// something failed (a decoder that met a truncated file, the file layer that got EACCES) notes it
// here; the next error logged takes it along, so the user reads the cause beside the log line while
// the log line keeps its fixed text. An operation that starts afresh clears what an earlier failure
// that nobody logged may have left. Each thread has its own cause, so operations running side by side
// on several threads keep theirs apart.
#pragma once

#include <string>

namespace FailureReason {

// Keeps the first cause noted since the last clear or take: the lowest layer knows most.
void note(const char* format, ...) __attribute__((format(printf, 1, 2)));
void clear();
// The pending cause, or an empty text; clears it.
std::string take();

}  // namespace FailureReason
