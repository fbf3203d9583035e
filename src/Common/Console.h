// The tool's console text: banner, refusals and the outcome line. It goes to standard output, unless
// standard output carries the archive itself (`quillpack tex.png /dev/stdout > out.txd`); then it
// goes to standard error, so that standard output holds the archive's bytes alone.
#pragma once

#include <cstdio>

namespace Console {

void divertToStandardError();
std::FILE* stream();
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Console
