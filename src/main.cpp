// The tool's entry: banner, argument check, render system, one archive with one texture, save, one
// outcome line, teardown (archive before device). Exit status 0 only after a save; on any failure the
// logged errors follow on standard error, so scripts and users can see why.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "Common/MessageLog.h"
#include "Common/STDFunctions/STDFunctions.h"
#include "ImageService/Win32.h"
#include "ParamCheck.h"
#include "RenderSystem.h"
#include "TXD/TXDArchive.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

void printBanner() {
    std::printf("---------------------------------------------------------------------------\n");
    std::printf("Quillpack - packs an image into a TXD texture dictionary (DXT1, or DXT3 with alpha)\n");
    std::printf("Usage and help: see README.md beside the program's source\n");
    std::printf("---------------------------------------------------------------------------\n");
}

// `firstReason` skips lines that only switched optional features off (the render extras' resources).
// Writing the archive over an input image would destroy the user's picture for a file they can remake.
bool overwritesAnInput(const std::string& outputPath, const std::string& texturePath, const std::string& alphaPath) {
    struct stat output;
    if (::stat(outputPath.c_str(), &output) != 0)
        return false;
    for (const std::string& input : {texturePath, alphaPath}) {
        struct stat image;
        if (!input.empty() && ::stat(input.c_str(), &image) == 0 && image.st_dev == output.st_dev &&
            image.st_ino == output.st_ino) {
            MessageLog::getInstance()->logMessage(MessageLog::Error,
                                                  "Save canceled, the output file is an input image: %s", "main",
                                                  "main", __LINE__, outputPath.c_str());
            return true;
        }
    }
    return false;
}

int fail(std::size_t firstReason = 0) {
    std::fflush(stdout);
    // Standard output's last line has no newline; on a terminal the reasons start on a line of their own.
    if (isatty(STDOUT_FILENO) && isatty(STDERR_FILENO))
        std::fputc('\n', stderr);
    const std::vector<std::string>& errors = MessageLog::getInstance()->errorLines();
    const std::vector<std::string>& causes = MessageLog::getInstance()->errorCauses();
    for (std::size_t i = firstReason; i < errors.size(); ++i) {
        if (causes[i].empty())
            std::fprintf(stderr, "%s\n", errors[i].c_str());
        else
            std::fprintf(stderr, "%s: %s\n", errors[i].c_str(), causes[i].c_str());
    }
    return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    // Past a file-size limit a write must fail with an error the save can report, not kill the process.
    std::signal(SIGXFSZ, SIG_IGN);
    printBanner();
    if (!checkParams(argc, argv)) {
        std::printf("\nInvalid params, unable to continue!\n");
        return fail();
    }

    ImageService::HWND window = ImageService::GetForegroundWindow();
    auto* renderSystem = new RenderSystem(window, 800.0f, 600.0f);
    if (!renderSystem->deviceCreated) {
        std::printf("Unable to create 3D Device, can not continue!");
        renderSystem->shutDown();
        delete renderSystem;
        return fail();
    }

    std::size_t firstReason = MessageLog::getInstance()->errorLines().size();
    auto* archive = new TXD::TXDArchive();
    archive->version = TXD::TXDArchive::kPlatform9Version;

    std::string texturePath = argv[1];
    std::string textureName = STDFunctions::getFileNameNoExtension(texturePath);
    std::string alphaPath;
    std::string alphaName;
    TXD::TextureFormat format = TXD::DXT1;
    if (argc != 3) {
        alphaPath = argv[3];
        alphaName = STDFunctions::getFileNameNoExtension(alphaPath);
        format = TXD::DXT3;
    }
    bool mipMaps = false;

    bool added = archive->addTexture(renderSystem->device, texturePath, textureName, format, mipMaps,
                                     alphaPath, alphaName);
    std::string outputPath = argv[2];

    bool saved = false;
    if (!added) {
        std::printf("Unable to create texture");
        std::printf("Failed to save file: %s", outputPath.c_str());
    } else if (!overwritesAnInput(outputPath, texturePath, alphaPath) && archive->saveFile(outputPath, 0)) {
        saved = true;
        std::printf("Texture file saved as: %s", outputPath.c_str());
    } else {
        std::printf("Failed to save file: %s", outputPath.c_str());
    }

    delete archive;
    renderSystem->shutDown();
    delete renderSystem;

    if (!saved)
        return fail(firstReason);
    std::fflush(stdout);
    return kExitSuccess;
}
