// The on-disk layout of a texture dictionary file, kept in one place: chunk types, the 12-byte chunk
// header, the 88-byte native texture header and the little-endian encoders that fill them. Every
// multi-byte field is little-endian and no field is padded or aligned.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TXD {
namespace Layout {

// Chunk types of the stream. A dictionary holds one struct (the texture count), one texture native
// chunk per saved record and a closing extension; a texture native chunk holds one struct (native
// header and pixels) and an extension. Extensions are always empty in this file.
constexpr std::uint32_t kChunkStruct = 0x01;
constexpr std::uint32_t kChunkExtension = 0x03;
constexpr std::uint32_t kChunkTextureNative = 0x15;
constexpr std::uint32_t kChunkTextureDictionary = 0x16;

struct Field {
    std::size_t offset;
    std::size_t size;
};

constexpr bool follows(Field before, Field after) {
    return before.offset + before.size == after.offset;
}

// Chunk header.
constexpr Field kChunkType{0, 4};   // one of the kChunk* values
constexpr Field kChunkSize{4, 4};   // bytes of the body: all that follows the header, nested chunks too
constexpr Field kChunkStamp{8, 4};  // the archive's version, identical in every header of a file
constexpr std::size_t kChunkHeaderBytes = 12;
static_assert(kChunkType.offset == 0 && follows(kChunkType, kChunkSize) && follows(kChunkSize, kChunkStamp) &&
                  kChunkStamp.offset + kChunkStamp.size == kChunkHeaderBytes,
              "chunk header fields must tile its 12 bytes");

// The dictionary's struct body is only the count of saved textures.
constexpr std::size_t kTextureCountBytes = 4;

// Native texture header, the first 88 bytes of a texture's struct body. The two platforms share it
// except at the platform word, the word at 76 and the byte at 87.
constexpr std::uint32_t kPlatform9 = 9;  // written for version 0x1803FFFF
constexpr std::uint32_t kPlatform8 = 8;  // written for every other version
constexpr std::uint8_t kRasterType = 4;  // "texture" raster; the only kind a dictionary holds
constexpr std::size_t kNameBytes = 32;   // names are cut here; shorter ones end in zero bytes

constexpr Field kPlatform{0, 4};            // kPlatform9 or kPlatform8
constexpr Field kFilterFlags{4, 2};         // filter word bytes 0-1
constexpr Field kFilterByte2{6, 1};         // filter word byte 2
constexpr Field kFilterByte3{7, 1};         // filter word byte 3
constexpr Field kName{8, kNameBytes};       // texture name
constexpr Field kMaskName{40, kNameBytes};  // mask (alpha) name
constexpr Field kRasterFormat{72, 4};       // raster format flags
constexpr Field kFormatCode{76,
                            4};  // platform 9: "DXT1"/"DXT3" or a D3D format number; platform 8: has alpha
constexpr Field kWidth{80, 2};   // signed
constexpr Field kHeight{82, 2};  // signed
constexpr Field kDepth{84, 1};   // bits per pixel: 8, 16 or 32
constexpr Field kLevelCount{85, 1};       // mip levels that follow (depth 16), or as stated (others)
constexpr Field kRasterTypeField{86, 1};  // always kRasterType
constexpr Field kFlags{87, 1};            // platform 9: flags byte; platform 8: raw compression
constexpr std::size_t kNativeHeaderBytes = 88;
static_assert(kPlatform.offset == 0 && follows(kPlatform, kFilterFlags) &&
                  follows(kFilterFlags, kFilterByte2) && follows(kFilterByte2, kFilterByte3) &&
                  follows(kFilterByte3, kName) && follows(kName, kMaskName) &&
                  follows(kMaskName, kRasterFormat) && follows(kRasterFormat, kFormatCode) &&
                  follows(kFormatCode, kWidth) && follows(kWidth, kHeight) && follows(kHeight, kDepth) &&
                  follows(kDepth, kLevelCount) && follows(kLevelCount, kRasterTypeField) &&
                  follows(kRasterTypeField, kFlags) && kFlags.offset + kFlags.size == kNativeHeaderBytes,
              "native header fields must tile its 88 bytes");

// Platform 9 flags byte: bit 0 says the pixels carry alpha, bit 3 that they are block-compressed.
constexpr std::uint8_t kFlagAlpha = 0x01;
constexpr std::uint8_t kFlagCompressed = 0x08;

// Raster format bits that decide the pixel layout.
constexpr std::uint32_t kRasterPixelMask = 0x0F00;
constexpr std::uint32_t kRaster1555 = 0x0100;
constexpr std::uint32_t kRaster4444 = 0x0300;
constexpr std::uint32_t kRaster8888 = 0x0500;
constexpr std::uint32_t kRaster888 = 0x0600;
constexpr std::uint32_t kRasterPalette8 = 0x2000;
// Either bit makes a 32-bit record's pixels 4 bytes wide; without them they are 3 bytes wide.
constexpr std::uint32_t kRasterFourByteBits = 0x0100 | 0x0400;

// Platform 9 format numbers of uncompressed records (the D3D format the pixels correspond to).
constexpr std::uint32_t kD3DFormatA8R8G8B8 = 21;
constexpr std::uint32_t kD3DFormatX8R8G8B8 = 22;
constexpr std::uint32_t kD3DFormatP8 = 41;

// Pixel data of a depth 8 record: the palette, then a 4-byte index count, then one byte per pixel.
constexpr std::size_t kPaletteEntries = 256;
constexpr std::size_t kPaletteEntryBytes = 4;  // red, green, blue, alpha
constexpr std::size_t kPaletteBytes = kPaletteEntries * kPaletteEntryBytes;
static_assert(kPaletteBytes == 1024, "a palette is 256 four-byte entries");

// Every block of pixel data is preceded by its byte count.
constexpr std::size_t kDataSizeBytes = 4;

// DXT block sizes by compression value: 1 is DXT1, anything else is treated as DXT3.
constexpr std::uint32_t kDxt1BlockBytes = 8;
constexpr std::uint32_t kDxt3BlockBytes = 16;

// Platform 9 format codes of block-compressed records: FourCCs, written low byte first.
constexpr std::uint32_t kFourCCDxt1 = 0x31545844;  // "DXT1"
constexpr std::uint32_t kFourCCDxt3 = 0x33545844;  // "DXT3"

// Largest side a record may state; larger sides are refused before anything is allocated.
constexpr std::int32_t kMaxSide = 16384;

inline bool rasterHasAlpha(std::uint32_t rasterFormat) {
    std::uint32_t pixel = rasterFormat & kRasterPixelMask;
    return pixel == kRaster8888 || pixel == kRaster1555 || pixel == kRaster4444;
}

// Bytes per pixel of a 32-bit record's data.
inline std::uint32_t uncompressedPixelBytes(std::uint32_t rasterFormat) {
    return (rasterFormat & kRasterFourByteBits) ? 4 : 3;
}

// The word at 76 and the byte at 87 of a platform 9 header: derived from the record, never stored in
// it, so a reader must find exactly these values for the record to be written back unchanged. A DXT1
// record states its alpha (`hasAlpha`) in the flags; the other kinds' flags follow from the raster.
struct FormatWord {
    std::uint32_t code;
    std::uint8_t flags;
};

inline FormatWord platform9Format(std::uint8_t compression, std::uint32_t rasterFormat, bool hasAlpha) {
    if (compression == 1)
        return {kFourCCDxt1, static_cast<std::uint8_t>(kFlagCompressed | (hasAlpha ? kFlagAlpha : 0))};
    if (compression != 0)
        return {kFourCCDxt3, kFlagCompressed | kFlagAlpha};
    std::uint32_t code = 0;  // no record this tool makes gets 0
    if (rasterFormat & kRasterPalette8)
        code = kD3DFormatP8;
    else if ((rasterFormat & kRasterPixelMask) == kRaster8888)
        code = kD3DFormatA8R8G8B8;
    else if ((rasterFormat & kRasterPixelMask) == kRaster888)
        code = kD3DFormatX8R8G8B8;
    return {code, static_cast<std::uint8_t>(rasterHasAlpha(rasterFormat) ? kFlagAlpha : 0)};
}

// One side of mip level `level`, never below 1. A 16-bit side has nothing left after 16 halvings,
// and stopping there keeps the shift within the type for any level count.
inline std::uint32_t levelSide(std::int32_t side, std::uint32_t level) {
    std::int32_t reduced = level < 16 ? side >> level : 0;
    return reduced < 1 ? 1 : static_cast<std::uint32_t>(reduced);
}

// Bytes of one block-compressed level: whole 4x4 blocks, at least one.
inline std::uint32_t compressedLevelBytes(std::int32_t width, std::int32_t height, std::uint8_t compression,
                                          std::uint32_t level) {
    std::uint32_t across = (levelSide(width, level) + 3) / 4;
    std::uint32_t down = (levelSide(height, level) + 3) / 4;
    return across * down * (compression == 1 ? kDxt1BlockBytes : kDxt3BlockBytes);
}

inline void putU8(std::uint8_t* at, std::uint8_t value) {
    at[0] = value;
}

inline void putU16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void putU32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
}

inline std::uint16_t getU16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t getU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

}  // namespace Layout
}  // namespace TXD
