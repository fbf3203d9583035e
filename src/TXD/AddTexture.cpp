// Adding one image file as a new record: header checks, texture creation, the converting copy, and
// the optional alpha merge and mip chain. Either the whole record the caller asked for is added, or
// the archive is left exactly as it was.
#include "Common/MessageLog.h"
#include "Common/STDFunctions/STDFunctions.h"
#include "ImageService/D3DX/D3DX.h"
#include "ImageService/D3DX/Resample.h"
#include "ImageService/Quantise/Quantise.h"
#include "Platform/FailureReason.h"
#include "TXD/TXDArchive.h"

using namespace ImageService;

namespace TXD {
namespace {

constexpr const char* kFile = "TXD\\TXDArchive";
constexpr const char* kAddTexture = "TXD::TXDArchive::addTexture";
constexpr std::uint32_t kMaxSide =
    ImageService::kMaxTextureSide;  // the record's signed 16-bit sides hold no more

bool isPowerOfTwo(std::uint32_t value) {
    return value != 0 && (value & (0u - value)) == value;
}

void logError(const char* function, int line, const char* format, const char* text = nullptr,
              long long number = 0) {
    MessageLog::getInstance()->logMessage(MessageLog::Error, format, kFile, function, line, text, number);
}

// Checks one side: a power of two (0 is not one) and no larger than a record can hold.
bool checkSide(const std::string& textureName, std::uint32_t side, const char* powerFormat, int powerLine,
               const char* sizeFormat, int sizeLine) {
    bool power = isPowerOfTwo(side);
    if (power && side <= kMaxSide)
        return true;
    MessageLog::getInstance()->logMessage(MessageLog::Error, power ? sizeFormat : powerFormat, kFile,
                                          kAddTexture, power ? sizeLine : powerLine, textureName.c_str(),
                                          static_cast<int>(side));
    return false;
}

struct FormatChoice {
    D3DFORMAT textureFormat;
    std::uint8_t depth;
    std::uint8_t compression;
    std::uint32_t rasterWithAlpha;
    std::uint32_t rasterWithoutAlpha;
};

// 32-bit and 8-bit records keep blue in byte 0 of each pixel, the layout the file writer reads.
FormatChoice chooseFormat(TextureFormat format, bool withAlpha) {
    switch (format) {
        case DXT1:
            return {D3DFMT_DXT1, 16, 1, 0x100, 0x200};
        case DXT3:
            return {D3DFMT_DXT3, 16, 3, 0x300, 0x300};
        case Bits32:
            return {withAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8, 32, 0, 0x500, 0x600};
        case Bits8:
            return {D3DFMT_A8R8G8B8, 8, 0, 0x2500, 0x2600};
    }
    return {D3DFMT_DXT1, 16, 1, 0, 0};
}

// What level 0 of an image holds in alpha: any pixel below 255, any strictly between 0 and 255.
struct LevelAlpha {
    bool transparent = false;
    bool partial = false;
    bool unknown = false;  // the level could not be read
};

LevelAlpha levelAlpha(Texture* texture) {
    LevelAlpha found;
    Texture* plain = texture;
    if (texture->format() != D3DFMT_A8R8G8B8 &&
        FAILED(copyLevelToTexture(texture, 0, D3DFMT_A8R8G8B8, 0, 0, &plain))) {
        found.unknown = true;
        return found;
    }
    const std::uint8_t* pixels = plain->levelBytes(0);
    const std::size_t count = plain->levelSize(0) / 4;
    for (std::size_t i = 0; i < count && !found.partial; ++i) {
        const std::uint8_t alpha = pixels[4 * i + 3];
        found.transparent = found.transparent || alpha != 255;
        found.partial = alpha != 255 && alpha != 0;
    }
    if (plain != texture)
        plain->Release();
    return found;
}

// `source` resampled to width x height (bytes B, G, R, A); `source` is released either way. Nullptr
// when the resized texture cannot be made.
Texture* resizedTexture(Texture* source, UINT width, UINT height) {
    Texture* resized = nullptr;
    if (FAILED(copyLevelToTexture(source, 0, D3DFMT_A8R8G8B8, width, height, &resized)))
        resized = nullptr;
    source->Release();
    return resized;
}

// A palette holds 256 colours, and the save builds it from level 0's exact colours: an 8-bit record's
// level 0 is first brought down to at most 256 chosen ones.
bool reduceToPalette(Texture* texture, bool dither) {
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0)) || !locked.pBits)
        return false;
    const UINT width = texture->width(), height = texture->height();
    ImageService::Quantise::Options options;
    options.dither = dither;
    const bool reduced = static_cast<std::size_t>(locked.Pitch) == std::size_t{width} * 4 &&
                         ImageService::Quantise::reduceColours(static_cast<std::uint8_t*>(locked.pBits),
                                                               width, height, options);
    texture->UnlockRect(0);
    return reduced;
}

}  // namespace

