// Thin calls into the dictionary library, as the command line's modes make them (Cli/AddMode.cpp,
// EditModes.cpp, ListMode.cpp, ExtractMode.cpp), with the same reasons on failure.
#include "Web/Exports.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Cli/ExtractNames.h"
#include "Cli/Modes.h"
#include "Cli/PngFile.h"
#include "Cli/Report.h"
#include "Cli/TexturePixels.h"
#include "Dictionary/Edits.h"
#include "Dictionary/TextureRequest.h"
#include "Platform/Files.h"
#include "TXD/TXDArchive.h"
#include "Web/ImageDevice.h"

namespace {

using Cli::fail;

// The archive at `path`, for a change that is saved back to it.
bool loadForChange(TXD::TXDArchive& archive, const std::string& path, std::size_t mark) {
    if (archive.loadFile(path))
        return true;
    fail(mark, path + " is not a texture dictionary; it was left untouched");
    return false;
}

// The archive kept loaded between extract calls, and the pixels of the last one.
struct OpenArchive {
    std::string path;
    std::unique_ptr<TXD::TXDArchive> archive;
};
OpenArchive kept;
std::vector<std::uint8_t> pixels;
std::uint32_t pixelsWidth = 0, pixelsHeight = 0;
std::string stem;

// The caller names every dictionary by the same file name in a working folder of its own, so the
// kept archive is known by its whole path.
std::string wholePath(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char folder[4096];
    return getcwd(folder, sizeof folder) ? std::string(folder) + "/" + path : path;
}

bool saved(TXD::TXDArchive& archive, const std::string& path, std::size_t mark) {
    // The save may replace the very file the kept archive was read from.
    if (kept.archive && kept.path == wholePath(path))
        kept = {};
    if (archive.saveFile(path, 0))
        return true;
    fail(mark, "cannot save " + path + "; it was left as it was");
    return false;
}

}  // namespace

extern "C" {

int quillpack_add(const char* archivePath, const char* image, const char* name, const char* alpha,
                  const char* maskName, int format, int mipMaps, int dither) {
    std::size_t mark = Cli::errorMark();
    Web::ImageDevice device;
    if (!device.ready())
        return fail(mark, "no device for the image work");
    mark = Cli::errorMark();  // the render extras' missing resources are no concern here
    const std::string path = archivePath;
    Dictionary::TextureRequest request;
    request.imagePath = image;
    if (*name)
        request.name = name;
    if (*alpha)
        request.alphaPath = alpha;
    if (*maskName)
        request.maskName = maskName;
    if (format >= 0)
        request.format = TXD::TextureFormat(format);
    request.mipMaps = mipMaps != 0;
    request.dither = dither != 0;
    TXD::TXDArchive archive;
    archive.version = TXD::TXDArchive::kPlatform9Version;
    if (Platform::pathKind(path) != Platform::PathKind::Missing && !loadForChange(archive, path, mark))
        return Cli::kExitFailure;
    Dictionary::AddResult added;
    std::string why;
    if (!Dictionary::addTexture(archive, device.get(), request, added, why))
        return fail(mark, why + "; " + path + " was left untouched");
    return saved(archive, path, mark) ? Cli::kExitSuccess : Cli::kExitFailure;
}

int quillpack_remove(const char* archivePath, const char* name, int index) {
    const std::size_t mark = Cli::errorMark();
    TXD::TXDArchive archive;
    if (!loadForChange(archive, archivePath, mark))
        return Cli::kExitFailure;
    std::string why;
    if (index >= 0 && std::uint32_t(index) >= archive.getTextureCount())
        return fail(mark, "no texture " + std::to_string(index) + " in the archive; " + archivePath +
                              " was left untouched");
    if (index >= 0)
        archive.removeTexture(index);
    else if (!Dictionary::removeTextures(archive, {name}, why))
        return fail(mark, why + "; " + archivePath + " was left untouched");
    return saved(archive, archivePath, mark) ? Cli::kExitSuccess : Cli::kExitFailure;
}

int quillpack_rename(const char* archivePath, const char* name, int index, const char* newName) {
    const std::size_t mark = Cli::errorMark();
    TXD::TXDArchive archive;
    if (!loadForChange(archive, archivePath, mark))
        return Cli::kExitFailure;
    std::string why;
    const bool renamed = index >= 0 ? Dictionary::renameTextureAt(archive, index, newName, why)
                                    : Dictionary::renameTexture(archive, name, newName, why);
    if (!renamed)
        return fail(mark, why + "; " + archivePath + " was left untouched");
    return saved(archive, archivePath, mark) ? Cli::kExitSuccess : Cli::kExitFailure;
}

int quillpack_list(const char* archivePath) {
    return Cli::runList({archivePath});
}

int quillpack_extract(const char* archivePath, int index, int level) {
    const std::size_t mark = Cli::errorMark();
    pixels = {};
    const std::string key = wholePath(archivePath);
    if (kept.path != key || !kept.archive) {
        quillpack_close();
        auto loaded = std::make_unique<TXD::TXDArchive>();
        if (!loaded->loadFile(archivePath))
            return fail(mark, std::string("cannot extract ") + archivePath);
        kept = {key, std::move(loaded)};
    }
    TXD::TXDArchive& archive = *kept.archive;
    if (index < 0 || std::uint32_t(index) >= archive.getTextureCount())
        return fail(mark, "no texture " + std::to_string(index) + " in " + archivePath);
    const TXD::TextureRecord& record = archive.getTexture(index);
    if (level < 0 || !record.texture || std::uint32_t(level) >= record.texture->GetLevelCount())
        return fail(mark, "texture " + std::to_string(index) + " has no level " + std::to_string(level));
    if (!Cli::rgbaOf(record.texture, level, pixels))
        return fail(mark, "cannot read the pixels of texture " + std::to_string(index));
    stem = Cli::safeFileStem(record.name);
    pixelsWidth = record.texture->width(level);
    pixelsHeight = record.texture->height(level);
    return Cli::kExitSuccess;
}

const std::uint8_t* quillpack_pixels() {
    return pixels.data();
}

const char* quillpack_pixels_stem() {
    return stem.c_str();
}

std::uint32_t quillpack_pixels_width() {
    return pixelsWidth;
}

std::uint32_t quillpack_pixels_height() {
    return pixelsHeight;
}

int quillpack_write_png(const char* path) {
    const std::size_t mark = Cli::errorMark();
    std::string why;
    std::vector<std::uint8_t> png;
    if (!Cli::encodePng(pixelsWidth, pixelsHeight, pixels, png, why))
        return fail(mark, why);
    // The engine's own in-memory file, read back by the module at once: nothing here races.
    std::FILE* file = std::fopen(path, "wb");
    const bool written = file && std::fwrite(png.data(), 1, png.size(), file) == png.size();
    if (file && std::fclose(file) != 0)
        return fail(mark, std::string("cannot write ") + path);
    if (!written)
        return fail(mark, std::string("cannot write ") + path);
    return Cli::kExitSuccess;
}

void quillpack_close() {
    kept = {};
    pixels = {};
}

const char* quillpack_safe_file_stem(const char* name) {
    stem = Cli::safeFileStem(name);
    return stem.c_str();
}

}  // extern "C"
