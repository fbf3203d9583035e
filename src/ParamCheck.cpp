#include "ParamCheck.h"

#include <cstdio>
#include <string>

#include "Common/STDFunctions/STDFunctions.h"
#include "Common/WideStringBuffer.h"

namespace {

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
        std::printf("Texture file path is invalid: %s \n", argv[1]);
        return false;
    }
    std::string folder = STDFunctions::getFolder(argv[2]);
    if (!STDFunctions::fileExists(folderToTest(argv[2], folder))) {
        std::printf("Output folder for the file is not valid: %s", folder.c_str());
        return false;
    }
    if (argc >= 4 && !STDFunctions::fileExists(argv[3])) {
        std::printf("Alpha channel file is not valid: %s", argv[3]);
        return false;
    }
    return true;
}

}  // namespace

bool checkParams(int argc, char** argv) {
    if (argc < 3) {
        std::printf("Not enough params passed in, there must be at least two! \n");
        std::printf("1. Texture image path \n2. Output file path \n3. Alpha path (Optional)\n\n");
        return false;
    }
    WideStringBuffer::acquire();
    bool usable = checkPaths(argc, argv);
    WideStringBuffer::release();
    return usable;
}
