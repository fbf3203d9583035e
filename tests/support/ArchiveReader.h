// A test-side reader of written texture dictionaries. It parses the file from the format's own
// description with literal offsets, independent of the writer's layout constants, and checks every
// size field against what actually follows, so a round trip proves the writer and not itself.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ArchiveReader {

using Bytes = std::vector<std::uint8_t>;

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::uint32_t u32(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes.at(at)) | (static_cast<std::uint32_t>(bytes.at(at + 1)) << 8) |
           (static_cast<std::uint32_t>(bytes.at(at + 2)) << 16) |
           (static_cast<std::uint32_t>(bytes.at(at + 3)) << 24);
}

inline std::uint16_t u16(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes.at(at) | (bytes.at(at + 1) << 8));
}

struct Texture {
    std::size_t headerOffset = 0;  // file offset of the 88-byte native header
    std::uint32_t platform = 0;
    std::uint16_t filterFlags = 0;
    std::uint8_t filterByte2 = 0, filterByte3 = 0;
    Bytes nameField, maskNameField;  // the raw 32-byte fields
    std::uint32_t rasterFormat = 0, formatCode = 0;
    std::int16_t width = 0, height = 0;
    std::uint8_t depth = 0, levelCount = 0, rasterType = 0, flags = 0;
    std::uint32_t structSize = 0;
    Bytes palette;              // depth 8 only: 1024 bytes
    std::vector<Bytes> levels;  // depth 16: every level; others: the one data block
};

struct Archive {
    std::uint32_t stamp = 0;
    std::uint32_t dictionarySize = 0;
    std::uint32_t count = 0;
    std::vector<Texture> textures;
    std::size_t end = 0;  // file offset just past the closing extension
};

// Parses the archive that starts at `offset`. Returns an empty text on success, else what was wrong.
inline std::string parse(const Bytes& bytes, std::size_t offset, Archive& archive) {
    std::size_t at = offset;
    auto need = [&](std::size_t count) { return at + count <= bytes.size(); };
    auto header = [&](std::uint32_t type, std::uint32_t& size) -> std::string {
        if (!need(12))
            return "truncated chunk header at " + std::to_string(at);
        if (u32(bytes, at) != type)
            return "chunk type " + std::to_string(u32(bytes, at)) + " at " + std::to_string(at);
        if (u32(bytes, at + 8) != archive.stamp)
            return "stamp differs at " + std::to_string(at);
        size = u32(bytes, at + 4);
        at += 12;
        return "";
    };
    auto block = [&](Bytes& into) -> std::string {
        if (!need(4))
            return "truncated data size at " + std::to_string(at);
        std::uint32_t size = u32(bytes, at);
        at += 4;
        if (!need(size))
            return "data runs past the file at " + std::to_string(at);
        into.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
        return "";
    };

    if (!need(12))
        return "no dictionary header";
    archive.stamp = u32(bytes, at + 8);
    std::string error;
    if (!(error = header(0x16, archive.dictionarySize)).empty())
        return error;
    const std::size_t dictionaryEnd = at + archive.dictionarySize;
    std::uint32_t size = 0;
    if (!(error = header(0x01, size)).empty())
        return error;
    if (size != 4 || !need(4))
        return "bad texture count struct";
    archive.count = u32(bytes, at);
    at += 4;

    for (std::uint32_t t = 0; t < archive.count; ++t) {
        Texture texture;
        std::uint32_t nativeSize = 0;
        if (!(error = header(0x15, nativeSize)).empty())
            return error;
        const std::size_t nativeEnd = at + nativeSize;
        if (!(error = header(0x01, texture.structSize)).empty())
            return error;
        const std::size_t structEnd = at + texture.structSize;
        if (!need(88))
            return "truncated native header";
        texture.headerOffset = at;
        texture.platform = u32(bytes, at);
        texture.filterFlags = u16(bytes, at + 4);
        texture.filterByte2 = bytes[at + 6];
        texture.filterByte3 = bytes[at + 7];
        texture.nameField.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(at + 40));
        texture.maskNameField.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + 40),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(at + 72));
        texture.rasterFormat = u32(bytes, at + 72);
        texture.formatCode = u32(bytes, at + 76);
        texture.width = static_cast<std::int16_t>(u16(bytes, at + 80));
        texture.height = static_cast<std::int16_t>(u16(bytes, at + 82));
        texture.depth = bytes[at + 84];
        texture.levelCount = bytes[at + 85];
        texture.rasterType = bytes[at + 86];
        texture.flags = bytes[at + 87];
        at += 88;

        int blocks = texture.depth == 16 ? texture.levelCount : 1;
        if (texture.depth == 8) {
            if (!need(1024))
                return "truncated palette";
            texture.palette.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(at + 1024));
            at += 1024;
        }
        for (int level = 0; level < blocks; ++level) {
            texture.levels.emplace_back();
            if (!(error = block(texture.levels.back())).empty())
                return error;
        }
        if (at != structEnd)
            return "struct size disagrees with its content at " + std::to_string(at);
        std::uint32_t extension = 0;
        if (!(error = header(0x03, extension)).empty())
            return error;
        if (extension != 0)
            return "non-empty texture extension";
        if (at != nativeEnd || nativeSize != texture.structSize + 24)
            return "texture native size disagrees";
        archive.textures.push_back(std::move(texture));
    }
    std::uint32_t extension = 0;
    if (!(error = header(0x03, extension)).empty())
        return error;
    if (extension != 0)
        return "non-empty closing extension";
    if (at != dictionaryEnd)
        return "dictionary size disagrees with its content";
    archive.end = at;
    return "";
}

inline std::string text(const Bytes& field) {
    std::string out;
    for (std::uint8_t byte : field) {
        if (byte == 0)
            break;
        out += static_cast<char>(byte);
    }
    return out;
}

}  // namespace ArchiveReader
