#include "TXD/ArchiveInput.h"

#include <algorithm>
#include <cstring>

#include "TXD/ArchiveLayout.h"

namespace TXD {
namespace {

// The read-ahead window: a few dozen small records' headers at once, and no more memory than that.
constexpr std::size_t kWindowBytes = std::size_t{64} << 10;
// A large read goes into the caller's memory in pieces of at most this many bytes.
constexpr std::size_t kPieceBytes = std::size_t{8} << 20;

}  // namespace

bool ArchiveInput::fail(const std::string& reason) {
    why = reason;
    return false;
}

bool ArchiveInput::open(const std::string& path, std::int64_t position) {
    window.clear();
    why.clear();
    if (position < 0)
        return fail("negative position " + std::to_string(position));
    if (!file.open(path))
        return fail(file.reason());
    first = static_cast<std::uint64_t>(position);
    std::uint8_t header[Layout::kChunkHeaderBytes];
    if (file.size() < first || file.size() - first < Layout::kChunkHeaderBytes ||
        !readDirect(first, header, sizeof header))
        return fail("no dictionary header at offset " + std::to_string(position));
    if (Layout::getU32(header + Layout::kChunkType.offset) != Layout::kChunkTextureDictionary)
        return fail("not a texture dictionary");
    const std::uint64_t stated = Layout::getU32(header + Layout::kChunkSize.offset);
    const std::uint64_t available = file.size() - first - Layout::kChunkHeaderBytes;
    if (stated > available) {
        return fail("the dictionary states " + std::to_string(stated) + " bytes, the file holds " +
                    std::to_string(available) + " after its header");
    }
    version = Layout::getU32(header + Layout::kChunkStamp.offset);
    last = first + Layout::kChunkHeaderBytes + stated;
    return true;
}

bool ArchiveInput::readDirect(std::uint64_t offset, std::uint8_t* into, std::size_t count) {
    while (count > 0) {
        const std::int64_t got = file.readAt(offset, into, std::min(count, kPieceBytes));
        if (got < 0)
            return fail(file.reason());
        if (got == 0)
            return fail("the file ended early at offset " + std::to_string(offset));
        into += got;
        offset += static_cast<std::uint64_t>(got);
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

bool ArchiveInput::read(std::uint64_t offset, void* into, std::size_t count) {
    auto* out = static_cast<std::uint8_t*>(into);
    const auto inWindow = [&] {
        return offset >= windowStart && offset - windowStart <= window.size() &&
               count <= window.size() - (offset - windowStart);
    };
    if (count > kWindowBytes / 2)
        return readDirect(offset, out, count);
    if (!inWindow()) {
        // Ahead from here, but never past the dictionary's end: what follows is not ours to read.
        const std::uint64_t ahead = std::max<std::uint64_t>(
            std::min<std::uint64_t>(kWindowBytes, last > offset ? last - offset : 0), count);
        window.resize(static_cast<std::size_t>(ahead));
        windowStart = offset;
        if (!readDirect(offset, window.data(), window.size())) {
            window.clear();
            return false;
        }
    }
    std::memcpy(out, window.data() + (offset - windowStart), count);
    return true;
}

}  // namespace TXD
