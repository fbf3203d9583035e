// --extract <archive.txd> <folder>: level 0 of every texture as an RGBA PNG in the folder, named by the
// rule in ExtractNames.h and written through the folder held open (Platform/OutputFolder.h), so no
// link planted in the folder, whenever, takes the bytes elsewhere. One line per file written goes to
// standard output.
#include <cstdio>
#include <string>
#include <vector>

#include "Cli/ExtractNames.h"
#include "Cli/Modes.h"
#include "Cli/PngFile.h"
#include "Cli/Report.h"
#include "ImageService/D3DX/D3DX.h"
#include "Platform/OutputFolder.h"
#include "TXD/TXDArchive.h"

namespace Cli {
namespace {

using namespace ImageService;

// Level 0 of any record's texture as R, G, B, A bytes: blocks decoded, palettes already resolved.
bool rgbaOf(IDirect3DTexture9* texture, std::vector<std::uint8_t>& pixels) {
    IDirect3DTexture9* plain = nullptr;
    if (!texture || FAILED(IDirect3DTexture9::create(texture->width(), texture->height(), 1, 0,
                                                     D3DFMT_A8B8G8R8, D3DPOOL_MANAGED, &plain)))
        return false;
    IDirect3DSurface9* from = nullptr;
    IDirect3DSurface9* to = nullptr;
    bool converted = SUCCEEDED(texture->GetSurfaceLevel(0, &from)) &&
                     SUCCEEDED(plain->GetSurfaceLevel(0, &to)) &&
                     SUCCEEDED(D3DXLoadSurfaceFromSurface(to, nullptr, nullptr, from, nullptr, nullptr,
                                                          D3DX_FILTER_NONE, 0));
    if (from)
        from->Release();
    if (to)
        to->Release();
    if (converted)
        pixels.assign(plain->levelBytes(0), plain->levelBytes(0) + plain->levelSize(0));
    plain->Release();
    return converted;
}

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
    if (arguments.size() != 2)
        return fail(mark,
                    "--extract takes an archive and a folder: quillpack --extract <archive.txd> <folder>");
    const std::string& archivePath = arguments[0];
    const std::string folderPath = forwardSlashes(arguments[1]);
    TXD::TXDArchive archive;
    if (!archive.loadFile(archivePath))
        return fail(mark, "cannot extract " + archivePath);

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
        const TXD::TextureRecord& record = archive.getTexture(index);
        std::vector<std::uint8_t> pixels;
        std::vector<std::uint8_t> png;
        std::string name;
        std::string why;
        if (!rgbaOf(record.texture, pixels))
            return fail(mark, "cannot read the pixels of texture " + std::to_string(index));
        if (!encodePng(record.texture->width(), record.texture->height(), pixels, png, why) ||
            !placePng(folder, names, safeFileStem(record.name), png, name, why))
            return fail(mark, why);
        std::printf("%s\n", joined(folderPath, name).c_str());
    }
    folder.sync();
    return kExitSuccess;
}

}  // namespace Cli
