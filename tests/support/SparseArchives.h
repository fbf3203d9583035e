// Dictionary files far larger than their content: what they claim or hold is mostly a hole of a sparse
// file, costing no disk and no time to make. They show that reading costs the headers, not the length.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace SparseArchives {

inline std::string u32(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[std::size_t(i)] = static_cast<char>(value >> (8 * i));
    return bytes;
}

inline std::string chunk(std::uint32_t type, std::uint32_t size) {
    return u32(type) + u32(size) + u32(0x1803FFFF);
}

// A dictionary header stating `bytes` of dictionary after it, followed by a hole up to that length.
inline void writeClaimOnly(const std::string& path, std::uint64_t bytes) {
    std::filesystem::remove(path);
    {
        std::ofstream out(path, std::ios::binary);
        out << chunk(0x16, static_cast<std::uint32_t>(bytes - 12));
    }
    std::filesystem::resize_file(path, bytes);
}

inline std::uint32_t dxt1LevelBytes(std::uint32_t side, std::uint32_t level) {
    const std::uint32_t blocks = std::max(1u, (side >> level) / 4);
    return blocks * blocks * 8;
}

// `records` DXT1 records of side x side with their whole mip chains (platform 9), every block a hole:
// opaque black, as zeros decode. Returns the bytes of one record's level data.
inline std::uint64_t writeDxt1Holes(const std::string& path, std::uint32_t records, std::uint32_t side) {
    std::uint32_t levels = 0;
    while ((side >> levels) > 0)
        ++levels;
    std::uint32_t structSize = 88;
    std::uint64_t data = 0;
    for (std::uint32_t level = 0; level < levels; ++level) {
        structSize += 4 + dxt1LevelBytes(side, level);
        data += dxt1LevelBytes(side, level);
    }
    std::filesystem::remove(path);
    std::ofstream out(path, std::ios::binary);
    out << chunk(0x16, 12 + 4 + records * (12 + 12 + structSize + 12) + 12) << chunk(0x01, 4) << u32(records);
    for (std::uint32_t r = 0; r < records; ++r) {
        out << chunk(0x15, structSize + 24) << chunk(0x01, structSize);
        std::string native(88, '\0');
        native.replace(0, 4, u32(9));
        const std::string name = "giant" + std::to_string(r);
        native.replace(8, name.size(), name);
        native.replace(72, 4, u32(0x200));
        native.replace(76, 4, u32(0x31545844));  // "DXT1"
        native.replace(80, 4, u32(side | side << 16));
        native[84] = 16, native[85] = static_cast<char>(levels), native[86] = 4, native[87] = 8;
        out << native;
        for (std::uint32_t level = 0; level < levels; ++level) {
            out << u32(dxt1LevelBytes(side, level));
            out.seekp(dxt1LevelBytes(side, level), std::ios::cur);
        }
        out << chunk(0x03, 0);
    }
    out << chunk(0x03, 0);
    return data;
}

}  // namespace SparseArchives
