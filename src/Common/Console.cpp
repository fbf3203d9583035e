#include "Common/Console.h"

#include <cstdarg>

namespace Console {
namespace {

bool diverted = false;

}  // namespace

void divertToStandardError() {
    diverted = true;
}

std::FILE* stream() {
    return diverted ? stderr : stdout;
}

void print(const char* format, ...) {
    va_list values;
    va_start(values, format);
    std::vfprintf(stream(), format, values);
    va_end(values);
}

}  // namespace Console
