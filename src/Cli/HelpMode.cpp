// --help and --version.
#include <cstdio>

#include "Cli/Modes.h"
#include "Cli/Report.h"

#ifndef QUILLPACK_VERSION
#define QUILLPACK_VERSION "unknown"
#endif

namespace Cli {

void printUsage(std::FILE* to) {
    std::fprintf(
        to,
        "Usage:\n"
        "  quillpack <texture image> <output.txd> [alpha image]\n"
        "      Packs one image into a new archive: DXT1, or DXT3 with an alpha image.\n"
        "  quillpack --add [--mipmaps] [--format dxt1|dxt3|32|8] [--dither]\n"
        "                  <archive.txd> <image> [alpha image]\n"
        "      Adds the image to the archive, creating it when absent; a texture of the same name\n"
        "      is replaced in place. Default format DXT1, or DXT3 with an alpha image. Format 8 reduces\n"
        "      an image of more than 256 colours to 256 (--dither: with error diffusion).\n"
        "  quillpack --list <archive.txd>\n"
        "      One tab-separated line per texture after a header line: index, name, mask, format,\n"
        "      width, height, levels, alpha, data bytes.\n"
        "  quillpack --extract <archive.txd> <folder>\n"
        "      Writes level 0 of every texture as <folder>/<name>.png (RGBA).\n"
        "  quillpack --help      this text\n"
        "  quillpack --version   the version\n");
}

int runHelp(const Arguments&) {
    printUsage(stdout);
    return kExitSuccess;
}

int runVersion(const Arguments&) {
    std::printf("quillpack %s\n", QUILLPACK_VERSION);
    return kExitSuccess;
}

}  // namespace Cli
