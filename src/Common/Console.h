// The tool's console text: banner, refusals and the outcome line. It goes to standard output, unless
// standard output carries the archive itself (`quillpack tex.png /dev/stdout > out.txd`); then it
// goes to standard error, so that standard output holds the archive's bytes alone.
#pragma once

#include <cstdio>

namespace Console {

void divertToStandardError();
std::FILE* stream();
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Every mode's last word on standard output: flushes it and says whether all that was written there
// arrived. A closed pipe, a full device or a closed descriptor is a failure of the run (as in GNU
// tools); its reason goes to standard error, where it can still be read.
bool standardOutputDelivered();

}  // namespace Console
