// The log is process-wide and never cleared, so a test looks only at the lines added since it began.
#pragma once

#include <string>
#include <vector>

#include "Common/MessageLog.h"

class LogCapture {
public:
    LogCapture()
        : infoStart(log().infoLines().size()),
          warningStart(log().warningLines().size()),
          errorStart(log().errorLines().size()) {}

    std::vector<std::string> info() const { return since(log().infoLines(), infoStart); }
    std::vector<std::string> warnings() const { return since(log().warningLines(), warningStart); }
    std::vector<std::string> errors() const { return since(log().errorLines(), errorStart); }

private:
    static MessageLog& log() { return *MessageLog::getInstance(); }
    static std::vector<std::string> since(const std::vector<std::string>& lines, std::size_t start) {
        return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(start), lines.end());
    }
    std::size_t infoStart;
    std::size_t warningStart;
    std::size_t errorStart;
};
