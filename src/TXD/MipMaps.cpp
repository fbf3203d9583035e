// Giving a block-compressed record its full mip chain: a new texture with every level, level 0 copied
// across, the rest filtered from it. The swap happens only once the whole chain stands, so the
// record's level count always matches the levels its texture has.
#include "Common/MessageLog.h"
#include "ImageService/D3DX/D3DX.h"
#include "TXD/TXDArchive.h"

using namespace ImageService;

namespace TXD {
namespace {

constexpr const char* kFile = "TXD\\TXDArchive";
constexpr const char* kFunction = "TXD::TXDArchive::generateMipMaps";

void logError(int line, const char* message) {
    MessageLog::getInstance()->logMessage(MessageLog::Error, "%s", kFile, kFunction, line, message);
}

// Level 0 of `source` copied onto level 0 of `chain`, then the smaller levels filtered from it.
bool fillChain(Texture* source, Texture* chain) {
    IDirect3DSurface9* from = nullptr;
    IDirect3DSurface9* to = nullptr;
    if (FAILED(source->GetSurfaceLevel(0, &from)) || FAILED(chain->GetSurfaceLevel(0, &to))) {
        if (from)
            from->Release();
        logError(1541, "Unable to get the level 0 surfaces for MipMap generation");
        return false;
    }
    HRESULT copied =
        D3DXLoadSurfaceFromSurface(to, nullptr, nullptr, from, nullptr, nullptr, D3DX_DEFAULT, 0);
    from->Release();
    to->Release();
    if (FAILED(copied)) {
        logError(1549, "Unable to copy level 0 for MipMap generation");
        return false;
    }
    if (FAILED(D3DXFilterTexture(chain, nullptr, 0, D3DX_DEFAULT))) {
        logError(1556, "Unable to filter the MipMap levels");
        return false;
    }
    return true;
}

}  // namespace

bool TXDArchive::generateMipMaps(const std::int32_t& textureIndex, Device*& device) {
    if (!checkTextureIndex(textureIndex, kFunction, 1512))
        return false;
    MessageLog* log = MessageLog::getInstance();
    TextureRecord& record = getTexture(static_cast<std::uint32_t>(textureIndex));
    if (record.depth == 8 || record.depth == 32) {
        log->logMessage(MessageLog::Info, "You can't generate MipMap's on an 8bit or 32bit texture", kFile,
                        kFunction, 1518);
        return false;
    }

    D3DSURFACE_DESC description{};
    if (FAILED(record.texture->GetLevelDesc(0, &description))) {
        logError(1524, "Unable to read the texture description for MipMap generation");
        return false;
    }
    std::int32_t levels = calculateMipLevels(record.width, record.height);
    Texture* chain = nullptr;
    if (FAILED(device->CreateTexture(static_cast<UINT>(record.width), static_cast<UINT>(record.height),
                                     static_cast<UINT>(levels), 0, description.Format, D3DPOOL_MANAGED,
                                     &chain, nullptr))) {
        log->logMessage(MessageLog::Error, "Failed to create texture for MipMap generation", kFile, kFunction,
                        1535);
        return false;
    }
    if (!fillChain(record.texture, chain)) {
        chain->Release();
        return false;
    }

    record.texture->Release();
    record.texture = chain;
    record.mipLevels = static_cast<std::uint8_t>(levels);
    changed = true;
    return true;
}

}  // namespace TXD
