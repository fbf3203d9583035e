// --extract <archive.txd> <folder>: level 0 of every texture as an RGBA PNG in the folder, named by the
// rule in ExtractNames.h. One line per file written goes to standard output.
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Cli/ExtractNames.h"
#include "Cli/Modes.h"
#include "Cli/PngFile.h"
#include "Cli/Report.h"
#include "Cli/TexturePixels.h"
#include "TXD/TXDArchive.h"

namespace Cli {
namespace {

// Paths are UTF-8 on every system; u8path keeps them so where the native form is wide.
namespace fs = std::filesystem;

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

}  // namespace

int runExtract(const Arguments& arguments) {
    const std::size_t mark = errorMark();
    if (arguments.size() != 2)
        return fail(mark,
                    "--extract takes an archive and a folder: quillpack --extract <archive.txd> <folder>");
    const std::string& archivePath = arguments[0];
    const std::string folder = forwardSlashes(arguments[1]);
    TXD::TXDArchive archive;
    if (!archive.loadFile(archivePath))
        return fail(mark, "cannot extract " + archivePath);

    std::error_code error;
    if (!fs::is_directory(fs::u8path(folder), error) && !fs::create_directories(fs::u8path(folder), error))
        return fail(mark, "cannot make the folder " + folder);

    // Only a missing path or a plain file may take a texture; the archive itself never does.
    auto blocked = [&](const std::string& name) {
        std::error_code ignored;
        const fs::path path = fs::u8path(joined(folder, name));
        const fs::file_status status = fs::symlink_status(path, ignored);
        if (!fs::exists(status))
            return false;
        return !fs::is_regular_file(status) ||
               fs::equivalent(path, fs::u8path(forwardSlashes(archivePath)), ignored);
    };
    std::set<std::string> taken;
    for (std::uint32_t index = 0; index < archive.getTextureCount(); ++index) {
        const TXD::TextureRecord& record = archive.getTexture(index);
        const std::string path = joined(folder, chooseFileName(safeFileStem(record.name), taken, blocked));
        std::vector<std::uint8_t> pixels;
        std::string why;
        if (!rgbaOf(record.texture, 0, pixels))
            return fail(mark, "cannot read the pixels of texture " + std::to_string(index));
        if (!writePng(path, record.texture->width(), record.texture->height(), pixels, why))
            return fail(mark, why);
        std::printf("%s\n", path.c_str());
    }
    return kExitSuccess;
}

}  // namespace Cli
