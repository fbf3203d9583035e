#include "Cli/Report.h"

#include <cstdio>

#include "Common/Console.h"
#include "Common/MessageLog.h"

namespace Cli {

std::size_t errorMark() {
    return MessageLog::getInstance()->errorMessages().size();
}

std::size_t warningMark() {
    return MessageLog::getInstance()->warningMessages().size();
}

std::vector<std::string> loggedReasons(std::size_t mark, int tag) {
    const MessageLog* log = MessageLog::getInstance();
    const std::vector<std::string>& messages = log->errorMessages();
    std::vector<std::string> reasons;
    for (std::size_t i = mark; i < messages.size(); ++i) {
        if (tag >= 0 && log->errorTags()[i] != tag)
            continue;
        const std::string& cause = log->errorCauses()[i];
        reasons.push_back(cause.empty() ? messages[i] : messages[i] + ": " + cause);
    }
    return reasons;
}

int fail(std::size_t mark, const std::string& reason) {
    Console::standardOutputDelivered();
    if (!reason.empty())
        std::fprintf(stderr, "quillpack: %s\n", reason.c_str());
    for (const std::string& line : loggedReasons(mark))
        std::fprintf(stderr, "%s\n", line.c_str());
    return kExitFailure;
}

void printWarnings(std::size_t mark, int tag) {
    const MessageLog* log = MessageLog::getInstance();
    const std::vector<std::string>& warnings = log->warningMessages();
    for (std::size_t i = mark; i < warnings.size(); ++i) {
        if (tag < 0 || log->warningTags()[i] == tag)
            std::fprintf(stderr, "quillpack: warning: %s\n", warnings[i].c_str());
    }
}

int finish(int status) {
    // A failure has told its reasons through fail(), which checked standard output already.
    if (status != kExitSuccess)
        return status;
    return Console::standardOutputDelivered() ? kExitSuccess : kExitFailure;
}

}  // namespace Cli
