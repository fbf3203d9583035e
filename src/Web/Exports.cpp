// Thin calls into the archive, in the order the command line's modes make them (Cli/AddMode.cpp,
// ListMode.cpp, ExtractMode.cpp), with the same reasons on failure.
#include "Web/Exports.h"

#include <memory>
#include <string>
#include <vector>

#include "Cli/ExtractNames.h"
#include "Cli/Modes.h"
#include "Cli/PngFile.h"
#include "Cli/Report.h"
#include "Cli/TexturePixels.h"
#include "Common/STDFunctions/STDFunctions.h"
#include "Platform/Files.h"
#include "TXD/ArchiveLayout.h"
#include "TXD/TXDArchive.h"
#include "Web/ImageDevice.h"

namespace {

using Cli::fail;

std::string storedName(const std::string& name) {
    return name.substr(0, TXD::Layout::kNameBytes);
}

// The archive at `path`, for a change that is saved back to it.
bool loadForChange(TXD::TXDArchive& archive, const std::string& path, std::size_t mark) {
    if (archive.loadFile(path))
        return true;
    fail(mark, path + " is not a texture dictionary; it was left untouched");
    return false;
}

std::int32_t chosenTexture(TXD::TXDArchive& archive, const std::string& name, int index) {
    if (index < 0)
        return archive.findTexture(name);
    return std::uint32_t(index) < archive.getTextureCount() ? index : -1;
}

std::string described(const std::string& name, int index) {
    return index < 0 ? "no texture named " + name : "no texture " + std::to_string(index);
}

bool saved(TXD::TXDArchive& archive, const std::string& path, std::size_t mark) {
    if (archive.saveFile(path, 0))
        return true;
    fail(mark, "cannot save " + path + "; it was left as it was");
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

}  // namespace

extern "C" {

int quillpack_add(const char* archivePath, const char* image, const char* name, const char* alpha,
                  const char* maskName, int format, int mipMaps) {
    std::size_t mark = Cli::errorMark();
    Web::ImageDevice device;
    if (!device.ready())
        return fail(mark, "no device for the image work");
    mark = Cli::errorMark();  // the render extras' missing resources are no concern here
    const std::string path = archivePath, alphaPath = alpha;
    const std::string texture = storedName(*name ? name : STDFunctions::getFileNameNoExtension(image));
    const std::string mask =
        alphaPath.empty()
            ? ""
            : storedName(*maskName ? maskName : STDFunctions::getFileNameNoExtension(alphaPath));
    const auto chosen = format >= 0 ? TXD::TextureFormat(format) : alphaPath.empty() ? TXD::DXT1 : TXD::DXT3;
    TXD::TXDArchive archive;
    archive.version = TXD::TXDArchive::kPlatform9Version;
    if (Platform::pathKind(path) != Platform::PathKind::Missing && !loadForChange(archive, path, mark))
        return Cli::kExitFailure;
    const std::int32_t existing = archive.findTexture(texture);
    if (!archive.addTexture(device.get(), image, texture, chosen, mipMaps != 0, alphaPath, mask))
        return fail(mark, std::string("cannot add ") + image + "; " + path + " was left untouched");
    if (existing >= 0) {
        TXD::TextureRecord added = archive.textures.back();
        archive.textures.pop_back();
        archive.replaceTexture(existing, added);
    }
    return saved(archive, path, mark) ? Cli::kExitSuccess : Cli::kExitFailure;
}

int quillpack_remove(const char* archivePath, const char* name, int index) {
    const std::size_t mark = Cli::errorMark();
    TXD::TXDArchive archive;
    if (!loadForChange(archive, archivePath, mark))
        return Cli::kExitFailure;
    const std::int32_t chosen = chosenTexture(archive, name, index);
    if (chosen < 0)
        return fail(mark, described(name, index) + " in " + archivePath);
    archive.removeTexture(chosen);
    return saved(archive, archivePath, mark) ? Cli::kExitSuccess : Cli::kExitFailure;
}

int quillpack_rename(const char* archivePath, const char* name, int index, const char* newName) {
    const std::size_t mark = Cli::errorMark();
    TXD::TXDArchive archive;
    if (!loadForChange(archive, archivePath, mark))
        return Cli::kExitFailure;
    const std::int32_t chosen = chosenTexture(archive, name, index);
    const std::string renamed = storedName(newName);
    const std::int32_t holder = archive.findTexture(renamed);
    if (chosen < 0)
        return fail(mark, described(name, index) + " in " + archivePath);
    if (renamed.empty())
        return fail(mark, "a texture needs a name");
    if (holder >= 0 && holder != chosen)
        return fail(mark, std::string(archivePath) + " already has a texture named " + renamed);
    archive.getTexture(chosen).setName(renamed);
    archive.changed = true;
    return saved(archive, archivePath, mark) ? Cli::kExitSuccess : Cli::kExitFailure;
}

int quillpack_list(const char* archivePath) {
    return Cli::runList({archivePath});
}

int quillpack_extract(const char* archivePath, int index, int level) {
    const std::size_t mark = Cli::errorMark();
    pixels = {};
    if (kept.path != archivePath || !kept.archive) {
        quillpack_close();
        auto loaded = std::make_unique<TXD::TXDArchive>();
        if (!loaded->loadFile(archivePath))
            return fail(mark, std::string("cannot extract ") + archivePath);
        kept = {archivePath, std::move(loaded)};
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
    if (!Cli::writePng(path, pixelsWidth, pixelsHeight, pixels, why))
        return fail(mark, why);
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
