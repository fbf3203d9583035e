#include "TXD/ArchiveIndex.h"

#include <algorithm>

#include "TXD/ArchiveLayout.h"
#include "TXD/DictionaryWalk.h"

namespace TXD {
namespace {

// Blocks are scanned in pieces of this many bytes (a whole number of DXT1 blocks).
constexpr std::size_t kScanBytes = std::size_t{256} << 10;

// A DXT1 block in three-colour mode (colour 0 <= colour 1) that uses index 3 holds a transparent texel.
bool transparentTexel(const std::uint8_t* block) {
    const std::uint32_t indices = Layout::getU32(block + 4);
    // A texel's two index bits are both set exactly where index 3 is.
    return Layout::getU16(block) <= Layout::getU16(block + 2) &&
           (indices & (indices >> 1) & 0x55555555u) != 0;
}

// Whether a level of a DXT1 record holds a transparent texel, read in bounded pieces and stopping at
// the first one. A hole in a sparse file reads as zeros, whose blocks are opaque black, so it is passed
// over unread.
bool levelHasTransparency(ArchiveInput& input, std::uint64_t start, std::uint64_t bytes,
                          std::vector<std::uint8_t>& piece, bool& found, std::string& why) {
    const std::uint64_t end = start + bytes;
    for (std::uint64_t offset = start; offset < end && !found;) {
        const std::uint64_t data = input.dataFrom(offset);
        if (data >= end)
            break;
        offset = data - (data - start) % Layout::kDxt1BlockBytes;  // the block the data starts in
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(end - offset, kScanBytes));
        piece.resize(count);
        if (!input.read(offset, piece.data(), count)) {
            why = input.reason();
            return false;
        }
        for (std::size_t at = 0; at < count && !found; at += Layout::kDxt1BlockBytes)
            found = transparentTexel(piece.data() + at);
        offset += count;
    }
    return true;
}

bool scanForTransparency(ArchiveInput& input, const RecordInfo& info, bool& found, std::string& why) {
    std::vector<std::uint8_t> piece;
    found = false;
    for (std::uint32_t level = 0; level < info.levelOffsets.size() && !found; ++level) {
        const std::uint64_t bytes = Layout::compressedLevelBytes(info.width, info.height, 1, level);
        if (!levelHasTransparency(input, info.levelOffsets[level], bytes, piece, found, why))
            return false;
    }
    return true;
}

}  // namespace

bool readIndex(const std::string& path, std::int64_t position,
               const std::function<bool(const RecordInfo&)>& visit, std::string& why) {
    ArchiveInput input;
    if (!input.open(path, position)) {
        why = input.reason();
        return false;
    }
    DictionaryWalk walk(input);
    // The first walk checks everything, so that no record is handed out of a dictionary that is refused.
    if (!walk.walk(nullptr)) {
        why = walk.reason();
        return false;
    }
    std::string scanFailure;
    const bool walked = walk.walk([&](const RecordInfo& checked) {
        RecordInfo info = checked;
        info.alpha = Layout::rasterHasAlpha(info.rasterFormat) || info.compression == 3 ||
                     (info.compression == 1 && info.hasAlpha != 0);
        if (info.compression == 1 && !info.alpha &&
            !scanForTransparency(input, info, info.alpha, scanFailure))
            return false;
        if (!visit(info)) {
            scanFailure = "the listing was stopped";
            return false;
        }
        return true;
    });
    if (!walked)
        why = scanFailure.empty() ? walk.reason() : scanFailure;
    return walked;
}

bool readIndex(const std::string& path, std::int64_t position, std::vector<RecordInfo>& records,
               std::string& why) {
    std::vector<RecordInfo> found;
    if (!readIndex(
            path, position,
            [&](const RecordInfo& info) {
                found.push_back(info);
                return true;
            },
            why))
        return false;
    records = std::move(found);
    return true;
}

}  // namespace TXD
