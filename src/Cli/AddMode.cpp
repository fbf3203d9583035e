// --add [--mipmaps] [--format dxt1|dxt3|32|8] [--dither] <archive.txd> <image> [alpha image]: one image into
// an archive that may already hold others. A texture of the same name is replaced where it stands, the other
// records are written back byte for byte, and the save replaces the file whole or not at all.
#include <cstdio>
#include <string>

#include "Cli/Modes.h"
#include "Cli/Report.h"
#include "Common/STDFunctions/STDFunctions.h"
#include "Platform/Files.h"
#include "Platform/Win32.h"
#include "RenderSystem.h"
#include "TXD/ArchiveLayout.h"
#include "TXD/TXDArchive.h"

namespace Cli {
namespace {

struct FormatOption {
    const char* value;
    TXD::TextureFormat format;
};
constexpr FormatOption kFormats[] = {
    {"dxt1", TXD::DXT1}, {"dxt3", TXD::DXT3}, {"32", TXD::Bits32}, {"8", TXD::Bits8}};

struct AddRequest {
    bool mipMaps = false;
    bool dither = false;  // error diffusion when an 8-bit record's colours are reduced
    bool formatGiven = false;
    TXD::TextureFormat format = TXD::DXT1;
    std::string archivePath, imagePath, alphaPath;
};

// Options come first, in any order; "--" ends them, for paths that start with "--".
bool parse(const Arguments& arguments, AddRequest& request, std::string& why) {
    std::size_t at = 0;
    for (; at < arguments.size() && arguments[at].rfind("--", 0) == 0; ++at) {
        const std::string& option = arguments[at];
        if (option == "--") {
            ++at;
            break;
        }
        if (option == "--mipmaps") {
            request.mipMaps = true;
        } else if (option == "--dither") {
            request.dither = true;
        } else if (option == "--format" && at + 1 < arguments.size()) {
            const std::string& value = arguments[++at];
            request.formatGiven = false;
            for (const FormatOption& known : kFormats) {
                if (value == known.value) {
                    request.format = known.format;
                    request.formatGiven = true;
                }
            }
            if (!request.formatGiven) {
                why = "--format takes dxt1, dxt3, 32 or 8, not " + value;
                return false;
            }
        } else {
            why = option == "--format" ? "--format needs a value" : "unknown option " + option;
            return false;
        }
    }
    const std::size_t paths = arguments.size() - at;
    if (paths < 2 || paths > 3) {
        why = "--add takes an archive, an image and an optional alpha image";
        return false;
    }
    request.archivePath = arguments[at];
    request.imagePath = arguments[at + 1];
    if (paths == 3)
        request.alphaPath = arguments[at + 2];
    if (!request.formatGiven && !request.alphaPath.empty())
        request.format = TXD::DXT3;
    return true;
}

// The name as the file will hold it, so that a later --add of the same image finds it again.
std::string storedName(const std::string& path) {
    return STDFunctions::getFileNameNoExtension(path).substr(0, TXD::Layout::kNameBytes);
}

}  // namespace

int runAdd(const Arguments& arguments) {
    std::size_t mark = errorMark();
    AddRequest request;
    std::string why;
    if (!parse(arguments, request, why)) {
        fail(mark, why);
        printUsage(stderr);
        return kExitFailure;
    }

    Win32::HWND window = Win32::GetForegroundWindow();
    RenderSystem renderSystem(window, 800.0f, 600.0f);
    if (!renderSystem.deviceCreated) {
        renderSystem.shutDown();
        return fail(mark, "no device for the image work");
    }
    mark = errorMark();  // the render extras' missing resources are no concern here

    const std::string name = storedName(request.imagePath);
    const std::string maskName = request.alphaPath.empty() ? "" : storedName(request.alphaPath);
    int status = kExitSuccess;
    {
        TXD::TXDArchive archive;
        archive.version = TXD::TXDArchive::kPlatform9Version;
        archive.ditherPalette = request.dither;
        const bool exists = Platform::pathKind(request.archivePath) != Platform::PathKind::Missing;
        std::int32_t existing = -1;
        if (exists && !archive.loadFile(request.archivePath)) {
            status = fail(mark, request.archivePath + " is not a texture dictionary; it was left untouched");
        } else if (existing = archive.findTexture(name);
                   !archive.addTexture(renderSystem.device, request.imagePath, name, request.format,
                                       request.mipMaps, request.alphaPath, maskName)) {
            status = fail(
                mark, "cannot add " + request.imagePath + "; " + request.archivePath + " was left untouched");
        } else {
            if (existing >= 0) {
                TXD::TextureRecord added = archive.textures.back();
                archive.textures.pop_back();
                archive.replaceTexture(existing, added);
            }
            if (!archive.saveFile(request.archivePath, 0)) {
                status = fail(mark, "cannot save " + request.archivePath + "; it was left as it was");
            } else {
                const TXD::TextureRecord& record =
                    archive.getTexture(existing >= 0 ? existing : archive.getTextureCount() - 1);
                std::printf("%s %s %s %s (%u level%s)\n", existing >= 0 ? "Replaced" : "Added", name.c_str(),
                            existing >= 0 ? "in" : "to", request.archivePath.c_str(), record.mipLevels,
                            record.mipLevels == 1 ? "" : "s");
            }
        }
    }
    renderSystem.shutDown();
    return status;
}

}  // namespace Cli
