// Prints the name, size and level count of every texture in a dictionary, using the installed
// library only: list-textures <archive.txd>
#include <cstdio>

#include "Common/MessageLog.h"
#include "TXD/TXDArchive.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: list-textures <archive.txd>\n");
        return 1;
    }
    TXD::TXDArchive archive;
    if (!archive.loadFile(argv[1])) {
        for (const std::string& line : MessageLog::getInstance()->errorLines())
            std::fprintf(stderr, "%s\n", line.c_str());
        return 1;
    }
    for (std::uint32_t i = 0; i < archive.getTextureCount(); ++i) {
        const TXD::TextureRecord& record = archive.getTexture(i);
        std::printf("%s %dx%d %u\n", record.name.c_str(), record.width, record.height, record.mipLevels);
    }
    return 0;
}
