// The tool's entry: banner, argument check, render system, one archive with one texture, save, one
// outcome line, teardown (archive before device). Exit status 0 only after a save; on any failure the
// logged errors follow on standard error, so scripts and users can see why.
#include <cstdio>
#include <string>
#include <vector>

#include "Cli/Modes.h"
#include "Cli/Report.h"
#include "Common/Console.h"
#include "Common/MessageLog.h"
#include "Common/STDFunctions/STDFunctions.h"
#include "ParamCheck.h"
#include "Platform/Files.h"
#include "Platform/Process.h"
#include "Platform/Win32.h"
#include "RenderSystem.h"
#include "TXD/TXDArchive.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

void printBanner() {
    Console::print("---------------------------------------------------------------------------\n");
    Console::print("Quillpack - packs an image into a TXD texture dictionary (DXT1, or DXT3 with alpha)\n");
    Console::print("Usage and help: quillpack --help\n");
    Console::print("---------------------------------------------------------------------------\n");
}

// Writing the archive over an input image would destroy the user's picture for a file they can remake.
bool overwritesAnInput(const std::string& outputPath, const std::string& texturePath,
                       const std::string& alphaPath) {
    for (const std::string& input : {texturePath, alphaPath}) {
        if (Platform::sameFile(outputPath, input)) {
            MessageLog::getInstance()->logMessage(MessageLog::Error,
                                                  "Save canceled, the output file is an input image: %s",
                                                  "main", "main", __LINE__, outputPath.c_str());
            return true;
        }
    }
    return false;
}

// What the run did that the user may not expect (a mask without alpha, alpha cut to one bit): said on
// standard error, after the console text, without changing the outcome.
void printWarnings() {
    const std::vector<std::string>& warnings = MessageLog::getInstance()->warningMessages();
    if (warnings.empty())
        return;
    std::fflush(Console::stream());
    if (Platform::isTerminal(stdout) && Platform::isTerminal(stderr))
        std::fputc('\n', stderr);
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "Warning: %s\n", warning.c_str());
}

// A first argument that looks like an option but names no mode and no file was most likely a
// misspelt mode: the main run goes on exactly as it would, and standard error says what was probably meant.
std::string misspeltOption;

// `firstReason` skips lines that only switched optional features off (the render extras' resources).
int fail(std::size_t firstReason = 0) {
    Console::standardOutputDelivered();
    // Standard output's last line has no newline; on a terminal the reasons start on a line of their own.
    if (Platform::isTerminal(stdout) && Platform::isTerminal(stderr))
        std::fputc('\n', stderr);
    if (!misspeltOption.empty())
        std::fprintf(stderr, "%s\n", misspeltOption.c_str());
    if (!paramRefusal().empty())
        std::fprintf(stderr, "%s\n", paramRefusal().c_str());
    for (const std::string& reason : Cli::loggedReasons(firstReason))
        std::fprintf(stderr, "%s\n", reason.c_str());
    return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe or a file-size limit must fail a write with an error the save can report, not
    // kill the process; an interrupt must not leave a save's temporary file behind.
    Platform::installInterruptHandlers();
    Platform::holdClosedStandardStreams();
    Platform::useBinaryStandardStreams();
    std::vector<std::string> arguments = Platform::commandLine(argc, argv);
    std::vector<char*> words;
    for (std::string& argument : arguments)
        words.push_back(argument.data());
    words.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    argv = words.data();
    if (argc > 1 && Cli::isModeOption(arguments[1]))
        return Cli::runMode(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    if (argc > 1 && arguments[1].size() > 1 && arguments[1][0] == '-' &&
        Platform::pathKind(arguments[1]) == Platform::PathKind::Missing)
        misspeltOption = Cli::unknownOption(arguments[1]);

    if (argc >= 3 && Platform::isStandardOutput(argv[2]))
        Console::divertToStandardError();
    printBanner();
    if (!checkParams(argc, argv)) {
        Console::print("\nInvalid params, unable to continue!\n");
        return fail();
    }

    Win32::HWND window = Win32::GetForegroundWindow();
    auto* renderSystem = new RenderSystem(window, 800.0f, 600.0f);
    if (!renderSystem->deviceCreated) {
        Console::print("Unable to create 3D Device, can not continue!");
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
        Console::print("Unable to create texture");
        Console::print("Failed to save file: %s", outputPath.c_str());
    } else if (!overwritesAnInput(outputPath, texturePath, alphaPath) && archive->saveFile(outputPath, 0)) {
        saved = true;
        Console::print("Texture file saved as: %s", outputPath.c_str());
    } else {
        Console::print("Failed to save file: %s", outputPath.c_str());
    }

    delete archive;
    renderSystem->shutDown();
    delete renderSystem;

    if (!saved)
        return fail(firstReason);
    printWarnings();
    return Console::standardOutputDelivered() ? kExitSuccess : kExitFailure;
}
