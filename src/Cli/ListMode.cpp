// --list <archive.txd>: a header line, then one tab-separated line per texture, for people and scripts.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "Cli/Modes.h"
#include "Cli/Report.h"
#include "TXD/ArchiveIndex.h"

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

constexpr char kHeader[] = "index\tname\tmask\tformat\twidth\theight\tlevels\talpha\tbytes\n";

// The --format value that makes a record of this kind.
const char* formatName(const TXD::RecordInfo& record) {
    if (record.depth == 16)
        return record.compression == 1 ? "dxt1" : "dxt3";
    return record.depth == 8 ? "8" : "32";
}

// One line per record, as the walk hands them out; the header line comes first, once the whole
// dictionary is known to be valid (a refused file prints nothing on standard output).
void printRecord(std::uint32_t index, const TXD::RecordInfo& record) {
    if (index == 0)
        std::fputs(kHeader, stdout);
    std::printf("%u\t%s\t%s\t%s\t%d\t%d\t%u\t%s\t%" PRIu64 "\n", index, shown(record.name).c_str(),
                shown(record.maskName).c_str(), formatName(record), record.width, record.height,
                record.mipLevels, record.alpha ? "yes" : "no", record.dataBytes);
}

}  // namespace

// The listing reads the records' headers and no pixels (a DXT1 record's blocks only where its header
// leaves its alpha open), so it costs the same for a dictionary of any size.
int runList(const Arguments& arguments) {
    const std::size_t mark = errorMark();
    ParsedArguments parsed;
    std::string why;
    const ModeArguments mode{kNoOptions, 1, 1, "--list takes one archive: quillpack --list <archive.txd>"};
    if (!parseModeArguments(arguments, mode, parsed, why))
        return fail(mark, why);
    std::uint32_t count = 0;
    const bool listed = TXD::readIndex(
        parsed.paths[0], 0,
        [&](const TXD::RecordInfo& record) {
            printRecord(count++, record);
            return true;
        },
        why);
    if (!listed)
        return fail(mark, "cannot list " + parsed.paths[0] + ": " + why);
    if (count == 0)
        std::fputs(kHeader, stdout);
    return kExitSuccess;
}

}  // namespace Cli
