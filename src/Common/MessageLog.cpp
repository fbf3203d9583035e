#include "Common/MessageLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Platform/FailureReason.h"

namespace {
std::atomic<MessageLog*> instance{nullptr};
std::mutex making;
thread_local int currentTag = -1;
}  // namespace

MessageLog::Tag::Tag(int number) : previous(currentTag) {
    currentTag = number;
}

MessageLog::Tag::~Tag() {
    currentTag = previous;
}

// Deletes the log at process exit.
class MessageLogHolder {
public:
    ~MessageLogHolder() { delete instance.exchange(nullptr); }
};

namespace {
MessageLogHolder holder;
}  // namespace

MessageLog* MessageLog::getInstance() {
    if (MessageLog* made = instance.load())
        return made;
    std::lock_guard<std::mutex> lock(making);
    if (!instance.load())
        instance = new MessageLog();
    return instance.load();
}

void MessageLog::logMessage(int level, const char* format, const char* /*file*/, const char* function,
                            int line, ...) {
    std::lock_guard<std::mutex> lock(guard);
    // The guard counts the unexpanded format: "%s(%i) - %s" adds five literal characters.
    std::size_t guarded = std::strlen(format) + std::strlen(function) + 5;
    int prefix = 0;  // the length of "%s(%i) - " in the finished line
    if (guarded >= kBufferSize) {
        prefix = std::snprintf(lineBuffer, kBufferSize, "%s(%i) - ", function, line);
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
        prefix = std::snprintf(lineBuffer, kBufferSize, "%s(%i) - ", function, line);
        std::snprintf(lineBuffer, kBufferSize, "%s(%i) - %s", function, line, messageText.c_str());
    }
    const char* plain = lineBuffer + (prefix > 0 && prefix < kBufferSize ? prefix : 0);

    switch (level) {
        case Info:
            info.emplace_back(lineBuffer);
            break;
        case Warning:
            warnings.emplace_back(lineBuffer);
            plainWarnings.emplace_back(plain);
            warningTagList.push_back(currentTag);
            break;
        case Error:
            errors.emplace_back(lineBuffer);
            causes.push_back(FailureReason::take());
            plainErrors.emplace_back(plain);
            errorTagList.push_back(currentTag);
            break;
        default:
            break;
    }
}

void MessageLog::withdrawInfoLine(std::size_t index) {
    std::lock_guard<std::mutex> lock(guard);
    if (index < info.size())
        info.erase(info.begin() + static_cast<std::ptrdiff_t>(index));
}

void MessageLog::clear() {
    std::lock_guard<std::mutex> lock(guard);
    info.clear();
    warnings.clear();
    errors.clear();
    causes.clear();
    plainErrors.clear();
    plainWarnings.clear();
    errorTagList.clear();
    warningTagList.clear();
}
