// --extract [--levels] <archive.txd> <folder> [name...]: level 0 (or every level) of every texture, or
// of the named ones, as an RGBA PNG in the folder, named by the rule in ExtractNames.h and written through
// the folder held open (Platform/OutputFolder.h), so no link planted in the folder, whenever, takes the bytes
// elsewhere. One line per file written goes to standard output.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Cli/CommandLine.h"
#include "Cli/ExtractNames.h"
#include "Cli/Modes.h"
#include "Cli/PngFile.h"
#include "Cli/Report.h"
#include "Cli/TexturePixels.h"
#include "Platform/OutputFolder.h"
#include "TXD/TXDArchive.h"

namespace Cli {
namespace {

// Both separators are accepted, as everywhere in the tool; the forward one works on every system.
std::string forwardSlashes(std::string path) {
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Writes the PNG under the first free name for its stem. A name that something else took after it
// was chosen (another process, between the choice and the write) passes to the next one.
bool placePng(Platform::OutputFolder& folder, FileNames& names, const std::string& stem,
              const std::vector<std::uint8_t>& png, std::string& name, std::string& why) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = names.choose(stem);
        const Platform::PathKind kind = folder.entryKind(name);
        if (kind != Platform::PathKind::Missing && kind != Platform::PathKind::RegularFile)
            continue;
        switch (folder.write(name, kind == Platform::PathKind::RegularFile, png.data(), png.size())) {
            case Platform::OutputFolder::Placed::Written:
                return true;
            case Platform::OutputFolder::Placed::Occupied:
                continue;
            case Platform::OutputFolder::Placed::Failed:
                why = "cannot write " + name + ": " + folder.reason();
                return false;
        }
    }
    why = "no free name for " + stem + ": each one tried was taken as it was written";
    return false;
}

}  // namespace

int runExtract(const Arguments& arguments) {
    const std::size_t mark = errorMark();
    ParsedArguments parsed;
    std::string why;
    const ModeArguments mode{kExtractOptions, 2, SIZE_MAX,
                             "--extract takes an archive, a folder and optional names: quillpack --extract "
                             "[--levels] <archive.txd> <folder> [name...]"};
    if (!parseModeArguments(arguments, mode, parsed, why))
        return fail(mark, why);
    const bool everyLevel = parsed.has("--levels");
    const std::string& archivePath = parsed.paths[0];
    const std::string folderPath = forwardSlashes(parsed.paths[1]);
    TXD::TXDArchive archive;
    if (!archive.loadFile(archivePath))
        return fail(mark, "cannot extract " + archivePath);

    // The textures asked for, in the archive's order; every name must be there before anything is
    // written.
    std::vector<bool> wanted(archive.getTextureCount(), parsed.paths.size() == 2);
    std::string missing;
    for (std::size_t i = 2; i < parsed.paths.size(); ++i) {
        const std::int32_t index = archive.findTexture(parsed.paths[i]);
        if (index < 0)
            missing += (missing.empty() ? "" : ", ") + parsed.paths[i];
        else
            wanted[static_cast<std::size_t>(index)] = true;
    }
    if (!missing.empty())
        return fail(mark, "no texture named " + missing + " in " + archivePath);

    Platform::OutputFolder folder;
    if (!folder.open(folderPath))
        return fail(mark, "cannot make the folder " + folderPath + ": " + folder.reason());
    // Only a missing name or a plain file may take a texture; the archive itself never does.
    FileNames names([&](const std::string& name) {
        const Platform::PathKind kind = folder.entryKind(name);
        return kind != Platform::PathKind::Missing &&
               (kind != Platform::PathKind::RegularFile || folder.entryIsFile(name, archivePath));
    });
    for (std::uint32_t index = 0; index < archive.getTextureCount(); ++index) {
        if (!wanted[index])
            continue;
        const TXD::TextureRecord& record = archive.getTexture(index);
        const std::uint32_t levels = everyLevel && record.texture ? record.texture->GetLevelCount() : 1;
        // Level n goes beside level 0's file, under its name: "wall.png", "wall.1.png", ...
        std::string stem = safeFileStem(record.name);
        for (std::uint32_t level = 0; level < levels; ++level) {
            std::vector<std::uint8_t> pixels;
            std::vector<std::uint8_t> png;
            std::string name;
            if (!rgbaOf(record.texture, level, pixels))
                return fail(mark, "cannot read the pixels of texture " + std::to_string(index));
            if (!encodePng(record.texture->width(level), record.texture->height(level), pixels, png, why) ||
                !placePng(folder, names, level == 0 ? stem : stem + "." + std::to_string(level), png, name,
                          why))
                return fail(mark, why);
            if (level == 0)
                stem = name.substr(0, name.size() - 4);  // the free name it got, without ".png"
            std::printf("%s\n", joined(folderPath, name).c_str());
        }
    }
    folder.sync();
    return kExitSuccess;
}

}  // namespace Cli
