// --build [options] <archive.txd> <folder | list file>: a whole dictionary from scratch, whole or not
// at all. Every bad input is named, not only the first; then nothing is written (with --keep-going,
// the archive of the good ones is, and the exit status is still 1).
#include <cstdio>
#include <string>

#include "Cli/BuildSources.h"
#include "Cli/CommandLine.h"
#include "Cli/Modes.h"
#include "Cli/Report.h"
#include "Dictionary/Builder.h"
#include "Platform/Files.h"
#include "Platform/Process.h"
#include "TXD/TXDArchive.h"

namespace Cli {
namespace {

// "[37/512] wall_brick.png" on one line that each texture overwrites, only for a person watching.
class Progress {
public:
    explicit Progress(bool shown) : shown(shown) {}
    ~Progress() { finish(); }
    void show(std::size_t done, std::size_t total, const std::string& label) {
        if (!shown)
            return;
        std::fprintf(stderr, "\r[%zu/%zu] %s\033[K", done, total, label.c_str());
        std::fflush(stderr);
        dirty = true;
    }
    void finish() {
        if (dirty)
            std::fprintf(stderr, "\r\033[K");
        dirty = false;
    }

private:
    bool shown;
    bool dirty = false;
};

bool readsAnInput(const std::string& archivePath, const std::vector<Dictionary::BuildItem>& items) {
    for (const Dictionary::BuildItem& item : items) {
        if (Platform::sameFile(archivePath, item.request.imagePath) ||
            (item.request.alphaPath && Platform::sameFile(archivePath, *item.request.alphaPath)))
            return true;
    }
    return false;
}

}  // namespace

int runBuild(const Arguments& arguments) {
    const std::size_t mark = errorMark();
    const std::size_t warnings = warningMark();
    ParsedArguments parsed;
    Dictionary::TextureRequest defaults;
    std::string why;
    const ModeArguments mode{
        kBuildOptions, 2, 2,
        "--build takes an archive and a folder or list file: quillpack --build [options] "
        "<archive.txd> <folder | list file>"};
    if (!parseModeArguments(arguments, mode, parsed, why) || !applyTextureOptions(parsed, defaults, why))
        return fail(mark, why);
    const std::string& archivePath = parsed.paths[0];
    const std::string& source = parsed.paths[1];
    const bool keepGoing = parsed.has("--keep-going");
    const bool quiet = parsed.has("--quiet");

    std::vector<Dictionary::BuildItem> items;
    std::vector<std::string> problems;
    const Platform::PathKind kind = Platform::pathKind(source);
    if (kind == Platform::PathKind::RegularFile && Platform::sameFile(archivePath, source))
        return fail(mark, archivePath + " is the list file to read; it was left untouched");
    if (kind == Platform::PathKind::Folder)
        itemsFromFolder(source, defaults, items, problems);
    else if (kind == Platform::PathKind::RegularFile)
        itemsFromList(source, defaults, items, problems);
    else
        return fail(mark,
                    source + " is neither a folder nor a list file; " + archivePath + " was left untouched");
    if (items.empty() && problems.empty())
        return fail(mark, "no images in " + source + "; " + archivePath + " was left untouched");
    if (readsAnInput(archivePath, items))
        return fail(mark, archivePath + " is one of the images to pack; it was left untouched");

    Dictionary::BuildOutcome outcome;
    Dictionary::checkBuildNames(items, outcome);
    std::vector<Dictionary::BuildItem> fit;
    std::vector<std::size_t> fitIndex;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (outcome.whys[i].empty()) {
            fit.push_back(items[i]);
            fitIndex.push_back(i);
        }
    }

    TXD::TXDArchive archive;
    archive.version = TXD::TXDArchive::kPlatform9Version;
    Progress progress(!quiet && Platform::isTerminal(stderr));
    Dictionary::BuildOutcome built;
    Dictionary::buildTextures(
        archive, fit, Dictionary::defaultBuildWorkers(),
        [&](std::size_t done, std::size_t total, const Dictionary::BuildItem& item) {
            progress.show(done, total, item.label);
        },
        built);
    progress.finish();

    // Every bad input, in the order given: its reason, then what the layers below logged for it.
    std::size_t failed = problems.size();
    for (const std::string& problem : problems)
        std::fprintf(stderr, "quillpack: %s\n", problem.c_str());
    for (std::size_t i = 0, f = 0; i < items.size(); ++i) {
        const bool inBuild = f < fitIndex.size() && fitIndex[f] == i;
        const std::string why = inBuild ? built.whys[f] : outcome.whys[i];
        if (inBuild && built.added[f++])
            continue;
        ++failed;
        std::fprintf(stderr, "quillpack: %s: %s\n", items[i].label.c_str(), why.c_str());
        if (inBuild) {
            for (const std::string& reason : loggedReasons(mark, static_cast<int>(f - 1)))
                std::fprintf(stderr, "%s\n", reason.c_str());
        }
    }
    for (std::size_t f = 0; f < fit.size(); ++f) {
        if (built.added[f])
            printWarnings(warnings, static_cast<int>(f));
    }
    if (failed > 0 && !keepGoing)
        return fail(errorMark(), std::to_string(failed) + " of " +
                                     std::to_string(items.size() + problems.size()) +
                                     " inputs could not be packed; " + archivePath + " was left untouched");
    if (archive.getTextureCount() == 0)
        return fail(errorMark(), "no texture could be packed; " + archivePath + " was left untouched");
    const std::size_t saveMark = errorMark();
    if (!archive.saveFile(archivePath, 0))
        return fail(saveMark, "cannot save " + archivePath + "; it was left as it was");
    if (!quiet)
        std::printf("Built %s: %u texture%s\n", archivePath.c_str(), archive.getTextureCount(),
                    archive.getTextureCount() == 1 ? "" : "s");
    return failed > 0 ? kExitFailure : kExitSuccess;
}

}  // namespace Cli
