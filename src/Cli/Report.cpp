#include "Cli/Report.h"

#include <cstdio>
#include <vector>

#include "Common/MessageLog.h"

namespace Cli {

std::size_t errorMark() {
    return MessageLog::getInstance()->errorLines().size();
}

int fail(std::size_t mark, const std::string& reason) {
    std::fflush(stdout);
    if (!reason.empty())
        std::fprintf(stderr, "quillpack: %s\n", reason.c_str());
    const std::vector<std::string>& errors = MessageLog::getInstance()->errorLines();
    const std::vector<std::string>& causes = MessageLog::getInstance()->errorCauses();
    for (std::size_t i = mark; i < errors.size(); ++i) {
        if (i < causes.size() && !causes[i].empty())
            std::fprintf(stderr, "%s: %s\n", errors[i].c_str(), causes[i].c_str());
        else
            std::fprintf(stderr, "%s\n", errors[i].c_str());
    }
    return kExitFailure;
}

void printWarnings(std::size_t mark) {
    const std::vector<std::string>& warnings = MessageLog::getInstance()->warningMessages();
    for (std::size_t i = mark; i < warnings.size(); ++i)
        std::fprintf(stderr, "quillpack: warning: %s\n", warnings[i].c_str());
}

}  // namespace Cli
