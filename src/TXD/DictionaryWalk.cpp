#include "TXD/DictionaryWalk.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Common/MessageLog.h"
#include "TXD/ArchiveLayout.h"
#include "TXD/TXDArchive.h"

namespace TXD {
namespace {

// The smallest texture native chunk: its header, the struct header, the native header, one size
// field and the extension header. Bounds the texture count against the room that follows it.
constexpr std::uint64_t kMinNativeChunkBytes =
    3 * Layout::kChunkHeaderBytes + Layout::kNativeHeaderBytes + Layout::kDataSizeBytes;

// The uncompressed record kinds the writer makes, by depth and raster format.
struct UncompressedKind {
    std::uint8_t depth;
    std::uint32_t rasterFormat;
};
constexpr UncompressedKind kUncompressedKinds[] = {
    {32, Layout::kRaster8888},
    {32, Layout::kRaster888},
    {8, Layout::kRasterPalette8 | Layout::kRaster8888},
    {8, Layout::kRasterPalette8 | Layout::kRaster888},
};

std::string nameFrom(const std::uint8_t* field) {
    const void* zero = std::memchr(field, 0, Layout::kNameBytes);
    std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - field) : Layout::kNameBytes;
    return std::string(reinterpret_cast<const char*>(field), length);
}

}  // namespace

