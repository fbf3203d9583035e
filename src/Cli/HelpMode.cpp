// --help (-h): every mode with its arguments.
#include <cstdio>

#include "Cli/Modes.h"
#include "Cli/Report.h"

namespace Cli {

void printUsage(std::FILE* to) {
    std::fprintf(
        to,
        "Usage:\n"
        "  quillpack <texture image> <output.txd> [alpha image]\n"
        "      Packs one image into a new archive: DXT1, or DXT3 with an alpha image.\n"
        "  quillpack --add [options] <archive.txd> <image> [alpha image]\n"
        "      Adds the image to the archive, creating it when absent; a texture of the same name\n"
        "      is replaced in place.\n"
        "  quillpack --build [options] <archive.txd> <folder | list file>\n"
        "      Makes the archive from every image of a folder (<x>_alpha or <x>_mask is the alpha\n"
        "      image of <x>) or from a list file of lines: image [alpha image] [options].\n"
        "  quillpack --list <archive.txd>\n"
        "      One tab-separated line per texture after a header line: index, name, mask, format,\n"
        "      width, height, levels, alpha, data bytes.\n"
        "  quillpack --extract [--levels] <archive.txd> <folder> [name...]\n"
        "      Writes level 0 (with --levels every level) of every texture, or of the named ones,\n"
        "      as <folder>/<name>.png (RGBA); level n goes to <name>.<n>.png.\n"
        "  quillpack --remove <archive.txd> <name>...\n"
        "      Takes the named textures out of the archive.\n"
        "  quillpack --rename <archive.txd> <old name> <new name>\n"
        "      Gives a texture another name.\n"
        "  quillpack --help | -h    this text\n"
        "  quillpack --version      the version and the libraries'\n"
        "\n"
        "Options of --add and --build (anywhere before --, values in any case):\n"
        "  --format dxt1|dxt3|32|8  the stored format; default DXT1, or DXT3 when the texture has alpha\n"
        "  --mipmaps                every mip level (DXT1 and DXT3)\n"
        "  --dither                 diffuse the error when a palette (--format 8) must reduce colours\n"
        "  --pow2                   resize sides that are not powers of two to the nearest ones\n"
        "  --name <name>            the texture's name (--add; in a list file, per line)\n"
        "  --mask-name <name>       the mask's name (--add; in a list file, per line)\n"
        "  --keep-going             --build: write the archive of the good textures, still exit 1\n"
        "  -q, --quiet              --build: no progress and no summary line\n");
}

int runHelp(const Arguments&) {
    printUsage(stdout);
    return kExitSuccess;
}

}  // namespace Cli
