#include "Cli/Modes.h"

#include "Cli/Report.h"
#include "Common/Console.h"

namespace Cli {
namespace {

struct Mode {
    const char* option;
    int (*run)(const Arguments&);
};

constexpr Mode kModes[] = {
    {"--add", runAdd},   {"--list", runList},       {"--extract", runExtract},
    {"--help", runHelp}, {"--version", runVersion},
};

}  // namespace

bool isModeOption(const std::string& argument) {
    for (const Mode& mode : kModes) {
        if (argument == mode.option)
            return true;
    }
    return false;
}

int runMode(const Arguments& arguments) {
    for (const Mode& mode : kModes) {
        if (!arguments.empty() && arguments[0] == mode.option)
            return finish(mode.run(Arguments(arguments.begin() + 1, arguments.end())));
    }
    return fail(0, "unknown mode");
}

}  // namespace Cli
