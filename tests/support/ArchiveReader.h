// A test-side reader of written texture dictionaries. It parses the file from the format's own
// description with literal offsets, independent of the writer's layout constants, and checks every
// size field against what actually follows, so a round trip proves the writer and not itself.
#pragma once

#include <gtest/gtest.h>
#include <squish.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/ImageFiles.h"

namespace ArchiveReader {

using Bytes = std::vector<std::uint8_t>;

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::uint32_t u32(const Bytes& bytes, std::size_t at) {
    return bytes.at(at) | (bytes.at(at + 1) << 8) | (bytes.at(at + 2) << 16) |
           (std::uint32_t(bytes.at(at + 3)) << 24);
}

struct Texture {
    std::size_t headerOffset = 0;  // file offset of the 88-byte native header
    std::uint32_t platform = 0, rasterFormat = 0, formatCode = 0, structSize = 0;
    Bytes nameField, maskNameField;  // the raw 32-byte fields
    std::int16_t width = 0, height = 0;
    std::uint8_t depth = 0, levelCount = 0, rasterType = 0, flags = 0;
    Bytes palette;              // depth 8 only: 1024 bytes
    std::vector<Bytes> levels;  // depth 16: every level; others: the one data block
};

struct Archive {
    std::uint32_t stamp = 0, dictionarySize = 0, count = 0;
    std::vector<Texture> textures;
    std::size_t end = 0;  // file offset just past the closing extension
};

// Parses the archive that starts at `offset`. Returns an empty text on success, else what was wrong.
inline std::string parse(const Bytes& bytes, std::size_t offset, Archive& archive) {
    std::size_t at = offset;
    auto need = [&](std::size_t count) { return at + count <= bytes.size(); };
    auto take = [&](std::size_t count) {
        Bytes out(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + count));
        at += count;
        return out;
    };
    // A chunk header of the given type and the archive's stamp; its size goes to `size`.
    auto header = [&](std::uint32_t type, std::uint32_t& size) {
        if (!need(12) || u32(bytes, at) != type || u32(bytes, at + 8) != archive.stamp)
            return false;
        size = u32(bytes, at + 4);
        at += 12;
        return true;
    };
    auto emptyExtension = [&] {
        std::uint32_t size = 1;
        return header(0x03, size) && size == 0;
    };
    if (!need(12))
        return "no dictionary header";
    archive.stamp = u32(bytes, at + 8);
    std::uint32_t size = 0;
    if (!header(0x16, archive.dictionarySize))
        return "bad dictionary header";
    const std::size_t dictionaryEnd = at + archive.dictionarySize;
    if (!header(0x01, size) || size != 4 || !need(4))
        return "bad texture count struct";
    archive.count = u32(bytes, at);
    at += 4;

    for (std::uint32_t t = 0; t < archive.count; ++t) {
        Texture texture;
        std::uint32_t nativeSize = 0;
        if (!header(0x15, nativeSize))
            return "bad texture native header at " + std::to_string(at);
        const std::size_t nativeEnd = at + nativeSize;
        if (!header(0x01, texture.structSize) || !need(88))
            return "bad texture struct at " + std::to_string(at);
        const std::size_t structEnd = at + texture.structSize;
        texture.headerOffset = at;
        const Bytes h = take(88);
        texture.platform = u32(h, 0);
        texture.nameField.assign(h.begin() + 8, h.begin() + 40);
        texture.maskNameField.assign(h.begin() + 40, h.begin() + 72);
        texture.rasterFormat = u32(h, 72);
        texture.formatCode = u32(h, 76);
        texture.width = std::int16_t(h[80] | h[81] << 8);
        texture.height = std::int16_t(h[82] | h[83] << 8);
        texture.depth = h[84];
        texture.levelCount = h[85];
        texture.rasterType = h[86];
        texture.flags = h[87];
        if (texture.depth == 8) {
            if (!need(1024))
                return "truncated palette";
            texture.palette = take(1024);
        }
        for (int level = 0; level < (texture.depth == 16 ? texture.levelCount : 1); ++level) {
            if (!need(4) || !need(4 + std::size_t(u32(bytes, at))))
                return "data runs past the file at " + std::to_string(at);
            at += 4;
            texture.levels.push_back(take(u32(bytes, at - 4)));
        }
        if (at != structEnd)
            return "struct size disagrees with its content at " + std::to_string(at);
        if (!emptyExtension())
            return "bad texture extension at " + std::to_string(at);
        if (at != nativeEnd || nativeSize != texture.structSize + 24)
            return "texture native size disagrees";
        archive.textures.push_back(std::move(texture));
    }
    if (!emptyExtension())
        return "bad closing extension";
    if (at != dictionaryEnd)
        return "dictionary size disagrees with its content";
    archive.end = at;
    return "";
}

inline std::string text(const Bytes& field) {
    return std::string(field.begin(), std::find(field.begin(), field.end(), 0));
}

// The one texture of the archive file at `path`.
inline Texture onlyTexture(const std::string& path) {
    Archive archive;
    EXPECT_EQ(parse(readFile(path), 0, archive), "") << path;
    EXPECT_EQ(archive.count, 1u) << path;
    return archive.textures.empty() ? Texture{} : archive.textures[0];
}

inline std::string fourCC(const Texture& texture) {
    return std::string(reinterpret_cast<const char*>(&texture.formatCode), 4);
}

// Level 0 of a DXT1 or DXT3 texture, decoded by libsquish.
inline Rgba decodeLevel0(const Texture& texture) {
    const std::uint32_t width = std::uint32_t(texture.width), height = std::uint32_t(texture.height);
    Rgba image{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    if (!texture.levels.empty())
        squish::DecompressImage(image.pixels.data(), int(width), int(height), texture.levels[0].data(),
                                fourCC(texture) == "DXT1" ? squish::kDxt1 : squish::kDxt3);
    return image;
}

}  // namespace ArchiveReader
