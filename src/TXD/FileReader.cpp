// Reading a texture dictionary file back into records, the writer's inverse. Every size and count is
// checked against the bytes that are really there and against the chunk it sits in before anything
// is allocated, so a hostile file costs no more memory than its own length. The reader accepts what
// the writer can write back unchanged: a loaded archive saves to the identical bytes. The first fault
// ends the load with its reason logged and the archive as it was.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "Common/MessageLog.h"
#include "ImageService/Direct3D/Format.h"
#include "TXD/ArchiveInput.h"
#include "TXD/ArchiveLayout.h"
#include "TXD/TXDArchive.h"

namespace TXD {
namespace {

using ImageService::D3DFORMAT;

constexpr char kSourceFile[] = "TXD\\FileReader";
constexpr char kLoadFunction[] = "TXD::TXDArchive::loadFile";

// The smallest texture native chunk: its header, the struct header, the native header, one size
// field and the extension header. Bounds the texture count before the list is reserved.
constexpr std::size_t kMinNativeChunkBytes =
    3 * Layout::kChunkHeaderBytes + Layout::kNativeHeaderBytes + Layout::kDataSizeBytes;

// The uncompressed record kinds the writer makes, by depth and raster format, with the texture
// format that holds their pixels (blue in byte 0, as the writer and the palette expect).
struct UncompressedKind {
    std::uint8_t depth;
    std::uint32_t rasterFormat;
    D3DFORMAT textureFormat;
};
constexpr UncompressedKind kUncompressedKinds[] = {
    {32, Layout::kRaster8888, ImageService::D3DFMT_A8R8G8B8},
    {32, Layout::kRaster888, ImageService::D3DFMT_X8R8G8B8},
    {8, Layout::kRasterPalette8 | Layout::kRaster8888, ImageService::D3DFMT_A8R8G8B8},
    {8, Layout::kRasterPalette8 | Layout::kRaster888, ImageService::D3DFMT_A8R8G8B8},
};

// Records whose textures are still the reader's: released unless handed to the archive.
struct LoadedRecords {
    std::vector<TextureRecord> records;
    ~LoadedRecords() {
        for (TextureRecord& record : records) {
            if (record.texture)
                record.texture->Release();
        }
    }
};

std::string nameFrom(const std::uint8_t* field) {
    const void* zero = std::memchr(field, 0, Layout::kNameBytes);
    std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - field) : Layout::kNameBytes;
    return std::string(reinterpret_cast<const char*>(field), length);
}

// One pass over the dictionary's bytes. `base` is the file offset of byte 0, for the messages.
class DictionaryReader {
public:
    DictionaryReader(const std::vector<std::uint8_t>& bytes, std::int64_t base) : bytes(bytes), base(base) {}

    bool read(LoadedRecords& loaded);
    std::uint32_t version() const { return stamp; }
    const std::string& reason() const { return why; }

private:
    bool fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
    long long offset() const { return static_cast<long long>(base) + static_cast<long long>(at); }
    bool need(std::size_t count, std::size_t end, const char* what);
    std::uint32_t takeU32() {
        std::uint32_t value = Layout::getU32(bytes.data() + at);
        at += 4;
        return value;
    }
    bool chunkHeader(std::uint32_t type, std::uint32_t& size, std::size_t end);
    bool readTexture(std::uint32_t index, std::size_t end, TextureRecord& record);
    bool readNativeHeader(std::uint32_t index, TextureRecord& record, D3DFORMAT& textureFormat);
    bool makeTexture(std::uint32_t index, TextureRecord& record, D3DFORMAT format, unsigned levels);
    bool readCompressed(std::uint32_t index, std::size_t end, TextureRecord& record, D3DFORMAT format);
    bool readUncompressed(std::uint32_t index, std::size_t end, TextureRecord& record, D3DFORMAT format);
    bool readPaletted(std::uint32_t index, std::size_t end, TextureRecord& record, D3DFORMAT format);

