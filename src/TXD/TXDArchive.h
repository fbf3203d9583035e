// The in-memory texture dictionary: an ordered list of texture records plus what saving needs.
// The archive owns one reference to the texture of every listed record and must be destroyed while
// the device that made those textures still exists. Each family of operations lives in its own file:
// TXDArchive.cpp (life cycle, finding, replacing and removing records), AddTexture.cpp,
// AlphaMerge.cpp, MipMaps.cpp, Palette.cpp, FileWriter.cpp, FileReader.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ImageService/Direct3D/Device.h"
#include "TXD/TextureRecord.h"

namespace TXD {

enum TextureFormat : std::int32_t { DXT1 = 0, DXT3 = 1, Bits32 = 2, Bits8 = 3 };

// What the dictionary modes ask of addTexture beyond its classic behaviour; the defaults give exactly
// that behaviour, which the tool's main run keeps.
struct AddOptions {
    // Without an alpha image, an image whose pixels are not all opaque keeps its alpha and the record
    // says so: hasAlpha, the raster format with alpha, 8888 pixels for Bits32.
    bool keepImageAlpha = false;
    // DXT1 was asked only as a default: a texture that carries alpha (an alpha image, or its own kept
    // alpha) is stored as DXT3 instead.
    bool dxt3ForAlpha = false;
    // An alpha image that stores no alpha gives its grey level (Rec. 601 luma, rounded) as alpha.
    bool greyMasks = false;
    // Palettes for images of more than 256 colours diffuse the error of the reduction.
    bool dither = false;
    // Sides that are not powers of two are resized to the nearest ones (the alpha image with them)
    // instead of refused.
    bool resizeToPowerOfTwo = false;
};

class ArchiveStream;  // the checked, all-or-nothing file output of a save (ArchiveStream.cpp)

using Device = ImageService::IDirect3DDevice9;
using Texture = ImageService::IDirect3DTexture9;

class TXDArchive {
public:
    static constexpr std::uint32_t kDefaultVersion = 0x0C02FFFF;
    static constexpr std::uint32_t kPlatform9Version = 0x1803FFFF;

    std::string filePath;
    std::int32_t streamPosition = 0;
    std::uint32_t version = kDefaultVersion;
    ImageService::WCHAR* widePathBuffer;
    bool changed = false;
    bool readOnly = false;
    std::vector<TextureRecord> textures;

    TXDArchive();
    ~TXDArchive();
    TXDArchive(const TXDArchive&) = delete;
    TXDArchive& operator=(const TXDArchive&) = delete;

    std::uint32_t getTextureCount() const { return static_cast<std::uint32_t>(textures.size()); }
    // Throws std::out_of_range for an index past the last record.
    TextureRecord& getTexture(std::uint32_t index) { return textures.at(index); }
    void appendTexture(const TextureRecord& record) { textures.push_back(record); }

    // Index of the first record whose name matches `name` as the name hash sees it (letters in either
    // case, either slash), or -1.
    std::int32_t findTexture(const std::string& name) const;
    // Puts `record` at `index` and releases the texture of the record it replaces; the archive takes
    // over the new record's texture reference. The others keep their places. False for a bad index.
    bool replaceTexture(std::int32_t index, const TextureRecord& record);
    // Takes the record out, releasing its texture; the records after it move up one place.
    bool removeTexture(std::int32_t index);

    bool addTexture(Device*& device, std::string texturePath, std::string textureName, TextureFormat format,
                    bool mipMaps, std::string alphaPath, std::string alphaName);
    bool addTexture(Device*& device, std::string texturePath, std::string textureName, TextureFormat format,
                    bool mipMaps, std::string alphaPath, std::string alphaName, const AddOptions& options);
    bool surfaceCopy(Texture*& source, Texture*& destination);
    bool addAlphaChannelFromFile(std::int32_t textureIndex, Device*& device, std::string alphaPath);
    // Level 0 of `alphaTexture` gives its alpha to the record's texture over width x height pixels. A
    // side of 0 or less has no pixels to merge: the call returns true and changes nothing. Sides the
    // two textures do not both have, or a missing texture, give false.
    bool addAlphaChannelFromTexture(Device*& device, TextureRecord& record, Texture*& alphaTexture,
                                    std::int32_t& width, std::int32_t& height);
    bool generateMipMaps(const std::int32_t& textureIndex, Device*& device);
    // The 256 colours of level 0 (exact, in order of first appearance) and one index per pixel. An
    // index outside the list logs an error and fills nothing.
    void generatePalette(std::uint32_t* palette, const std::int32_t& textureIndex, std::uint8_t* indices);
    bool saveFile(std::string path, std::int32_t startPosition);
    // Replaces the records, version and saved place with the dictionary at `position` in the file. On
    // any fault the reason is logged, the archive stays as it was and the result is false.
    bool loadFile(std::string path, std::int32_t position = 0);

private:
    // True when `index` names a record; else logs the index message for `function` at `line`.
    bool checkTextureIndex(std::int32_t index, const char* function, int line) const;
    // The alpha image at `path`, loaded; nullptr with the load's two messages logged.
    Texture* loadAlphaImage(Device*& device, const std::string& path);
    // The alpha image's alpha, or its grey level (AddOptions::greyMasks), resized to the record's size
    // when it has the texture image's size before resizing (AddOptions::resizeToPowerOfTwo).
    bool addAlphaImageFromFile(std::int32_t textureIndex, Device*& device, const std::string& alphaPath,
                               bool greyLevel, bool resize);
    // The writers of one save. Stream errors stay in the stream; a false result means a texture's
    // pixels could not be read. writeChunkHeader returns the position of the header's size field.
    std::int64_t writeChunkHeader(ArchiveStream& stream, std::uint32_t type, std::uint32_t stamp,
                                  std::uint32_t size);
    void writeTextureStruct(ArchiveStream& stream, const std::int32_t& textureIndex);
    // generatePalette with a result: false when level 0 could not be read whole.
    bool collectPalette(std::uint32_t* palette, const std::int32_t& textureIndex, std::uint8_t* indices);
    bool writePalettedData(const std::int32_t& textureIndex, ArchiveStream& stream,
                           std::uint32_t& structSize);
    bool writeCompressedData(const std::int32_t& textureIndex, ArchiveStream& stream,
                             std::uint32_t& structSize);
    bool writeUncompressedData(const std::int32_t& textureIndex, ArchiveStream& stream,
                               std::uint32_t& structSize);
};

// Logs the message that names why a texture could not be created.
void logTextureCreateError(ImageService::HRESULT& result, std::string name);

// Levels of a full mip chain for a width x height texture.
std::int32_t calculateMipLevels(std::int16_t width, std::int16_t height);

}  // namespace TXD
