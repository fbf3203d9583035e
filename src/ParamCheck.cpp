#include "ParamCheck.h"

#include <string>

#include "Common/Console.h"
#include "Common/STDFunctions/STDFunctions.h"
#include "Common/WideStringBuffer.h"

namespace {

std::string refusal;

void refuse(const char* what, const std::string& path) {
    if (path.size() >= STDFunctions::kMaxWideLength) {
        refusal = std::string(what) + " is " + std::to_string(path.size()) +
                  " characters long; paths are limited to " +
                  std::to_string(STDFunctions::kMaxWideLength - 1);
    } else {
        refusal = std::string(what) + " does not exist: " + path;
    }
}

// The folder to test for an output path. A bare file name lives in the current folder and "/x" in
// the root; getFolder alone would hand back the file name or an empty text for those.
std::string folderToTest(const std::string& outputPath, const std::string& folder) {
    std::size_t first = outputPath.find_first_of("\\/");
    if (first == std::string::npos)
        return ".";
    if (first == 0 && outputPath.find_first_of("\\/", 1) == std::string::npos)
        return "/";
    return folder;
}

bool checkPaths(int argc, char** argv) {
    if (!STDFunctions::fileExists(argv[1])) {
        Console::print("Texture file path is invalid: %s \n", argv[1]);
        refuse("Texture image (first argument)", argv[1]);
        return false;
    }
    const std::string output = argv[2];
    std::string folder = STDFunctions::getFolder(output);
    // An empty output path has an empty folder, which names nothing.
    if (output.empty() || !STDFunctions::fileExists(folderToTest(output, folder))) {
        Console::print("Output folder for the file is not valid: %s", folder.c_str());
        if (output.empty())
            refusal = "Output file (second argument) is empty";
        else
            refuse("Folder of the output file (second argument)", folder);
        return false;
    }
    if (argc >= 4 && !STDFunctions::fileExists(argv[3])) {
        Console::print("Alpha channel file is not valid: %s", argv[3]);
        refuse("Alpha image (third argument)", argv[3]);
        return false;
    }
    return true;
}

}  // namespace

bool checkParams(int argc, char** argv) {
    refusal.clear();
    if (argc < 3) {
        Console::print("Not enough params passed in, there must be at least two! \n");
        Console::print("1. Texture image path \n2. Output file path \n3. Alpha path (Optional)\n\n");
        refusal = "Expected a texture image and an output file, got " +
                  std::to_string(argc < 1 ? 0 : argc - 1) + (argc == 2 ? " argument" : " arguments");
        return false;
    }
    WideStringBuffer::acquire();
    bool usable = checkPaths(argc, argv);
    WideStringBuffer::release();
    return usable;
}

const std::string& paramRefusal() {
    return refusal;
}
