// --remove <archive.txd> <name>... and --rename <archive.txd> <old> <new>: edits by name, saved as
// --add saves (the other records byte for byte, the file replaced whole or not at all).
#include <cstdint>
#include <cstdio>
#include <functional>

#include "Cli/CommandLine.h"
#include "Cli/Modes.h"
#include "Cli/Report.h"
#include "Dictionary/Edits.h"
#include "TXD/TXDArchive.h"

namespace Cli {
namespace {

// Loads the archive, applies `edit`, saves; the edit prints nothing, `done` prints the result lines.
int editArchive(const std::string& archivePath, std::size_t mark,
                const std::function<bool(TXD::TXDArchive&, std::string&)>& edit,
                const std::function<void()>& done) {
    TXD::TXDArchive archive;
    std::string why;
    if (!archive.loadFile(archivePath))
        return fail(mark, "cannot read " + archivePath + "; it was left untouched");
    if (!edit(archive, why))
        return fail(mark, why + "; " + archivePath + " was left untouched");
    if (!archive.saveFile(archivePath, 0))
        return fail(mark, "cannot save " + archivePath + "; it was left as it was");
    done();
    return kExitSuccess;
}

}  // namespace

int runRemove(const Arguments& arguments) {
    const std::size_t mark = errorMark();
    ParsedArguments parsed;
    std::string why;
    const ModeArguments mode{
        kNoOptions, 2, SIZE_MAX,
        "--remove takes an archive and the names to take out: quillpack --remove <archive.txd> "
        "<name>..."};
    if (!parseModeArguments(arguments, mode, parsed, why))
        return fail(mark, why);
    const std::string& archivePath = parsed.paths[0];
    const std::vector<std::string> names(parsed.paths.begin() + 1, parsed.paths.end());
    return editArchive(
        archivePath, mark,
        [&](TXD::TXDArchive& archive, std::string& reason) {
            return Dictionary::removeTextures(archive, names, reason);
        },
        [&] {
            for (const std::string& name : names)
                std::printf("Removed %s from %s\n", name.c_str(), archivePath.c_str());
        });
}

int runRename(const Arguments& arguments) {
    const std::size_t mark = errorMark();
    ParsedArguments parsed;
    std::string why;
    const ModeArguments mode{
        kNoOptions, 3, 3,
        "--rename takes an archive, a name and the new name: quillpack --rename <archive.txd> "
        "<old name> <new name>"};
    if (!parseModeArguments(arguments, mode, parsed, why))
        return fail(mark, why);
    const std::string& archivePath = parsed.paths[0];
    const std::string& from = parsed.paths[1];
    const std::string& to = parsed.paths[2];
    return editArchive(
        archivePath, mark,
        [&](TXD::TXDArchive& archive, std::string& reason) {
            return Dictionary::renameTexture(archive, from, to, reason);
        },
        [&] { std::printf("Renamed %s to %s in %s\n", from.c_str(), to.c_str(), archivePath.c_str()); });
}

}  // namespace Cli
