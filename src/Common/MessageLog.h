// The process-wide, in-memory log. Every layer below the entry reports through it: a level, a
// printf-style message, and the calling function and line. Lines are kept per level in call order.
// Logging is safe from several threads at once; the lists are read once the work that logs is done.
#pragma once

#include <mutex>
#include <string>
#include <vector>

class MessageLog {
public:
    enum Level : int { Info = 0, Warning = 1, Error = 2 };

    static constexpr int kBufferSize = 1024;

    static MessageLog* getInstance();

    // While a Tag lives, the errors and warnings its thread logs carry its number (else -1), so that
    // work done for several textures at once can tell whose lines are whose.
    class Tag {
    public:
        explicit Tag(int number);
        ~Tag();
        Tag(const Tag&) = delete;
        Tag& operator=(const Tag&) = delete;

    private:
        int previous;
    };

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
    // One entry per error or warning line: the line without its function and line prefix, which is
    // what a person reads on standard error.
    const std::vector<std::string>& errorMessages() const { return plainErrors; }
    const std::vector<std::string>& warningMessages() const { return plainWarnings; }
    const std::vector<int>& errorTags() const { return errorTagList; }
    const std::vector<int>& warningTags() const { return warningTagList; }

private:
    friend class MessageLogHolder;
    MessageLog() = default;

    std::vector<std::string> info;
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
    std::vector<std::string> causes;
    std::vector<std::string> plainErrors;
    std::vector<std::string> plainWarnings;
    std::vector<int> errorTagList;
    std::vector<int> warningTagList;
    std::mutex guard;
    char lineBuffer[kBufferSize] = {};
    std::string messageText;
};
