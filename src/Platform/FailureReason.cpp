#include "Platform/FailureReason.h"

#include <cstdarg>
#include <cstdio>

namespace FailureReason {
namespace {

// The cause belongs to the operation its thread runs: textures added side by side on several threads
// each keep their own. The image service's own worker threads only compute and note nothing.
thread_local std::string pending;

}  // namespace

void note(const char* format, ...) {
    char text[512];
    va_list values;
    va_start(values, format);
    std::vsnprintf(text, sizeof text, format, values);
    va_end(values);
    if (pending.empty())
        pending = text;
}

void clear() {
    pending.clear();
}

std::string take() {
    std::string cause;
    cause.swap(pending);
    return cause;
}

}  // namespace FailureReason
