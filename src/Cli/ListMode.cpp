// --list <archive.txd>: a header line, then one tab-separated line per texture, for people and scripts.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "Cli/Modes.h"
#include "Cli/Report.h"
#include "TXD/ArchiveLayout.h"
#include "TXD/TXDArchive.h"

namespace Cli {
namespace {

// Names come from the file: a control byte is shown as \xNN so that every texture stays on one line
// with its columns intact.
std::string shown(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The --format value that makes a record of this kind.
const char* formatName(const TXD::TextureRecord& record) {
    if (record.depth == 16)
        return record.compression == 1 ? "dxt1" : "dxt3";
    return record.depth == 8 ? "8" : "32";
}

// Bytes of pixel data the file holds for the record: every level's blocks, the pixels, or the
// palette and the indices; the size fields are not counted.
std::uint64_t dataBytes(const TXD::TextureRecord& record) {
    const std::uint64_t pixels = std::uint64_t(record.width) * std::uint64_t(record.height);
    if (record.depth == 8)
        return TXD::Layout::kPaletteBytes + pixels;
    if (record.depth != 16)
        return pixels * TXD::Layout::uncompressedPixelBytes(record.rasterFormat);
    std::uint64_t total = 0;
    for (std::uint32_t level = 0; level < record.mipLevels; ++level)
        total += TXD::Layout::compressedLevelBytes(record.width, record.height, record.compression, level);
    return total;
}

}  // namespace

int runList(const Arguments& arguments) {
    const std::size_t mark = errorMark();
    ParsedArguments parsed;
    std::string why;
    if (!parseArguments(arguments, kNoOptions, parsed, why))
        return fail(mark, why);
    if (parsed.paths.size() != 1)
        return fail(mark, "--list takes one archive: quillpack --list <archive.txd>");
    TXD::TXDArchive archive;
    if (!archive.loadFile(parsed.paths[0]))
        return fail(mark, "cannot list " + parsed.paths[0]);

    std::printf("index\tname\tmask\tformat\twidth\theight\tlevels\talpha\tbytes\n");
    for (std::uint32_t index = 0; index < archive.getTextureCount(); ++index) {
        const TXD::TextureRecord& record = archive.getTexture(index);
        std::printf("%u\t%s\t%s\t%s\t%d\t%d\t%u\t%s\t%" PRIu64 "\n", index, shown(record.name).c_str(),
                    shown(record.maskName).c_str(), formatName(record), record.width, record.height,
                    record.mipLevels, record.hasAlpha ? "yes" : "no", dataBytes(record));
    }
    return kExitSuccess;
}

}  // namespace Cli
