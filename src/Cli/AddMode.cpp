// --add [options] <archive.txd> <image> [alpha image]: one image into an archive that may already
// hold others. A texture of the same name is replaced where it stands, the other records are written
// back byte for byte, and the save replaces the file whole or not at all.
#include <cstdio>
#include <string>

#include "Cli/CommandLine.h"
#include "Cli/Modes.h"
#include "Cli/Report.h"
#include "Dictionary/TextureRequest.h"
#include "Platform/Files.h"
#include "Platform/Win32.h"
#include "RenderSystem.h"
#include "TXD/TXDArchive.h"

namespace Cli {

int runAdd(const Arguments& arguments) {
    std::size_t mark = errorMark();
    ParsedArguments parsed;
    Dictionary::TextureRequest request;
    std::string why;
    const ModeArguments mode{kAddOptions, 2, 3,
                             "--add takes an archive, an image and an optional alpha image: quillpack --add "
                             "[options] <archive.txd> <image> [alpha image]"};
    if (!parseModeArguments(arguments, mode, parsed, why) || !applyTextureOptions(parsed, request, why))
        return fail(mark, why);
    const std::string& archivePath = parsed.paths[0];
    request.imagePath = parsed.paths[1];
    if (parsed.paths.size() == 3)
        request.alphaPath = parsed.paths[2];
    std::string name, maskName;
    if (!Dictionary::storedNames(request, name, maskName, why))
        return fail(mark, why + "; " + archivePath + " was left untouched");

    Win32::HWND window = Win32::GetForegroundWindow();
    RenderSystem renderSystem(window, 800.0f, 600.0f);
    if (!renderSystem.deviceCreated) {
        renderSystem.shutDown();
        return fail(mark, "no device for the image work");
    }
    mark = errorMark();  // the render extras' missing resources are no concern here
    const std::size_t warnings = warningMark();

    int status = kExitSuccess;
    {
        TXD::TXDArchive archive;
        archive.version = TXD::TXDArchive::kPlatform9Version;
        const bool exists = Platform::pathKind(archivePath) != Platform::PathKind::Missing;
        Dictionary::AddResult added;
        if (exists && !archive.loadFile(archivePath)) {
            status = fail(mark, archivePath + " is not a texture dictionary; it was left untouched");
        } else if (!Dictionary::addTexture(archive, renderSystem.device, request, added, why)) {
            status = fail(mark, why + "; " + archivePath + " was left untouched");
        } else if (!archive.saveFile(archivePath, 0)) {
            status = fail(mark, "cannot save " + archivePath + "; it was left as it was");
        } else {
            const TXD::TextureRecord& record = archive.getTexture(static_cast<std::uint32_t>(added.index));
            std::printf("%s %s %s %s (%u level%s)\n", added.replaced ? "Replaced" : "Added",
                        added.name.c_str(), added.replaced ? "in" : "to", archivePath.c_str(),
                        record.mipLevels, record.mipLevels == 1 ? "" : "s");
            printWarnings(warnings);
        }
    }
    renderSystem.shutDown();
    return status;
}

}  // namespace Cli
