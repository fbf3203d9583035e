// Reading a texture dictionary file back into records, the writer's inverse. The whole structure is
// checked first from the headers alone (DictionaryWalk: every chunk against its parent and neighbours,
// every size against the file), so a file that is refused is refused after reading its headers, not
// its length, and nothing is allocated for it. Then each record's texture is made and its pixel data
// read straight into it, in pieces: the load costs the records it keeps and a few megabytes. The first
// fault ends the load with its reason logged and the archive as it was; a loaded archive saves to the
// identical bytes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "Common/MessageLog.h"
#include "ImageService/Direct3D/Format.h"
#include "TXD/ArchiveInput.h"
#include "TXD/ArchiveLayout.h"
#include "TXD/DictionaryWalk.h"
#include "TXD/TXDArchive.h"

namespace TXD {
namespace {

using ImageService::D3DFORMAT;

constexpr char kSourceFile[] = "TXD\\FileReader";
constexpr char kLoadFunction[] = "TXD::TXDArchive::loadFile";

// Indices of a palettised record are expanded through its palette in pieces of this many bytes.
constexpr std::size_t kIndexPieceBytes = std::size_t{64} << 10;

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

// The texture format that holds a record's pixels (blue in byte 0 for the uncompressed kinds, as the
// writer and the palette expect).
D3DFORMAT textureFormatOf(const RecordInfo& info) {
    if (info.depth == 16)
        return info.compression == 1 ? ImageService::D3DFMT_DXT1 : ImageService::D3DFMT_DXT3;
    if (info.depth == 32 && (info.rasterFormat & Layout::kRasterPixelMask) == Layout::kRaster888)
        return ImageService::D3DFMT_X8R8G8B8;
    return ImageService::D3DFMT_A8R8G8B8;
}

// One record's texture, made and filled from the places the walk found.
class RecordLoader {
public:
    explicit RecordLoader(ArchiveInput& input) : input(input) {}
    bool load(std::uint32_t index, const RecordInfo& info, TextureRecord& record);
    const std::string& reason() const { return why; }

private:
    bool fail(std::uint32_t index, const std::string& what);
    bool fillLevel(unsigned level, std::uint64_t offset, std::size_t count);
    bool fillFromPalette(const RecordInfo& info);

