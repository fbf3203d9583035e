#include "Cli/Report.h"

#include <cstdio>
#include <vector>

#include "Common/Console.h"
#include "Common/MessageLog.h"

namespace Cli {

std::size_t errorMark() {
    return MessageLog::getInstance()->errorLines().size();
}

int fail(std::size_t mark, const std::string& reason) {
    Console::standardOutputDelivered();
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

int finish(int status) {
    // A failure has told its reasons through fail(), which checked standard output already.
    if (status != kExitSuccess)
        return status;
    return Console::standardOutputDelivered() ? kExitSuccess : kExitFailure;
}

}  // namespace Cli
