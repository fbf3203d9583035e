#include "Cli/Modes.h"

#include "Cli/Report.h"
#include "Common/Console.h"
#include "Platform/Process.h"

namespace Cli {
namespace {

struct Mode {
    const char* option;
    int (*run)(const Arguments&);
};

constexpr Mode kModes[] = {
    {"--add", runAdd},         {"--build", runBuild},   {"--list", runList},
    {"--extract", runExtract}, {"--remove", runRemove}, {"--rename", runRename},
    {"--help", runHelp},       {"-h", runHelp},         {"--version", runVersion},
};

}  // namespace

bool isModeOption(const std::string& argument) {
    if (Platform::isSystemHelpSwitch(argument))
        return true;
    for (const Mode& mode : kModes) {
        if (argument == mode.option)
            return true;
    }
    return false;
}

std::vector<std::string> modeOptions() {
    std::vector<std::string> options;
    for (const Mode& mode : kModes)
        options.push_back(mode.option);
    return options;
}

int runMode(const Arguments& arguments) {
    if (!arguments.empty() && Platform::isSystemHelpSwitch(arguments[0]))
        return finish(runHelp(Arguments(arguments.begin() + 1, arguments.end())));
    for (const Mode& mode : kModes) {
        if (!arguments.empty() && arguments[0] == mode.option)
            return finish(mode.run(Arguments(arguments.begin() + 1, arguments.end())));
    }
    return fail(0, "unknown mode");
}

}  // namespace Cli
