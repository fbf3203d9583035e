#include "TXD/ArchiveInput.h"

#include <algorithm>

#include "Platform/Files.h"
#include "TXD/ArchiveLayout.h"

namespace TXD {
namespace {

// Exactly `count` bytes, or false when the file ends or fails first.
bool readExactly(Platform::InputFile& in, std::uint8_t* into, std::uint64_t count) {
    while (count > 0) {
        const std::size_t asked = static_cast<std::size_t>(std::min<std::uint64_t>(count, 1u << 20));
        const std::int64_t got = in.read(into, asked);
        if (got <= 0)
            return false;
        into += got;
        count -= static_cast<std::uint64_t>(got);
    }
    return true;
}

// The input reads in order only, so the bytes before the dictionary are read past.
bool skip(Platform::InputFile& in, std::uint64_t count) {
    std::vector<std::uint8_t> scratch(static_cast<std::size_t>(std::min<std::uint64_t>(count, 1u << 16)));
    while (count > 0) {
        const std::uint64_t step = std::min<std::uint64_t>(count, scratch.size());
        if (!readExactly(in, scratch.data(), step))
            return false;
        count -= step;
    }
    return true;
}

}  // namespace

bool readDictionaryBytes(const std::string& path, std::int32_t position, std::vector<std::uint8_t>& bytes,
                         std::string& reason) {
    if (position < 0) {
        reason = "negative position " + std::to_string(position);
        return false;
    }
    Platform::InputFile in;
    if (!in.open(path)) {
        reason = in.reason();
        return false;
    }
    const std::uint64_t start = static_cast<std::uint64_t>(position);
    std::uint8_t header[Layout::kChunkHeaderBytes];
    if (in.size() < start || in.size() - start < Layout::kChunkHeaderBytes || !skip(in, start) ||
        !readExactly(in, header, sizeof header)) {
        reason = "no dictionary header at offset " + std::to_string(position);
        return false;
    }
    if (Layout::getU32(header + Layout::kChunkType.offset) != Layout::kChunkTextureDictionary) {
        reason = "not a texture dictionary";
        return false;
    }
    const std::uint64_t stated = Layout::getU32(header + Layout::kChunkSize.offset);
    const std::uint64_t available = in.size() - start - Layout::kChunkHeaderBytes;
    if (stated > available) {
        reason = "the dictionary states " + std::to_string(stated) + " bytes, the file holds " +
                 std::to_string(available) + " after its header";
        return false;
    }
    bytes.assign(header, header + sizeof header);
    bytes.resize(Layout::kChunkHeaderBytes + stated);
    if (!readExactly(in, bytes.data() + Layout::kChunkHeaderBytes, stated)) {
        reason = "the file ended early";
        return false;
    }
    return true;
}

}  // namespace TXD
