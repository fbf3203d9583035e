// The process-wide, in-memory log. Every layer below the entry reports through it: a level, a
// printf-style message, and the calling function and line. Lines are kept per level in call order.
#pragma once

#include <string>
#include <vector>

class MessageLog {
public:
    enum Level : int { Info = 0, Warning = 1, Error = 2 };

    static constexpr int kBufferSize = 1024;

    static MessageLog* getInstance();

    // `level` arrives as a plain integer; values outside 0..2 are formatted and stored nowhere.
    // `file` is accepted for the callers' convenience and never used.
    void logMessage(int level, const char* format, const char* file, const char* function, int line, ...)
        __attribute__((format(printf, 3, 7)));

    // Takes back an Info line whose claim no longer holds (a record added, then rolled back).
    void withdrawInfoLine(std::size_t index);
    // Drops every line kept so far. The log otherwise grows with every operation, so a program that
    // runs millions of them (a fuzz target) clears it once it has read what it needs.
    void clear();

    const std::vector<std::string>& infoLines() const { return info; }
    const std::vector<std::string>& warningLines() const { return warnings; }
    const std::vector<std::string>& errorLines() const { return errors; }
    // One entry per error line: the cause noted through FailureReason before it was logged, or empty.
    const std::vector<std::string>& errorCauses() const { return causes; }

private:
    friend class MessageLogHolder;
    MessageLog() = default;

    std::vector<std::string> info;
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
    std::vector<std::string> causes;
    char lineBuffer[kBufferSize] = {};
    std::string messageText;
};
