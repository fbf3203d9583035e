#include "Platform/FailureReason.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace FailureReason {
namespace {

// Decoders and the encoder may fail on worker threads; the cause belongs to the one operation the
// calling thread is waiting for, so one process-wide slot is enough.
std::mutex guard;
std::string pending;

}  // namespace

void note(const char* format, ...) {
    char text[512];
    va_list values;
    va_start(values, format);
    std::vsnprintf(text, sizeof text, format, values);
    va_end(values);
    std::lock_guard<std::mutex> lock(guard);
    if (pending.empty())
        pending = text;
}

void clear() {
    std::lock_guard<std::mutex> lock(guard);
    pending.clear();
}

std::string take() {
    std::lock_guard<std::mutex> lock(guard);
    std::string cause;
    cause.swap(pending);
    return cause;
}

}  // namespace FailureReason