    ArchiveInput& input;
    ImageService::IDirect3DTexture9* texture = nullptr;
    std::string why;
};

bool RecordLoader::fail(std::uint32_t index, const std::string& what) {
    why = "texture " + std::to_string(index) + ": " + what;
    return false;
}

// Reads `count` bytes into a level that holds exactly that many.
bool RecordLoader::fillLevel(unsigned level, std::uint64_t offset, std::size_t count) {
    if (texture->levelSize(level) != count)
        return false;
    ImageService::D3DLOCKED_RECT locked{};
    if (ImageService::FAILED(texture->LockRect(level, &locked, nullptr, 0)))
        return false;
    const bool read = input.read(offset, locked.pBits, count);
    texture->UnlockRect(level);
    return read;
}

// The file's entries are red, green, blue, alpha; the texture holds blue, green, red, alpha.
bool RecordLoader::fillFromPalette(const RecordInfo& info) {
    const std::size_t pixels = std::size_t(info.width) * std::size_t(info.height);
    std::uint8_t palette[Layout::kPaletteBytes];
    if (texture->levelSize(0) != pixels * 4 || !input.read(info.paletteOffset, palette, sizeof palette))
        return false;
    ImageService::D3DLOCKED_RECT locked{};
    if (ImageService::FAILED(texture->LockRect(0, &locked, nullptr, 0)))
        return false;
    auto* out = static_cast<std::uint8_t*>(locked.pBits);
    std::vector<std::uint8_t> indices(std::min(pixels, kIndexPieceBytes));
    bool read = true;
    for (std::size_t done = 0; read && done < pixels; done += indices.size()) {
        const std::size_t count = std::min(indices.size(), pixels - done);
        read = input.read(info.levelOffsets[0] + done, indices.data(), count);
        for (std::size_t p = 0; read && p < count; ++p) {
            const std::uint8_t* entry = palette + std::size_t{indices[p]} * Layout::kPaletteEntryBytes;
            std::uint8_t* pixel = out + (done + p) * 4;
            pixel[0] = entry[2];
            pixel[1] = entry[1];
            pixel[2] = entry[0];
            pixel[3] = entry[3];
        }
    }
    texture->UnlockRect(0);
    return read;
}

bool RecordLoader::load(std::uint32_t index, const RecordInfo& info, TextureRecord& record) {
    why.clear();
    record.filterFlags = info.filterFlags;
    record.filterByte2 = info.filterByte2;
    record.filterByte3 = info.filterByte3;
    record.setName(info.name);
    record.setMaskName(info.maskName);
    record.rasterFormat = info.rasterFormat;
    record.width = info.width;
    record.height = info.height;
    record.depth = info.depth;
    record.mipLevels = info.mipLevels;
    record.compression = info.compression;
    record.hasAlpha = info.hasAlpha;

    const unsigned levels = static_cast<unsigned>(info.levelOffsets.size());
    const ImageService::HRESULT made = ImageService::IDirect3DTexture9::create(
        static_cast<unsigned>(info.width), static_cast<unsigned>(info.height), levels, 0,
        textureFormatOf(info), ImageService::D3DPOOL_MANAGED, &record.texture);
    if (ImageService::FAILED(made)) {
        record.texture = nullptr;
        char text[96];
        std::snprintf(text, sizeof text, "no %dx%d texture of %u levels could be made (0x%08X)", info.width,
                      info.height, levels, static_cast<unsigned>(made));
        return fail(index, text);
    }
    texture = record.texture;
    if (info.depth == 8) {
        if (!fillFromPalette(info))
            return fail(index, input.reason().empty() ? "its pixels could not be filled" : input.reason());
        return true;
    }
    for (unsigned level = 0; level < levels; ++level) {
        const std::size_t bytes =
            info.depth == 16 ? Layout::compressedLevelBytes(info.width, info.height, info.compression, level)
                             : static_cast<std::size_t>(info.dataBytes);
        if (!fillLevel(level, info.levelOffsets[level], bytes))
            return fail(index, "level " + std::to_string(level) + " could not be filled" +
                                   (input.reason().empty() ? "" : ": " + input.reason()));
    }
    return true;
}

}  // namespace

bool TXDArchive::loadFile(std::string path, std::int32_t position) {
    MessageLog* log = MessageLog::getInstance();
    ArchiveInput input;
    const auto refuse = [&](const std::string& reason) {
        log->logMessage(MessageLog::Error, "Load canceled, %s: %s", kSourceFile, kLoadFunction, __LINE__,
                        reason.c_str(), path.c_str());
        return false;
    };
    if (!input.open(path, position))
        return refuse(input.reason());
    DictionaryWalk walk(input);
    if (!walk.walk(nullptr))
        return refuse(walk.reason());

    // Every record is known to lie where it should; only now is anything made for them.
    LoadedRecords loaded;
    loaded.records.reserve(walk.textureCount());
    RecordLoader loader(input);
    const bool read = walk.walk([&](const RecordInfo& info) {
        loaded.records.emplace_back();
        return loader.load(static_cast<std::uint32_t>(loaded.records.size() - 1), info,
                           loaded.records.back());
    });
    if (!read)
        return refuse(loader.reason().empty() ? walk.reason() : loader.reason());

    for (TextureRecord& record : textures) {
        if (record.texture)
            record.texture->Release();
    }
    textures = std::move(loaded.records);
    loaded.records.clear();
    version = input.stamp();
    filePath = path;
    streamPosition = position;
    changed = false;
    log->logMessage(MessageLog::Info, "Loaded a texture archive with %i textures from: %s", kSourceFile,
                    kLoadFunction, __LINE__, static_cast<int>(textures.size()), path.c_str());
    return true;
}

}  // namespace TXD
