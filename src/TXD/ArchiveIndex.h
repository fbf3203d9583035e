// What a dictionary file holds, record by record, without reading its pixels: each record's header
// values and where its data lies in the file. The whole dictionary is checked exactly as a load checks
// it (every chunk against its parent and its neighbours, every size against the file) before the first
// record is handed out, so a listing and a load accept the same files. The cost is the records'
// headers, not the file's length: a listing of any dictionary, however large, holds one record at a
// time, a read-ahead window of 64 KiB and, to find a DXT1 record's alpha, a piece of its blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace TXD {

struct RecordInfo {
    std::string name;
    std::string maskName;
    std::uint32_t rasterFormat = 0;
    std::uint8_t depth = 0;        // bits per pixel: 16 (DXT1, DXT3), 32 or 8 (palettised)
    std::uint8_t compression = 0;  // 1 for DXT1, 3 for DXT3, 0 for uncompressed pixels
    std::int16_t width = 0;        // level 0
    std::int16_t height = 0;
    std::uint8_t mipLevels = 0;  // as the record states; only DXT records store more than level 0
    std::uint16_t filterFlags = 0;
    std::uint8_t filterByte2 = 0;
    std::uint8_t filterByte3 = 0;
    // The header's own alpha value, as TextureRecord::hasAlpha holds it: platform 9's flags bit for
    // DXT1 and the raster format for the others, platform 8's alpha word.
    std::int32_t hasAlpha = 0;
    // Whether the stored pixels carry alpha: the raster format has it (1555, 4444, 8888 and their
    // palette forms), DXT3, or DXT1 whose header says so or whose blocks hold a transparent texel
    // (a block in three-colour mode, colour 0 <= colour 1, using index 3). Found by readIndex.
    bool alpha = false;
    // Bytes of pixel data in the file: every level's blocks, the pixels, or palette and indices
    // (the size fields not counted).
    std::uint64_t dataBytes = 0;
    // File offset of each stored level's bytes (after its size field): every level of a DXT record,
    // level 0 of the others; for a palettised record, its indices.
    std::vector<std::uint64_t> levelOffsets;
    std::uint64_t paletteOffset = 0;  // palettised records: the 1024-byte palette
};

// Checks the dictionary at `position` in the file, then hands each record to `visit` in order, with
// `alpha` found (a DXT1 record without alpha in its header has its blocks scanned, in pieces of
// 256 KiB, up to the first transparent texel; holes of a sparse file are passed over unread, as their
// zeros are opaque blocks). `visit` may stop the walk by returning false. False with
// `why` when the file is no valid dictionary (no record was handed out then), cannot be read, or the
// walk was stopped.
bool readIndex(const std::string& path, std::int64_t position,
               const std::function<bool(const RecordInfo&)>& visit, std::string& why);
// The same into a list, one entry per record. For archives of unbounded record counts, the form above
// keeps one at a time.
bool readIndex(const std::string& path, std::int64_t position, std::vector<RecordInfo>& records,
               std::string& why);

}  // namespace TXD
