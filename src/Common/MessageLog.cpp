#include "Common/MessageLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Platform/FailureReason.h"

namespace {
MessageLog* instance = nullptr;
}  // namespace

// Deletes the log at process exit.
class MessageLogHolder {
public:
    ~MessageLogHolder() {
        delete instance;
        instance = nullptr;
    }
};

namespace {
MessageLogHolder holder;
}  // namespace

MessageLog* MessageLog::getInstance() {
    if (!instance)
        instance = new MessageLog();
    return instance;
}

void MessageLog::logMessage(int level, const char* format, const char* /*file*/, const char* function,
                            int line, ...) {
    // The guard counts the unexpanded format: "%s(%i) - %s" adds five literal characters.
    std::size_t guarded = std::strlen(format) + std::strlen(function) + 5;
    if (guarded >= kBufferSize) {
        std::snprintf(
            lineBuffer, kBufferSize,
            "%s(%i) - MESSAGE PASSED WAS TO LONG, Increase the buffer size in MessageLog.h, current "
            "size: %i",
            function, line, kBufferSize);
    } else {
        // Long values can still expand past the buffer: vsnprintf cuts them at 1023 characters.
        va_list values;
        va_start(values, line);
        std::vsnprintf(lineBuffer, kBufferSize, format, values);
        va_end(values);
        messageText = lineBuffer;
        std::snprintf(lineBuffer, kBufferSize, "%s(%i) - %s", function, line, messageText.c_str());
    }

    switch (level) {
        case Info:
            info.emplace_back(lineBuffer);
            break;
        case Warning:
            warnings.emplace_back(lineBuffer);
            break;
        case Error:
            errors.emplace_back(lineBuffer);
            causes.push_back(FailureReason::take());
            break;
        default:
            break;
    }
}

void MessageLog::withdrawInfoLine(std::size_t index) {
    if (index < info.size())
        info.erase(info.begin() + static_cast<std::ptrdiff_t>(index));
}

void MessageLog::clear() {
    info.clear();
    warnings.clear();
    errors.clear();
    causes.clear();
}
