// --add [--mipmaps] [--format dxt1|dxt3|32|8] <archive.txd> <image> [alpha image]: one image into an
// archive that may already hold others. A texture of the same name is replaced where it stands, the
// other records are written back byte for byte, and the save replaces the file whole or not at all.
#include <cstdio>
#include <string>

#include "Cli/Modes.h"
#include "Cli/Report.h"
#include "Common/MessageLog.h"
#include "Dictionary/TextureRequest.h"
#include "Platform/Files.h"
#include "Platform/Win32.h"
#include "RenderSystem.h"
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
    Dictionary::TextureRequest texture;
    std::string archivePath;
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
        const bool takesValue = option == "--format" || option == "--name" || option == "--mask-name";
        if (takesValue && at + 1 >= arguments.size()) {
            why = option + " needs a value";
            return false;
        }
        if (option == "--mipmaps") {
            request.texture.mipMaps = true;
        } else if (option == "--dither") {
            request.texture.dither = true;
        } else if (option == "--name") {
            request.texture.name = arguments[++at];
        } else if (option == "--mask-name") {
            request.texture.maskName = arguments[++at];
        } else if (option == "--format") {
            const std::string& value = arguments[++at];
            request.texture.format.reset();
            for (const FormatOption& known : kFormats) {
                if (value == known.value)
                    request.texture.format = known.format;
            }
            if (!request.texture.format) {
                why = "--format takes dxt1, dxt3, 32 or 8, not " + value;
                return false;
            }
        } else {
            why = "unknown option " + option;
            return false;
        }
    }
    const std::size_t paths = arguments.size() - at;
    if (paths < 2 || paths > 3) {
        why = "--add takes an archive, an image and an optional alpha image";
        return false;
    }
    request.archivePath = arguments[at];
    request.texture.imagePath = arguments[at + 1];
    if (paths == 3)
        request.texture.alphaPath = arguments[at + 2];
    return true;
}

}  // namespace

int runAdd(const Arguments& arguments) {
    std::size_t mark = errorMark();
    AddRequest request;
    std::string why;
    std::string name, maskName;
    if (!parse(arguments, request, why)) {
        fail(mark, why);
        printUsage(stderr);
        return kExitFailure;
    }
    if (!Dictionary::storedNames(request.texture, name, maskName, why))
        return fail(mark, why + "; " + request.archivePath + " was left untouched");

    Win32::HWND window = Win32::GetForegroundWindow();
    RenderSystem renderSystem(window, 800.0f, 600.0f);
    if (!renderSystem.deviceCreated) {
        renderSystem.shutDown();
        return fail(mark, "no device for the image work");
    }
    mark = errorMark();  // the render extras' missing resources are no concern here
    const std::size_t warningMark = MessageLog::getInstance()->warningMessages().size();

    int status = kExitSuccess;
    {
        TXD::TXDArchive archive;
        archive.version = TXD::TXDArchive::kPlatform9Version;
        const bool exists = Platform::pathKind(request.archivePath) != Platform::PathKind::Missing;
        Dictionary::AddResult added;
        if (exists && !archive.loadFile(request.archivePath)) {
            status = fail(mark, request.archivePath + " is not a texture dictionary; it was left untouched");
        } else if (!Dictionary::addTexture(archive, renderSystem.device, request.texture, added, why)) {
            status = fail(mark, why + "; " + request.archivePath + " was left untouched");
        } else if (!archive.saveFile(request.archivePath, 0)) {
            status = fail(mark, "cannot save " + request.archivePath + "; it was left as it was");
        } else {
            const TXD::TextureRecord& record = archive.getTexture(static_cast<std::uint32_t>(added.index));
            std::printf("%s %s %s %s (%u level%s)\n", added.replaced ? "Replaced" : "Added",
                        added.name.c_str(), added.replaced ? "in" : "to", request.archivePath.c_str(),
                        record.mipLevels, record.mipLevels == 1 ? "" : "s");
            printWarnings(warningMark);
        }
    }
    renderSystem.shutDown();
    return status;
}

}  // namespace Cli