    const std::vector<std::uint8_t>& bytes;
    std::int64_t base;
    std::size_t at = 0;
    std::uint32_t stamp = 0;
    std::string why;
};

bool DictionaryReader::fail(const char* format, ...) {
    char text[MessageLog::kBufferSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    why = text;
    return false;
}

bool DictionaryReader::need(std::size_t count, std::size_t end, const char* what) {
    if (count <= end - at)
        return true;
    return fail("%s at offset %lld needs %zu bytes, %zu are left in its chunk", what, offset(), count,
                end - at);
}

// A header of `type` carrying the dictionary's stamp, whose body ends within `end`.
bool DictionaryReader::chunkHeader(std::uint32_t type, std::uint32_t& size, std::size_t end) {
    if (!need(Layout::kChunkHeaderBytes, end, "chunk header"))
        return false;
    const std::uint8_t* header = bytes.data() + at;
    const std::uint32_t found = Layout::getU32(header + Layout::kChunkType.offset);
    const std::uint32_t foundStamp = Layout::getU32(header + Layout::kChunkStamp.offset);
    if (found != type)
        return fail("chunk at offset %lld has type 0x%X where 0x%X belongs", offset(), found, type);
    if (foundStamp != stamp)
        return fail("chunk at offset %lld has version 0x%08X, the dictionary 0x%08X", offset(), foundStamp,
                    stamp);
    size = Layout::getU32(header + Layout::kChunkSize.offset);
    at += Layout::kChunkHeaderBytes;
    if (size > end - at)
        return fail("chunk at offset %lld states %u bytes, %zu are left", offset() - 12, size, end - at);
    return true;
}

bool DictionaryReader::read(LoadedRecords& loaded) {
    if (bytes.size() < Layout::kChunkHeaderBytes)
        return fail("no dictionary header at offset %lld", offset());
    stamp = Layout::getU32(bytes.data() + Layout::kChunkStamp.offset);
    std::uint32_t dictionarySize = 0;
    if (!chunkHeader(Layout::kChunkTextureDictionary, dictionarySize, bytes.size()))
        return false;
    const std::size_t end = at + dictionarySize;

    std::uint32_t countSize = 0;
    if (!chunkHeader(Layout::kChunkStruct, countSize, end))
        return false;
    if (countSize != Layout::kTextureCountBytes)
        return fail("texture count struct at offset %lld holds %u bytes, not 4", offset() - 12, countSize);
    const std::uint32_t count = takeU32();
    const std::size_t room = end - at < Layout::kChunkHeaderBytes ? 0 : end - at - Layout::kChunkHeaderBytes;
    if (count > room / kMinNativeChunkBytes)
        return fail("%u textures cannot fit in the %zu bytes of the dictionary that follow", count, room);

    loaded.records.reserve(count);
    for (std::uint32_t index = 0; index < count; ++index) {
        loaded.records.emplace_back();
        if (!readTexture(index, end, loaded.records.back()))
            return false;
    }
    std::uint32_t extensionSize = 0;
    if (!chunkHeader(Layout::kChunkExtension, extensionSize, end))
        return false;
    if (extensionSize != 0)
        return fail("the dictionary's extension holds %u bytes; only empty extensions are read",
                    extensionSize);
    if (at != end)
        return fail("%zu bytes follow the dictionary's extension inside the dictionary", end - at);
    return true;
}

bool DictionaryReader::readTexture(std::uint32_t index, std::size_t end, TextureRecord& record) {
    std::uint32_t nativeSize = 0;
    std::uint32_t structSize = 0;
    if (!chunkHeader(Layout::kChunkTextureNative, nativeSize, end))
        return false;
    const std::size_t nativeEnd = at + nativeSize;
    if (!chunkHeader(Layout::kChunkStruct, structSize, nativeEnd))
        return false;
    if (std::uint64_t{structSize} + 2 * Layout::kChunkHeaderBytes != nativeSize)
        return fail("texture %u: native chunk size %u is not its struct size %u + 24", index, nativeSize,
                    structSize);
    const std::size_t structEnd = at + structSize;
    if (!need(Layout::kNativeHeaderBytes, structEnd, "native texture header"))
        return false;

    D3DFORMAT format = ImageService::D3DFMT_UNKNOWN;
    if (!readNativeHeader(index, record, format))
        return false;
    bool read = record.depth == 16  ? readCompressed(index, structEnd, record, format)
                : record.depth == 8 ? readPaletted(index, structEnd, record, format)
                                    : readUncompressed(index, structEnd, record, format);
    if (!read)
        return false;
    if (at != structEnd)
        return fail("texture %u: %zu bytes follow its pixel data inside its struct", index, structEnd - at);

    std::uint32_t extensionSize = 0;
    if (!chunkHeader(Layout::kChunkExtension, extensionSize, nativeEnd))
        return false;
    if (extensionSize != 0)
        return fail("texture %u: its extension holds %u bytes; only empty extensions are read", index,
                    extensionSize);
    return true;
}

bool DictionaryReader::readNativeHeader(std::uint32_t index, TextureRecord& record,
                                        D3DFORMAT& textureFormat) {
    const std::uint8_t* header = bytes.data() + at;
    at += Layout::kNativeHeaderBytes;
    const bool platform9 = stamp == TXDArchive::kPlatform9Version;
    const std::uint32_t platform = Layout::getU32(header + Layout::kPlatform.offset);
    const std::uint32_t code = Layout::getU32(header + Layout::kFormatCode.offset);
    const std::uint8_t flags = header[Layout::kFlags.offset];
    const std::uint8_t rasterType = header[Layout::kRasterTypeField.offset];

    if (platform != (platform9 ? Layout::kPlatform9 : Layout::kPlatform8))
        return fail("texture %u: platform %u does not belong to version 0x%08X", index, platform, stamp);
    if (rasterType != Layout::kRasterType)
        return fail("texture %u: raster type %u is not a texture", index, rasterType);

    record.filterFlags = Layout::getU16(header + Layout::kFilterFlags.offset);
    record.filterByte2 = header[Layout::kFilterByte2.offset];
    record.filterByte3 = header[Layout::kFilterByte3.offset];
    record.setName(nameFrom(header + Layout::kName.offset));
    record.setMaskName(nameFrom(header + Layout::kMaskName.offset));
    record.rasterFormat = Layout::getU32(header + Layout::kRasterFormat.offset);
    record.width = static_cast<std::int16_t>(Layout::getU16(header + Layout::kWidth.offset));
    record.height = static_cast<std::int16_t>(Layout::getU16(header + Layout::kHeight.offset));
    record.depth = header[Layout::kDepth.offset];
    record.mipLevels = header[Layout::kLevelCount.offset];

    if (record.width < 1 || record.height < 1 || record.width > Layout::kMaxSide ||
        record.height > Layout::kMaxSide) {
        return fail("texture %u: size %dx%d is outside 1 to %d", index, record.width, record.height,
                    Layout::kMaxSide);
    }
    const std::int32_t chain = calculateMipLevels(record.width, record.height);
    if (record.mipLevels < 1 || record.mipLevels > chain)
        return fail("texture %u: %u levels do not fit a %dx%d texture (1 to %d)", index, record.mipLevels,
                    record.width, record.height, chain);

    if (platform9) {
        record.compression = code == Layout::kFourCCDxt1 ? 1 : code == Layout::kFourCCDxt3 ? 3 : 0;
        record.hasAlpha = Layout::rasterHasAlpha(record.rasterFormat) ? 1 : 0;
    } else {
        if (code > 1)
            return fail("texture %u: alpha word %u is neither 0 nor 1", index, code);
        record.compression = flags;
        record.hasAlpha = static_cast<std::int32_t>(code);
    }

    if (record.depth == 16) {
        if (record.compression != 1 && record.compression != 3)
            return fail("texture %u: depth 16 without DXT1 or DXT3 data (compression %u)", index,
                        record.compression);
        textureFormat = record.compression == 1 ? ImageService::D3DFMT_DXT1 : ImageService::D3DFMT_DXT3;
    } else {
        textureFormat = ImageService::D3DFMT_UNKNOWN;
        for (const UncompressedKind& kind : kUncompressedKinds) {
            if (kind.depth == record.depth && kind.rasterFormat == record.rasterFormat &&
                record.compression == 0)
                textureFormat = kind.textureFormat;
        }
        if (textureFormat == ImageService::D3DFMT_UNKNOWN)
            return fail(
                "texture %u: depth %u with raster format 0x%X and compression %u is not a kind this "
                "archive holds",
                index, record.depth, record.rasterFormat, record.compression);
    }

    if (platform9) {
        const Layout::FormatWord expected = Layout::platform9Format(record.compression, record.rasterFormat);
        if (expected.code != code || expected.flags != flags)
            return fail("texture %u: format code 0x%08X and flags 0x%02X do not match raster format 0x%X",
                        index, code, flags, record.rasterFormat);
    }
    return true;
}

bool DictionaryReader::makeTexture(std::uint32_t index, TextureRecord& record, D3DFORMAT format,
                                   unsigned levels) {
    ImageService::HRESULT result = ImageService::IDirect3DTexture9::create(
        static_cast<unsigned>(record.width), static_cast<unsigned>(record.height), levels, 0, format,
        ImageService::D3DPOOL_MANAGED, &record.texture);
    if (ImageService::FAILED(result)) {
        record.texture = nullptr;
        return fail("texture %u: no %dx%d texture of %u levels could be made (0x%08X)", index, record.width,
                    record.height, levels, static_cast<unsigned>(result));
    }
    return true;
}

// Copies `count` bytes into a level that holds exactly that many.
bool fillLevel(ImageService::IDirect3DTexture9* texture, unsigned level, const std::uint8_t* from,
               std::size_t count) {
    if (texture->levelSize(level) != count)
        return false;
    ImageService::D3DLOCKED_RECT locked{};
    if (ImageService::FAILED(texture->LockRect(level, &locked, nullptr, 0)))
        return false;
    std::memcpy(locked.pBits, from, count);
    texture->UnlockRect(level);
    return true;
}

bool DictionaryReader::readCompressed(std::uint32_t index, std::size_t end, TextureRecord& record,
                                      D3DFORMAT format) {
    // Every level is checked before the texture is made.
    std::vector<std::size_t> starts;
    for (std::uint32_t level = 0; level < record.mipLevels; ++level) {
        if (!need(Layout::kDataSizeBytes, end, "level size"))
            return false;
        const std::uint32_t stated = takeU32();
        const std::uint32_t expected =
            Layout::compressedLevelBytes(record.width, record.height, record.compression, level);
        if (stated != expected)
            return fail("texture %u: level %u states %u bytes where its %ux%u blocks take %u", index, level,
                        stated, Layout::levelSide(record.width, level),
                        Layout::levelSide(record.height, level), expected);
        if (!need(stated, end, "level data"))
            return false;
        starts.push_back(at);
        at += stated;
    }
    if (!makeTexture(index, record, format, record.mipLevels))
        return false;
    for (std::uint32_t level = 0; level < record.mipLevels; ++level) {
        const std::size_t size =
            Layout::compressedLevelBytes(record.width, record.height, record.compression, level);
        if (!fillLevel(record.texture, level, bytes.data() + starts[level], size))
            return fail("texture %u: level %u could not be filled", index, level);
    }
    return true;
}

bool DictionaryReader::readUncompressed(std::uint32_t index, std::size_t end, TextureRecord& record,
                                        D3DFORMAT format) {
    if (!need(Layout::kDataSizeBytes, end, "pixel data size"))
        return false;
    const std::uint32_t stated = takeU32();
    const std::uint64_t expected = std::uint64_t{static_cast<std::uint32_t>(record.width)} *
                                   static_cast<std::uint32_t>(record.height) *
                                   Layout::uncompressedPixelBytes(record.rasterFormat);
    if (stated != expected)
        return fail("texture %u: pixel data states %u bytes where %dx%d pixels take %llu", index, stated,
                    record.width, record.height, static_cast<unsigned long long>(expected));
    if (!need(stated, end, "pixel data"))
        return false;
    const std::uint8_t* pixels = bytes.data() + at;
    at += stated;
    if (!makeTexture(index, record, format, 1))
        return false;
    if (!fillLevel(record.texture, 0, pixels, stated))
        return fail("texture %u: its pixels could not be filled", index);
    return true;
}

bool DictionaryReader::readPaletted(std::uint32_t index, std::size_t end, TextureRecord& record,
                                    D3DFORMAT format) {
    if (!need(Layout::kPaletteBytes + Layout::kDataSizeBytes, end, "palette"))
        return false;
    const std::uint8_t* palette = bytes.data() + at;
    at += Layout::kPaletteBytes;
    const std::uint32_t stated = takeU32();
    const std::uint32_t pixels =
        static_cast<std::uint32_t>(record.width) * static_cast<std::uint32_t>(record.height);
    if (stated != pixels)
        return fail("texture %u: index data states %u bytes where %dx%d pixels take %u", index, stated,
                    record.width, record.height, pixels);
    if (!need(stated, end, "index data"))
        return false;
    const std::uint8_t* indices = bytes.data() + at;
    at += stated;
    if (!makeTexture(index, record, format, 1))
        return false;
    if (record.texture->levelSize(0) != std::size_t{pixels} * 4)
        return fail("texture %u: its pixels could not be filled", index);

    // The file's entries are red, green, blue, alpha; the texture holds blue, green, red, alpha.
    ImageService::D3DLOCKED_RECT locked{};
    if (ImageService::FAILED(record.texture->LockRect(0, &locked, nullptr, 0)))
        return fail("texture %u: its pixels could not be filled", index);
    auto* out = static_cast<std::uint8_t*>(locked.pBits);
    for (std::size_t p = 0; p < pixels; ++p) {
        const std::uint8_t* entry = palette + std::size_t{indices[p]} * Layout::kPaletteEntryBytes;
        out[p * 4 + 0] = entry[2];
        out[p * 4 + 1] = entry[1];
        out[p * 4 + 2] = entry[0];
        out[p * 4 + 3] = entry[3];
    }
    record.texture->UnlockRect(0);
    return true;
}

}  // namespace

bool TXDArchive::loadFile(std::string path, std::int32_t position) {
    MessageLog* log = MessageLog::getInstance();
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!readDictionaryBytes(path, position, bytes, reason)) {
        log->logMessage(MessageLog::Error, "Load canceled, %s: %s", kSourceFile, kLoadFunction, __LINE__,
                        reason.c_str(), path.c_str());
        return false;
    }

    LoadedRecords loaded;
    DictionaryReader reader(bytes, position);
    if (!reader.read(loaded)) {
        log->logMessage(MessageLog::Error, "Load canceled, %s: %s", kSourceFile, kLoadFunction, __LINE__,
                        reader.reason().c_str(), path.c_str());
        return false;
    }

    for (TextureRecord& record : textures) {
        if (record.texture)
            record.texture->Release();
    }
    textures = std::move(loaded.records);
    loaded.records.clear();
    version = reader.version();
    filePath = path;
    streamPosition = position;
    changed = false;
    log->logMessage(MessageLog::Info, "Loaded a texture archive with %i textures from: %s", kSourceFile,
                    kLoadFunction, __LINE__, static_cast<int>(textures.size()), path.c_str());
    return true;
}

}  // namespace TXD
