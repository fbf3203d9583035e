// Writing the archive as a texture dictionary file. The chunk tree is written in one pass with size
// fields of 0, and each size is patched once its chunk's end is known; the byte layout itself lives
// in ArchiveLayout.h. All output goes through ArchiveStream, so a save either replaces the file
// whole or leaves it untouched.
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "Common/MessageLog.h"
#include "ImageService/Direct3D/Format.h"
#include "Platform/FailureReason.h"
#include "Platform/Files.h"
#include "TXD/ArchiveLayout.h"
#include "TXD/ArchiveStream.h"
#include "TXD/TXDArchive.h"

namespace TXD {
namespace {

constexpr char kSourceFile[] = "TXD\\TXDArchive";
constexpr char kSaveFunction[] = "TXD::TXDArchive::saveFile";

void writeU32(ArchiveStream& stream, std::uint32_t value) {
    std::uint8_t bytes[4];
    Layout::putU32(bytes, value);
    stream.write(bytes, sizeof bytes);
}

// Readers stop at the first zero byte, so everything after it is written as zeros too.
void putName(std::uint8_t* field, const std::string& name) {
    std::size_t length = name.size() < Layout::kNameBytes ? name.size() : Layout::kNameBytes;
    const void* zero = std::memchr(name.data(), '\0', length);
    if (zero)
        length = static_cast<std::size_t>(static_cast<const char*>(zero) - name.data());
    std::memcpy(field, name.data(), length);
}

// Writes the size field and then `count` bytes of the level straight from the lock. False, with
// nothing written, when the level cannot give that many bytes.
bool writeLevel(ImageService::IDirect3DTexture9* texture, ImageService::UINT level, std::uint32_t count,
                ArchiveStream& stream) {
    if (!texture || level >= texture->GetLevelCount() || texture->levelSize(level) < count)
        return false;
    ImageService::D3DLOCKED_RECT locked{};
    if (ImageService::FAILED(texture->LockRect(level, &locked, nullptr, 0)))
        return false;
    bool readable = locked.pBits != nullptr;
    if (readable) {
        writeU32(stream, count);
        stream.write(locked.pBits, count);
    }
    texture->UnlockRect(level);
    return readable;
}

}  // namespace

std::int64_t TXDArchive::writeChunkHeader(ArchiveStream& stream, std::uint32_t type, std::uint32_t stamp,
                                          std::uint32_t size) {
    std::uint8_t header[Layout::kChunkHeaderBytes];
    Layout::putU32(header + Layout::kChunkType.offset, type);
    Layout::putU32(header + Layout::kChunkSize.offset, size);
    Layout::putU32(header + Layout::kChunkStamp.offset, stamp);
    std::int64_t sizeField = stream.tell() + static_cast<std::int64_t>(Layout::kChunkSize.offset);
    stream.write(header, sizeof header);
    return sizeField;
}

void TXDArchive::writeTextureStruct(ArchiveStream& stream, const std::int32_t& textureIndex) {
    const TextureRecord& record = textures[textureIndex];
    const bool platform9 = version == kPlatform9Version;
    std::uint8_t header[Layout::kNativeHeaderBytes] = {};

    Layout::putU32(header + Layout::kPlatform.offset, platform9 ? Layout::kPlatform9 : Layout::kPlatform8);
    Layout::putU16(header + Layout::kFilterFlags.offset, record.filterFlags);
    Layout::putU8(header + Layout::kFilterByte2.offset, record.filterByte2);
    Layout::putU8(header + Layout::kFilterByte3.offset, record.filterByte3);
    putName(header + Layout::kName.offset, record.name);
    putName(header + Layout::kMaskName.offset, record.maskName);
    Layout::putU32(header + Layout::kRasterFormat.offset, record.rasterFormat);
    Layout::putU16(header + Layout::kWidth.offset, static_cast<std::uint16_t>(record.width));
    Layout::putU16(header + Layout::kHeight.offset, static_cast<std::uint16_t>(record.height));
    Layout::putU8(header + Layout::kDepth.offset, record.depth);
    Layout::putU8(header + Layout::kLevelCount.offset, record.mipLevels);
    Layout::putU8(header + Layout::kRasterTypeField.offset, Layout::kRasterType);

    // Platform 8 keeps the alpha flag and the raw compression where platform 9 names the pixel format.
    const Layout::FormatWord format =
        platform9 ? Layout::platform9Format(record.compression, record.rasterFormat, record.hasAlpha != 0)
                  : Layout::FormatWord{record.hasAlpha != 0 ? 1u : 0u, record.compression};
    Layout::putU32(header + Layout::kFormatCode.offset, format.code);
    Layout::putU8(header + Layout::kFlags.offset, format.flags);

    stream.write(header, sizeof header);
}

bool TXDArchive::writePalettedData(const std::int32_t& textureIndex, ArchiveStream& stream,
                                   std::uint32_t& structSize) {
    const TextureRecord& record = textures[textureIndex];
    if (record.width < 0 || record.height < 0)
        return false;
    const std::uint32_t pixels =
        static_cast<std::uint32_t>(record.width) * static_cast<std::uint32_t>(record.height);

    std::vector<std::uint8_t> indices(pixels);
    std::array<std::uint32_t, Layout::kPaletteEntries> palette{};  // unused entries go out as zeros
    if (!collectPalette(palette.data(), textureIndex, indices.data()))
        return false;

    // Colours are held B, G, R, A; the file wants R, G, B, A.
    std::array<std::uint8_t, Layout::kPaletteBytes> entries{};
    for (std::size_t k = 0; k < Layout::kPaletteEntries; ++k) {
        const std::uint32_t colour = palette[k];
        entries[k * 4 + 0] = static_cast<std::uint8_t>(colour >> 16);
        entries[k * 4 + 1] = static_cast<std::uint8_t>(colour >> 8);
        entries[k * 4 + 2] = static_cast<std::uint8_t>(colour);
        entries[k * 4 + 3] = static_cast<std::uint8_t>(colour >> 24);
    }
    stream.write(entries.data(), entries.size());
    writeU32(stream, pixels);
    stream.write(indices.data(), indices.size());
    structSize += static_cast<std::uint32_t>(Layout::kPaletteBytes + Layout::kDataSizeBytes) + pixels;
    return true;
}

bool TXDArchive::writeCompressedData(const std::int32_t& textureIndex, ArchiveStream& stream,
                                     std::uint32_t& structSize) {
    const TextureRecord& record = textures[textureIndex];
    for (std::uint32_t level = 0; level < record.mipLevels; ++level) {
        const std::uint32_t bytes =
            Layout::compressedLevelBytes(record.width, record.height, record.compression, level);
        if (!writeLevel(record.texture, level, bytes, stream))
            return false;
        structSize += static_cast<std::uint32_t>(Layout::kDataSizeBytes) + bytes;
    }
    return true;
}

bool TXDArchive::writeUncompressedData(const std::int32_t& textureIndex, ArchiveStream& stream,
                                       std::uint32_t& structSize) {
    const TextureRecord& record = textures[textureIndex];
    if (record.width < 0 || record.height < 0)
        return false;
    const std::uint32_t pixelBytes = Layout::uncompressedPixelBytes(record.rasterFormat);
    // Sides are at most 32767, so even at 4 bytes a pixel the product fits in 32 bits.
    const std::uint32_t bytes =
        static_cast<std::uint32_t>(record.width) * static_cast<std::uint32_t>(record.height) * pixelBytes;
    if (!writeLevel(record.texture, 0, bytes, stream))
        return false;
    structSize += static_cast<std::uint32_t>(Layout::kDataSizeBytes) + bytes;
    return true;
}

bool TXDArchive::saveFile(std::string path, std::int32_t startPosition) {
    MessageLog* log = MessageLog::getInstance();
    if (readOnly) {
        log->logMessage(MessageLog::Error,
                        "Save canceled, file is read only, use \"turnOffReadOnly()\" to set file attributes",
                        kSourceFile, kSaveFunction, 152);
        return false;
    }
    if (path.empty())
        path = filePath;
    if (startPosition == 0)
        startPosition = streamPosition;

    FailureReason::clear();
    ArchiveStream stream;
    if (!stream.open(path)) {
        FailureReason::note("%s", stream.reason().c_str());
        log->logMessage(MessageLog::Error, "Save canceled, stream not open: %s", kSourceFile, kSaveFunction,
                        159, path.c_str());
        return false;
    }
    // Inside a larger file (a position past 0, or the place the archive was loaded from) the save
    // replaces the dictionary there and keeps every other byte; anywhere else it writes the file anew.
    const std::uint64_t position = startPosition < 0 ? 0 : static_cast<std::uint64_t>(startPosition);
    std::uint64_t keptFrom = std::numeric_limits<std::uint64_t>::max();  // nothing after the dictionary
    if (startPosition > 0 || Platform::sameFile(path, filePath)) {
        stream.copyExisting(0, position);
        keptFrom = stream.existingDictionaryEnd(position);
    }
    stream.seek(startPosition);

    const std::int64_t dictionarySizeField =
        writeChunkHeader(stream, Layout::kChunkTextureDictionary, version, 0);
    // 64-bit so that an archive too large for its 32-bit size fields is caught rather than wrapped.
    std::uint64_t dictionarySize = Layout::kChunkHeaderBytes;
    std::uint32_t saved = 0;
    for (const TextureRecord& record : textures) {
        if (!record.excludeFromSave)
            ++saved;
    }
    writeChunkHeader(stream, Layout::kChunkStruct, version, Layout::kTextureCountBytes);
    writeU32(stream, saved);
    dictionarySize += Layout::kTextureCountBytes;

    bool fits = true;
    for (std::int32_t index = 0; index < static_cast<std::int32_t>(textures.size()) && stream.good();
         ++index) {
        const TextureRecord& record = textures[index];
        if (record.excludeFromSave)
            continue;
        const std::int64_t nativeSizeField =
            writeChunkHeader(stream, Layout::kChunkTextureNative, version, 0);
        const std::int64_t structSizeField = writeChunkHeader(stream, Layout::kChunkStruct, version, 0);
        writeTextureStruct(stream, index);
        std::uint32_t structSize = Layout::kNativeHeaderBytes;
        bool read = record.depth == 8    ? writePalettedData(index, stream, structSize)
                    : record.depth == 16 ? writeCompressedData(index, stream, structSize)
                                         : writeUncompressedData(index, stream, structSize);
        if (!read) {
            stream.abandon();
            log->logMessage(MessageLog::Error, "Save failed, unable to read the pixels of texture %i for: %s",
                            kSourceFile, kSaveFunction, 247, index, path.c_str());
            return false;
        }
        writeChunkHeader(stream, Layout::kChunkExtension, version, 0);

        // The native chunk's body is the struct chunk (header and body) and the extension header.
        const std::uint64_t nativeSize = std::uint64_t{structSize} + 2 * Layout::kChunkHeaderBytes;
        fits = fits && nativeSize <= std::numeric_limits<std::uint32_t>::max();
        const std::int64_t end = stream.tell();
        stream.seek(structSizeField);
        writeU32(stream, structSize);
        stream.seek(nativeSizeField);
        writeU32(stream, static_cast<std::uint32_t>(nativeSize));
        stream.seek(end);
        dictionarySize += Layout::kChunkHeaderBytes + nativeSize;
    }
    writeChunkHeader(stream, Layout::kChunkExtension, version, 0);
    dictionarySize += Layout::kChunkHeaderBytes;
    const std::int64_t dictionaryEnd = stream.tell();

    if (!fits || dictionarySize > std::numeric_limits<std::uint32_t>::max()) {
        stream.abandon();
        log->logMessage(MessageLog::Error, "Save failed, archive too large for its size fields: %s",
                        kSourceFile, kSaveFunction, 248, path.c_str());
        return false;
    }
    stream.seek(dictionarySizeField);
    writeU32(stream, static_cast<std::uint32_t>(dictionarySize));
    stream.seek(dictionaryEnd);
    stream.copyExisting(keptFrom, std::numeric_limits<std::uint64_t>::max());

    if (!stream.commit()) {
        FailureReason::note("%s", stream.reason().c_str());
        log->logMessage(MessageLog::Error, "Save failed, unable to write: %s", kSourceFile, kSaveFunction,
                        245, path.c_str());
        return false;
    }

    changed = false;
    filePath = path;
    streamPosition = startPosition;
    log->logMessage(MessageLog::Info, "Saved a texture archive with %i textures as: %s", kSourceFile,
                    kSaveFunction, 250, static_cast<int>(textures.size()), path.c_str());
    return true;
}

}  // namespace TXD