bool DictionaryWalk::fail(const char* format, ...) {
    char text[MessageLog::kBufferSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    why = text;
    return false;
}

bool DictionaryWalk::need(std::uint64_t bytes, std::uint64_t end, const char* what) {
    if (bytes <= end - at)
        return true;
    return fail("%s at offset %llu needs %llu bytes, %llu are left in its chunk", what,
                static_cast<unsigned long long>(at), static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(end - at));
}

bool DictionaryWalk::readU32(std::uint32_t& value) {
    std::uint8_t bytes[4];
    if (!input.read(at, bytes, sizeof bytes)) {
        why = input.reason();
        return false;
    }
    value = Layout::getU32(bytes);
    at += 4;
    return true;
}

// A header of `type` carrying the dictionary's stamp, whose body ends within `end`.
bool DictionaryWalk::chunkHeader(std::uint32_t type, std::uint32_t& size, std::uint64_t end) {
    if (!need(Layout::kChunkHeaderBytes, end, "chunk header"))
        return false;
    std::uint8_t header[Layout::kChunkHeaderBytes];
    if (!input.read(at, header, sizeof header)) {
        why = input.reason();
        return false;
    }
    const std::uint32_t found = Layout::getU32(header + Layout::kChunkType.offset);
    const std::uint32_t foundStamp = Layout::getU32(header + Layout::kChunkStamp.offset);
    const auto offset = static_cast<unsigned long long>(at);
    if (found != type)
        return fail("chunk at offset %llu has type 0x%X where 0x%X belongs", offset, found, type);
    if (foundStamp != input.stamp())
        return fail("chunk at offset %llu has version 0x%08X, the dictionary 0x%08X", offset, foundStamp,
                    input.stamp());
    size = Layout::getU32(header + Layout::kChunkSize.offset);
    at += Layout::kChunkHeaderBytes;
    if (size > end - at)
        return fail("chunk at offset %llu states %u bytes, %llu are left", offset, size,
                    static_cast<unsigned long long>(end - at));
    return true;
}

bool DictionaryWalk::walk(const std::function<bool(const RecordInfo&)>& visit) {
    why.clear();
    at = input.start();
    const std::uint64_t end = input.end();
    std::uint32_t dictionarySize = 0;
    if (!chunkHeader(Layout::kChunkTextureDictionary, dictionarySize, end))
        return false;

    std::uint32_t countSize = 0;
    if (!chunkHeader(Layout::kChunkStruct, countSize, end))
        return false;
    if (countSize != Layout::kTextureCountBytes)
        return fail("texture count struct at offset %llu holds %u bytes, not 4",
                    static_cast<unsigned long long>(at - Layout::kChunkHeaderBytes), countSize);
    if (!readU32(count))
        return false;
    const std::uint64_t room =
        end - at < Layout::kChunkHeaderBytes ? 0 : end - at - Layout::kChunkHeaderBytes;
    if (count > room / kMinNativeChunkBytes)
        return fail("%u textures cannot fit in the %llu bytes of the dictionary that follow", count,
                    static_cast<unsigned long long>(room));

    for (std::uint32_t index = 0; index < count; ++index) {
        RecordInfo info;
        if (!record(index, end, info))
            return false;
        if (visit && !visit(info))
            return false;
    }
    std::uint32_t extensionSize = 0;
    if (!chunkHeader(Layout::kChunkExtension, extensionSize, end))
        return false;
    if (extensionSize != 0)
        return fail("the dictionary's extension holds %u bytes; only empty extensions are read",
                    extensionSize);
    if (at != end)
        return fail("%llu bytes follow the dictionary's extension inside the dictionary",
                    static_cast<unsigned long long>(end - at));
    return true;
}

// The record's chunks and every size in them, checked before its data is handed out: the pixel data
// must end exactly where its struct does, and an empty extension must close the chunk there.
bool DictionaryWalk::record(std::uint32_t index, std::uint64_t end, RecordInfo& info) {
    std::uint32_t nativeSize = 0;
    std::uint32_t structSize = 0;
    if (!chunkHeader(Layout::kChunkTextureNative, nativeSize, end))
        return false;
    const std::uint64_t nativeEnd = at + nativeSize;
    if (!chunkHeader(Layout::kChunkStruct, structSize, nativeEnd))
        return false;
    if (std::uint64_t{structSize} + 2 * Layout::kChunkHeaderBytes != nativeSize)
        return fail("texture %u: native chunk size %u is not its struct size %u + 24", index, nativeSize,
                    structSize);
    const std::uint64_t structEnd = at + structSize;
    if (!need(Layout::kNativeHeaderBytes, structEnd, "native texture header"))
        return false;
    if (!nativeHeader(index, info) || !pixelData(index, structEnd, info))
        return false;
    if (at != structEnd)
        return fail("texture %u: %llu bytes follow its pixel data inside its struct", index,
                    static_cast<unsigned long long>(structEnd - at));

    std::uint32_t extensionSize = 0;
    if (!chunkHeader(Layout::kChunkExtension, extensionSize, nativeEnd))
        return false;
    if (extensionSize != 0)
        return fail("texture %u: its extension holds %u bytes; only empty extensions are read", index,
                    extensionSize);
    return true;
}

bool DictionaryWalk::nativeHeader(std::uint32_t index, RecordInfo& info) {
    std::uint8_t header[Layout::kNativeHeaderBytes];
    if (!input.read(at, header, sizeof header)) {
        why = input.reason();
        return false;
    }
    at += Layout::kNativeHeaderBytes;
    const std::uint32_t stamp = input.stamp();
    const bool platform9 = stamp == TXDArchive::kPlatform9Version;
    const std::uint32_t platform = Layout::getU32(header + Layout::kPlatform.offset);
    const std::uint32_t code = Layout::getU32(header + Layout::kFormatCode.offset);
    const std::uint8_t flags = header[Layout::kFlags.offset];
    const std::uint8_t rasterType = header[Layout::kRasterTypeField.offset];

    if (platform != (platform9 ? Layout::kPlatform9 : Layout::kPlatform8))
        return fail("texture %u: platform %u does not belong to version 0x%08X", index, platform, stamp);
    if (rasterType != Layout::kRasterType)
        return fail("texture %u: raster type %u is not a texture", index, rasterType);

    info.filterFlags = Layout::getU16(header + Layout::kFilterFlags.offset);
    info.filterByte2 = header[Layout::kFilterByte2.offset];
    info.filterByte3 = header[Layout::kFilterByte3.offset];
    info.name = nameFrom(header + Layout::kName.offset);
    info.maskName = nameFrom(header + Layout::kMaskName.offset);
    info.rasterFormat = Layout::getU32(header + Layout::kRasterFormat.offset);
    info.width = static_cast<std::int16_t>(Layout::getU16(header + Layout::kWidth.offset));
    info.height = static_cast<std::int16_t>(Layout::getU16(header + Layout::kHeight.offset));
    info.depth = header[Layout::kDepth.offset];
    info.mipLevels = header[Layout::kLevelCount.offset];

    if (info.width < 1 || info.height < 1 || info.width > Layout::kMaxSide ||
        info.height > Layout::kMaxSide) {
        return fail("texture %u: size %dx%d is outside 1 to %d", index, info.width, info.height,
                    Layout::kMaxSide);
    }
    const std::int32_t chain = calculateMipLevels(info.width, info.height);
    if (info.mipLevels < 1 || info.mipLevels > chain)
        return fail("texture %u: %u levels do not fit a %dx%d texture (1 to %d)", index, info.mipLevels,
                    info.width, info.height, chain);

    if (platform9) {
        info.compression = code == Layout::kFourCCDxt1 ? 1 : code == Layout::kFourCCDxt3 ? 3 : 0;
        // DXT1 states its alpha in the flags byte; the other kinds' alpha follows from the raster.
        if (info.compression == 1)
            info.hasAlpha = (flags & Layout::kFlagAlpha) ? 1 : 0;
        else
            info.hasAlpha = Layout::rasterHasAlpha(info.rasterFormat) ? 1 : 0;
    } else {
        if (code > 1)
            return fail("texture %u: alpha word %u is neither 0 nor 1", index, code);
        info.compression = flags;
        info.hasAlpha = static_cast<std::int32_t>(code);
    }

    if (info.depth == 16) {
        if (info.compression != 1 && info.compression != 3)
            return fail("texture %u: depth 16 without DXT1 or DXT3 data (compression %u)", index,
                        info.compression);
    } else {
        bool known = false;
        for (const UncompressedKind& kind : kUncompressedKinds)
            known = known || (kind.depth == info.depth && kind.rasterFormat == info.rasterFormat &&
                              info.compression == 0);
        if (!known)
            return fail(
                "texture %u: depth %u with raster format 0x%X and compression %u is not a kind this "
                "archive holds",
                index, info.depth, info.rasterFormat, info.compression);
    }

    if (platform9) {
        const Layout::FormatWord expected =
            Layout::platform9Format(info.compression, info.rasterFormat, info.hasAlpha != 0);
        if (expected.code != code || expected.flags != flags)
            return fail("texture %u: format code 0x%08X and flags 0x%02X do not match raster format 0x%X",
                        index, code, flags, info.rasterFormat);
    }
    return true;
}

// Where each level's bytes lie: every size field must state exactly what the header's sizes take, and
// the bytes must be inside the struct; none of them is read here.
bool DictionaryWalk::pixelData(std::uint32_t index, std::uint64_t end, RecordInfo& info) {
    std::uint32_t stated = 0;
    if (info.depth == 16) {
        for (std::uint32_t level = 0; level < info.mipLevels; ++level) {
            if (!need(Layout::kDataSizeBytes, end, "level size") || !readU32(stated))
                return false;
            const std::uint32_t expected =
                Layout::compressedLevelBytes(info.width, info.height, info.compression, level);
            if (stated != expected)
                return fail("texture %u: level %u states %u bytes where its %ux%u blocks take %u", index,
                            level, stated, Layout::levelSide(info.width, level),
                            Layout::levelSide(info.height, level), expected);
            if (!need(stated, end, "level data"))
                return false;
            info.levelOffsets.push_back(at);
            info.dataBytes += stated;
            at += stated;
        }
        return true;
    }
    const std::uint64_t pixels =
        std::uint64_t{static_cast<std::uint32_t>(info.width)} * static_cast<std::uint32_t>(info.height);
    if (info.depth == 8) {
        if (!need(Layout::kPaletteBytes + Layout::kDataSizeBytes, end, "palette"))
            return false;
        info.paletteOffset = at;
        at += Layout::kPaletteBytes;
        if (!readU32(stated))
            return false;
        if (stated != pixels)
            return fail("texture %u: index data states %u bytes where %dx%d pixels take %llu", index, stated,
                        info.width, info.height, static_cast<unsigned long long>(pixels));
        if (!need(stated, end, "index data"))
            return false;
        info.dataBytes = Layout::kPaletteBytes + stated;
    } else {
        if (!need(Layout::kDataSizeBytes, end, "pixel data size") || !readU32(stated))
            return false;
        const std::uint64_t expected = pixels * Layout::uncompressedPixelBytes(info.rasterFormat);
        if (stated != expected)
            return fail("texture %u: pixel data states %u bytes where %dx%d pixels take %llu", index, stated,
                        info.width, info.height, static_cast<unsigned long long>(expected));
        if (!need(stated, end, "pixel data"))
            return false;
        info.dataBytes = stated;
    }
    info.levelOffsets.push_back(at);
    at += stated;
    return true;
}

}  // namespace TXD