bool TXDArchive::addTexture(Device*& device, std::string texturePath, std::string textureName,
                            TextureFormat format, bool mipMaps, std::string alphaPath,
                            std::string alphaName) {
    return addTexture(device, std::move(texturePath), std::move(textureName), format, mipMaps,
                      std::move(alphaPath), std::move(alphaName), AddOptions{});
}

bool TXDArchive::addTexture(Device*& device, std::string texturePath, std::string textureName,
                            TextureFormat format, bool mipMaps, std::string alphaPath, std::string alphaName,
                            const AddOptions& options) {
    MessageLog* log = MessageLog::getInstance();
    TextureRecord record;
    record.setName(textureName);
    record.setMaskName(alphaName);
    bool withAlpha = !alphaPath.empty();
    if (withAlpha)
        record.hasAlpha = 1;

    D3DXIMAGE_INFO imageInfo{};
    if (FAILED(D3DXGetImageInfoFromFileW(STDFunctions::stringToLPCWSTR(texturePath, widePathBuffer),
                                         &imageInfo))) {
        logError(kAddTexture, 1872, "Unable to get information for texture file %s", texturePath.c_str());
        return false;
    }
    // Sides that are not powers of two are resized when asked (the decoder still refuses what the
    // service cannot hold), else refused.
    const UINT width = options.resizeToPowerOfTwo ? nearestPowerOfTwo(imageInfo.Width) : imageInfo.Width;
    const UINT height = options.resizeToPowerOfTwo ? nearestPowerOfTwo(imageInfo.Height) : imageInfo.Height;
    const bool resizes = width != imageInfo.Width || height != imageInfo.Height;
    if (!resizes &&
        (!checkSide(textureName, imageInfo.Width, "Texture width for %s is not a power of two: %i", 1880,
                    "Texture width for %s is too large: %i", 1882) ||
         !checkSide(textureName, imageInfo.Height, "Texture height for %s is not a power of two: %i", 1889,
                    "Texture height for %s is too large: %i", 1891))) {
        return false;
    }

    D3DXIMAGE_INFO alphaInfo{};
    if (withAlpha) {
        if (FAILED(D3DXGetImageInfoFromFileW(STDFunctions::stringToLPCWSTR(alphaPath, widePathBuffer),
                                             &alphaInfo))) {
            logError(kAddTexture, 1900, "Unable to get information for alpha file %s", alphaPath.c_str());
            return false;
        }
        std::string shownAlphaName = alphaName.empty() ? textureName + "_a" : alphaName;
        // The log line names the two images; the person reading it also needs their sizes.
        if (alphaInfo.Width != imageInfo.Width || alphaInfo.Height != imageInfo.Height) {
            FailureReason::note("the texture image is %ux%u, the alpha image %ux%u", imageInfo.Width,
                                imageInfo.Height, alphaInfo.Width, alphaInfo.Height);
        }
        if (alphaInfo.Width != imageInfo.Width) {
            log->logMessage(MessageLog::Error,
                            "Unable to add the texture %s with alpha %s because image width is different",
                            kFile, kAddTexture, 1917, textureName.c_str(), shownAlphaName.c_str());
            return false;
        }
        if (alphaInfo.Height != imageInfo.Height) {
            log->logMessage(MessageLog::Error,
                            "Unable to add the texture %s with alpha %s because image height is different",
                            kFile, kAddTexture, 1926, textureName.c_str(), shownAlphaName.c_str());
            return false;
        }
    }

    // Whether the image's own alpha decides anything: only a file that stores alpha can have any, and
    // only then must its pixels be looked at before the record's format is settled.
    const bool imageMayHaveAlpha = !withAlpha && imageStoresAlpha(imageInfo);
    const bool pixelsDecide = imageMayHaveAlpha && (options.keepImageAlpha || options.dxt3ForAlpha);
    Texture* source = nullptr;
    if ((pixelsDecide || resizes) &&
        FAILED(D3DXCreateTextureFromFileW(device, STDFunctions::stringToLPCWSTR(texturePath, widePathBuffer),
                                          &source))) {
        logError(kAddTexture, 2021, "Surface copy for new texture failed");
        return false;
    }
    if (resizes && !(source = resizedTexture(source, width, height))) {
        log->logMessage(MessageLog::Error, "Unable to resize texture %s from %ux%u to %ux%u", kFile,
                        kAddTexture, __LINE__, textureName.c_str(), imageInfo.Width, imageInfo.Height, width,
                        height);
        return false;
    }
    const LevelAlpha imageAlpha = pixelsDecide ? levelAlpha(source) : LevelAlpha{};
    if (imageAlpha.unknown) {
        source->Release();
        logError(kAddTexture, 2021, "Surface copy for new texture failed");
        return false;
    }
    const bool keptAlpha = options.keepImageAlpha && imageAlpha.transparent;
    if (options.dxt3ForAlpha && format == DXT1 && (withAlpha || keptAlpha))
        format = DXT3;
    if (keptAlpha)
        record.hasAlpha = 1;

    record.width = static_cast<std::int16_t>(width);
    record.height = static_cast<std::int16_t>(height);
    FormatChoice choice = chooseFormat(format, withAlpha || keptAlpha);
    record.depth = choice.depth;
    record.compression = choice.compression;
    record.rasterFormat = withAlpha || keptAlpha ? choice.rasterWithAlpha : choice.rasterWithoutAlpha;
    if (format == Bits32 || format == Bits8)
        record.mipLevels = 1;

    HRESULT created = D3DXCreateTexture(device, width, height, 1, D3DUSAGE_AUTOGENMIPMAP,
                                        choice.textureFormat, D3DPOOL_MANAGED, &record.texture);
    if (FAILED(created)) {
        if (source)
            source->Release();
        record.texture = nullptr;
        logTextureCreateError(created, record.name);
        logError(kAddTexture, 2011, "Unable to create new texture");
        return false;
    }

    // A header that reads does not promise pixels that do (a truncated file): either failure drops the
    // new texture instead of appending a blank one.
    bool copied =
        (source || SUCCEEDED(D3DXCreateTextureFromFileW(
                       device, STDFunctions::stringToLPCWSTR(texturePath, widePathBuffer), &source))) &&
        surfaceCopy(source, record.texture);
    // DXT1 keeps one bit of the image's own alpha; say so whenever that cuts something the image holds.
    const bool alphaCut =
        copied && format == DXT1 && imageMayHaveAlpha &&
        (source == nullptr ? false : (pixelsDecide ? imageAlpha : levelAlpha(source)).partial);
    if (source)
        source->Release();
    if (!copied) {
        logError(kAddTexture, 2021, "Surface copy for new texture failed");
        record.texture->Release();
        return false;
    }

    bool buildsMipChain = mipMaps && (format == DXT1 || format == DXT3);
    if (buildsMipChain)
        record.mipLevels = static_cast<std::uint8_t>(calculateMipLevels(record.width, record.height));

    bool changedBefore = changed;
    appendTexture(record);
    std::int32_t index = static_cast<std::int32_t>(getTextureCount()) - 1;
    const std::size_t addedLine = log->infoLines().size();
    log->logMessage(MessageLog::Info, "Added texture to archive: %s", kFile, kAddTexture, 2033,
                    textureName.c_str());

    // The caller asked for the alpha channel, the mip chain and (8-bit) colours a palette can hold; a
    // record without them is not what it asked for, so a failure of any takes the record out again.
    const bool greyMask = withAlpha && options.greyMasks && !imageStoresAlpha(alphaInfo);
    bool complete = (!withAlpha ||
                     (greyMask || resizes ? addAlphaImageFromFile(index, device, alphaPath, greyMask, resizes)
                                          : addAlphaChannelFromFile(index, device, alphaPath))) &&
                    (!buildsMipChain || generateMipMaps(index, device));
    if (complete && format == Bits8 && !reduceToPalette(textures.back().texture, options.dither)) {
        logError(kAddTexture, 2046, "Unable to reduce the colours of texture %s to a palette",
                 textureName.c_str());
        complete = false;
    }
    if (!complete) {
        textures.back().texture->Release();
        textures.pop_back();
        changed = changedBefore;
        log->withdrawInfoLine(addedLine);
        return false;
    }

    if (withAlpha && !greyMask && !imageStoresAlpha(alphaInfo)) {
        log->logMessage(MessageLog::Warning,
                        "The alpha image %s holds no alpha channel, so the texture is fully opaque; a grey "
                        "mask gives its grey level as alpha with quillpack --add",
                        kFile, kAddTexture, __LINE__, alphaPath.c_str());
    }
    if (alphaCut) {
        log->logMessage(MessageLog::Warning,
                        "The texture image %s has partly transparent pixels, and DXT1 keeps one bit of "
                        "alpha: below 128 transparent, the rest opaque",
                        kFile, kAddTexture, __LINE__, texturePath.c_str());
    }
    changed = true;
    return true;
}

