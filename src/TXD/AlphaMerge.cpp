// Merging an alpha image into level 0 of a record's texture: the alpha byte of each pixel of the
// alpha image replaces the texture's alpha; red, green and blue stay. Both sides are worked on as
// 32-bit R,G,B,A copies, a band of rows at a time, and each merged band is converted back into the
// texture's own format.
#include "Common/MessageLog.h"
#include "Common/STDFunctions/STDFunctions.h"
#include "ImageService/D3DX/D3DX.h"
#include "TXD/TXDArchive.h"

using namespace ImageService;

namespace TXD {
namespace {

constexpr const char* kFile = "TXD\\TXDArchive";
constexpr const char* kFromFile = "TXD::TXDArchive::addAlphaChannelFromFile";
constexpr const char* kFromTexture = "TXD::TXDArchive::addAlphaChannelFromTexture";
constexpr D3DFORMAT kWorkingFormat = D3DFMT_A8B8G8R8;  // bytes R, G, B, A: alpha is byte 3

void logError(const char* function, int line, const char* format, const char* text = nullptr) {
    MessageLog::getInstance()->logMessage(MessageLog::Error, format, kFile, function, line, text);
}

// The merge works on bands of rows of about this many bytes, so its working textures stay small
// whatever the image's size; 4 rows at least, one row of blocks.
constexpr std::size_t kBandBytes = std::size_t{8} << 20;

UINT bandRows(UINT width, UINT height) {
    std::size_t rows = kBandBytes / (std::size_t{width} * 4) / 4 * 4;
    if (rows < 4)
        rows = 4;
    return rows < height ? static_cast<UINT>(rows) : height;
}

// Level 0 rows [top, bottom) of `source` onto level 0 rows [destinationTop, ...) of `destination`.
bool copyRows(Texture* source, UINT sourceTop, Texture* destination, UINT destinationTop, UINT width,
              UINT rows) {
    IDirect3DSurface9* from = nullptr;
    IDirect3DSurface9* to = nullptr;
    bool copied = false;
    if (SUCCEEDED(source->GetSurfaceLevel(0, &from)) && SUCCEEDED(destination->GetSurfaceLevel(0, &to))) {
        RECT fromRect{0, static_cast<std::int32_t>(sourceTop), static_cast<std::int32_t>(width),
                      static_cast<std::int32_t>(sourceTop + rows)};
        RECT toRect{0, static_cast<std::int32_t>(destinationTop), static_cast<std::int32_t>(width),
                    static_cast<std::int32_t>(destinationTop + rows)};
        copied = SUCCEEDED(
            D3DXLoadSurfaceFromSurface(to, nullptr, &toRect, from, nullptr, &fromRect, D3DX_FILTER_NONE, 0));
    }
    if (from)
        from->Release();
    if (to)
        to->Release();
    return copied;
}

// Writes the alpha of each alpha pixel into the matching colour pixel, working on the locked levels
// directly: one pass, no extra copies of either band.
bool mergeAlpha(Texture* alphaValues, Texture* mixer, std::size_t pixelCount) {
    D3DLOCKED_RECT alphaLock;
    if (FAILED(alphaValues->LockRect(0, &alphaLock, nullptr, 0)))
        return false;
    D3DLOCKED_RECT mixerLock;
    if (FAILED(mixer->LockRect(0, &mixerLock, nullptr, 0))) {
        alphaValues->UnlockRect(0);
        return false;
    }
    const auto* alpha = static_cast<const std::uint8_t*>(alphaLock.pBits);
    auto* colour = static_cast<std::uint8_t*>(mixerLock.pBits);
    for (std::size_t i = 0; i < pixelCount; ++i)
        colour[4 * i + 3] = alpha[4 * i + 3];
    mixer->UnlockRect(0);
    alphaValues->UnlockRect(0);
    return true;
}

// A copy of level 0 of `image` whose alpha is each pixel's grey level: Rec. 601 luma, rounded, which
// is the grey itself for a grey image. Nullptr when the copy cannot be made.
Texture* greyAsAlpha(Texture* image) {
    Texture* grey = nullptr;
    if (FAILED(copyLevelToTexture(image, 0, kWorkingFormat, 0, 0, &grey)))
        return nullptr;
    std::uint8_t* pixels = grey->levelBytes(0);
    const std::size_t count = grey->levelSize(0) / 4;
    for (std::size_t i = 0; i < count; ++i, pixels += 4)
        pixels[3] = static_cast<std::uint8_t>(
            (299u * pixels[0] + 587u * pixels[1] + 114u * pixels[2] + 500u) / 1000u);
    grey->markWritten(0);
    return grey;
}

}  // namespace

Texture* TXDArchive::loadAlphaImage(Device*& device, const std::string& path) {
    Texture* image = nullptr;
    HRESULT loaded =
        D3DXCreateTextureFromFileW(device, STDFunctions::stringToLPCWSTR(path, widePathBuffer), &image);
    if (SUCCEEDED(loaded))
        return image;
    logTextureCreateError(loaded, "None");
    logError(kFromFile, 1023, "Unable to complete the add alpha channel, alpha texture load failed");
    return nullptr;
}

bool TXDArchive::addAlphaImageFromFile(std::int32_t textureIndex, Device*& device,
                                       const std::string& alphaPath, bool greyLevel, bool resize) {
    if (!checkTextureIndex(textureIndex, kFromFile, 979))
        return false;
    Texture* image = loadAlphaImage(device, alphaPath);
    if (!image)
        return false;
    TextureRecord& record = getTexture(static_cast<std::uint32_t>(textureIndex));
    const UINT width = static_cast<UINT>(record.width);
    const UINT height = static_cast<UINT>(record.height);
    // Grey to alpha before any resizing, so that the filter works on the alpha it will store.
    Texture* alpha = greyLevel ? greyAsAlpha(image) : image;
    if (alpha != image)
        image->Release();
    if (alpha && resize && (alpha->width() != width || alpha->height() != height)) {
        Texture* resized = nullptr;
        if (FAILED(copyLevelToTexture(alpha, 0, kWorkingFormat, width, height, &resized)))
            resized = nullptr;
        alpha->Release();
        alpha = resized;
    }
    if (alpha && (alpha->width() != width || alpha->height() != height)) {
        alpha->Release();
        alpha = nullptr;
    }
    if (!alpha) {
        logError(kFromFile, 1023, "Unable to complete the add alpha channel, alpha texture load failed");
        return false;
    }
    std::int32_t mergeWidth = record.width;
    std::int32_t mergeHeight = record.height;
    bool merged = addAlphaChannelFromTexture(device, record, alpha, mergeWidth, mergeHeight);
    alpha->Release();
    return merged;
}

bool TXDArchive::addAlphaChannelFromFile(std::int32_t textureIndex, Device*& device, std::string alphaPath) {
    if (!checkTextureIndex(textureIndex, kFromFile, 979))
        return false;
    MessageLog* log = MessageLog::getInstance();
    if (!STDFunctions::fileExists(alphaPath)) {
        logError(kFromFile, 985, "Alpha path is not valid: %s", alphaPath.c_str());
        return false;
    }
    D3DXIMAGE_INFO info{};
    if (FAILED(D3DXGetImageInfoFromFileW(STDFunctions::stringToLPCWSTR(alphaPath, widePathBuffer), &info))) {
        logError(kFromFile, 997, "Can't add an alpha channel, unable to get Image Information about %s",
                 alphaPath.c_str());
        return false;
    }
    TextureRecord& record = getTexture(static_cast<std::uint32_t>(textureIndex));
    if (static_cast<std::int16_t>(info.Height) != record.height ||
        static_cast<std::int16_t>(info.Width) != record.width) {
        // Each pair reads height x width.
        log->logMessage(
            MessageLog::Error,
            "Unable to add the alpha channel, the source texture is %ix%i and the destination texture "
            "is %ix%i",
            kFile, kFromFile, 1011, static_cast<int>(info.Height), static_cast<int>(info.Width),
            static_cast<int>(record.height), static_cast<int>(record.width));
        return false;
    }

    Texture* alphaTexture = loadAlphaImage(device, alphaPath);
    if (!alphaTexture)
        return false;
    std::int32_t width = record.width;
    std::int32_t height = record.height;
    bool merged = addAlphaChannelFromTexture(device, record, alphaTexture, width, height);
    alphaTexture->Release();
    return merged;
}

bool TXDArchive::addAlphaChannelFromTexture(Device*& device, TextureRecord& record, Texture*& alphaTexture,
                                            std::int32_t& width, std::int32_t& height) {
    MessageLog::getInstance()->logMessage(MessageLog::Info, "--- JUST GOT CALLED -- ", kFile, kFromTexture,
                                          1212);

    // An image without pixels (a side of 0 or less, as a corrupt record may state) has nothing to
    // merge: the call ends as a merge of no rows does, leaving the texture as it was.
    if (width <= 0 || height <= 0)
        return true;
    if (!record.texture || !alphaTexture) {
        logError(kFromTexture, 1220, "Unable to complete the add alpha channel, a texture is missing");
        return false;
    }
    // The working textures hold one band of rows each, not the whole image: the merge runs band by
    // band, so it costs a few megabytes beside the two images whatever their size.
    UINT workingWidth = static_cast<UINT>(width);
    UINT workingHeight = static_cast<UINT>(height);
    UINT rows = bandRows(workingWidth, workingHeight);

    Texture* alphaValues = nullptr;
    HRESULT created =
        D3DXCreateTexture(device, workingWidth, rows, 1, 0, kWorkingFormat, D3DPOOL_MANAGED, &alphaValues);
    if (FAILED(created)) {
        logTextureCreateError(created, "None");
        logError(kFromTexture, 1228,
                 "Unable to complete the add alpha channel, create alpha value texture failed");
        return false;
    }
    // Each band: the alpha image's rows and the texture's rows into the working textures, alpha bytes
    // across, the merged rows back into the texture. The last band may be shorter: it uses the top of
    // the working textures. The mixer is made after the first alpha band is in, as a merge of whole
    // images makes it after the alpha copy. A failure in a later band (only an allocation or a lock
    // can fail there) leaves the earlier bands merged; addTexture then drops the whole record.
    Texture* mixer = nullptr;
    for (UINT top = 0; top < workingHeight; top += rows) {
        const UINT count = workingHeight - top < rows ? workingHeight - top : rows;
        const char* failure = nullptr;
        int line = 0;
        if (!copyRows(alphaTexture, top, alphaValues, 0, workingWidth, count)) {
            failure = "Surface copy of source alpha onto colour value alpha failed";
            line = 1235;
        } else if (!mixer && FAILED(created = D3DXCreateTexture(device, workingWidth, rows, 1, 0,
                                                                kWorkingFormat, D3DPOOL_MANAGED, &mixer))) {
            mixer = nullptr;
            logTextureCreateError(created, "None");
            failure = "Unable to complete the add alpha channel, create mixer texture failed";
            line = 1257;
        } else if (!copyRows(record.texture, top, mixer, 0, workingWidth, count)) {
            failure = "Unable to copy the source texture onto the mixer texture";
            line = 1268;
        } else if (!mergeAlpha(alphaValues, mixer, std::size_t{workingWidth} * count)) {
            failure = "Unable to lock the textures for the alpha merge";
            line = 1290;
        } else if (!copyRows(mixer, 0, record.texture, top, workingWidth, count)) {
            failure = "Unable to copy the mixer onto the source texture";
            line = 1329;
        }
        if (failure) {
            logError(kFromTexture, line, failure);
            alphaValues->Release();
            if (mixer)
                mixer->Release();
            return false;
        }
    }

    alphaValues->Release();
    if (mixer)
        mixer->Release();
    changed = true;
    return true;
}

}  // namespace TXD
