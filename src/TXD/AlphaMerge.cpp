// Merging an alpha image into level 0 of a record's texture: the alpha byte of each pixel of the
// alpha image replaces the texture's alpha; red, green and blue stay. Both sides are worked on as
// 32-bit R,G,B,A copies and the result is converted back into the texture's own format.
#include "Common/MessageLog.h"
#include "Common/STDFunctions/STDFunctions.h"
#include "ImageService/D3DX.h"
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

// Writes the alpha of each alpha pixel into the matching colour pixel, working on the locked levels
// directly: one pass, no extra copies of either image.
bool mergeAlpha(Texture* alphaValues, Texture* mixer, std::int64_t pixelCount) {
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
    for (std::int64_t i = 0; i < pixelCount; ++i)
        colour[4 * i + 3] = alpha[4 * i + 3];
    mixer->UnlockRect(0);
    alphaValues->UnlockRect(0);
    return true;
}

}  // namespace

bool TXDArchive::addAlphaChannelFromFile(std::int32_t textureIndex, Device*& device, std::string alphaPath) {
    MessageLog* log = MessageLog::getInstance();
    std::int32_t count = static_cast<std::int32_t>(getTextureCount());
    if (textureIndex < 0 || textureIndex >= count) {
        log->logMessage(MessageLog::Error, "Texture index %i is outside list of textures %i", kFile,
                        kFromFile, 979, textureIndex, count);
        return false;
    }
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

    Texture* alphaTexture = nullptr;
    HRESULT loaded = D3DXCreateTextureFromFileW(
        device, STDFunctions::stringToLPCWSTR(alphaPath, widePathBuffer), &alphaTexture);
    if (FAILED(loaded)) {
        logTextureCreateError(loaded, "None");
        logError(kFromFile, 1023, "Unable to complete the add alpha channel, alpha texture load failed");
        return false;
    }
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

    // Sizes come from the record; a negative one (a corrupt record) makes no working texture.
    UINT workingWidth = static_cast<UINT>(width < 0 ? 0 : width);
    UINT workingHeight = static_cast<UINT>(height < 0 ? 0 : height);

    Texture* alphaValues = nullptr;
    HRESULT created = D3DXCreateTexture(device, workingWidth, workingHeight, 1, 0, kWorkingFormat,
                                        D3DPOOL_MANAGED, &alphaValues);
    if (FAILED(created)) {
        logTextureCreateError(created, "None");
        logError(kFromTexture, 1228,
                 "Unable to complete the add alpha channel, create alpha value texture failed");
        return false;
    }
    if (!surfaceCopy(alphaTexture, alphaValues)) {
        logError(kFromTexture, 1235, "Surface copy of source alpha onto colour value alpha failed");
        alphaValues->Release();
        return false;
    }

    Texture* mixer = nullptr;
    created =
        D3DXCreateTexture(device, workingWidth, workingHeight, 1, 0, kWorkingFormat, D3DPOOL_MANAGED, &mixer);
    if (FAILED(created)) {
        logTextureCreateError(created, "None");
        logError(kFromTexture, 1257, "Unable to complete the add alpha channel, create mixer texture failed");
        alphaValues->Release();
        return false;
    }
    if (!surfaceCopy(record.texture, mixer)) {
        logError(kFromTexture, 1268, "Unable to copy the source texture onto the mixer texture");
        alphaValues->Release();
        mixer->Release();
        return false;
    }

    std::int64_t pixelCount = static_cast<std::int64_t>(width) * height;
    if (pixelCount > 0 && !mergeAlpha(alphaValues, mixer, pixelCount)) {
        logError(kFromTexture, 1290, "Unable to lock the textures for the alpha merge");
        alphaValues->Release();
        mixer->Release();
        return false;
    }

    if (!surfaceCopy(mixer, record.texture)) {
        logError(kFromTexture, 1329, "Unable to copy the mixer onto the source texture");
        alphaValues->Release();
        mixer->Release();
        return false;
    }
    alphaValues->Release();
    mixer->Release();
    changed = true;
    return true;
}

}  // namespace TXD