bool TXDArchive::surfaceCopy(Texture*& source, Texture*& destination) {
    IDirect3DSurface9* sourceSurface = nullptr;
    if (FAILED(source->GetSurfaceLevel(0, &sourceSurface))) {
        logError("TXD::TXDArchive::surfaceCopy", 1791, "Unable to get source surface");
        return false;
    }
    IDirect3DSurface9* destinationSurface = nullptr;
    if (FAILED(destination->GetSurfaceLevel(0, &destinationSurface))) {
        sourceSurface->Release();
        logError("TXD::TXDArchive::surfaceCopy", 1799, "Unable to get destination surface");
        return false;
    }
    HRESULT result = D3DXLoadSurfaceFromSurface(destinationSurface, nullptr, nullptr, sourceSurface, nullptr,
                                                nullptr, D3DX_FILTER_NONE, 0);
    sourceSurface->Release();
    destinationSurface->Release();
    return SUCCEEDED(result);
}

void logTextureCreateError(HRESULT& result, std::string name) {
    const char* format = "Unable to create texture %s";
    int line = 110;
    if (result == D3DERR_OUTOFVIDEOMEMORY) {
        format = "Out of video memory when trying to creating texture %s";
        line = 98;
    } else if (result == D3DERR_INVALIDDEVICE) {
        format = "Invalid device when trying to creating texture %s";
        line = 104;
    } else if (result == D3DERR_INVALIDCALL) {
        format = "Invalid call when trying to creating texture %s";
        line = 92;
    }
    MessageLog::getInstance()->logMessage(MessageLog::Error, format, "txd\\TXDArchive",
                                          "TXD::logTextureCreateError", line, name.c_str());
}

std::int32_t calculateMipLevels(std::int16_t width, std::int16_t height) {
    auto halvings = [](std::int16_t side) {
        std::int32_t count = 0;
        for (std::int16_t value = side; value > 0; value = static_cast<std::int16_t>(value / 2))
            ++count;
        return count;
    };
    std::int32_t widthLevels = halvings(width);
    std::int32_t heightLevels = halvings(height);
    return widthLevels > heightLevels ? widthLevels : heightLevels;
}

}  // namespace TXD
