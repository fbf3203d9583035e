#include "Common/Console.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

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

bool standardOutputDelivered() {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    // An error met by an earlier, implicit flush leaves only the stream's flag behind, not errno.
    std::fprintf(stderr, "Unable to write to standard output: %s\n",
                 errno != 0 ? std::strerror(errno) : "write error");
    return false;
}

}  // namespace Console
