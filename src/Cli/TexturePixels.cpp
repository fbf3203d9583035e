#include "Cli/TexturePixels.h"

#include "ImageService/D3DX/D3DX.h"

namespace Cli {

using namespace ImageService;

bool rgbaOf(IDirect3DTexture9* texture, std::uint32_t level, std::vector<std::uint8_t>& pixels) {
    IDirect3DTexture9* plain = nullptr;
    if (!texture || level >= texture->GetLevelCount() ||
        FAILED(IDirect3DTexture9::create(texture->width(level), texture->height(level), 1, 0, D3DFMT_A8B8G8R8,
                                         D3DPOOL_MANAGED, &plain)))
        return false;
    IDirect3DSurface9* from = nullptr;
    IDirect3DSurface9* to = nullptr;
    bool converted = SUCCEEDED(texture->GetSurfaceLevel(level, &from)) &&
                     SUCCEEDED(plain->GetSurfaceLevel(0, &to)) &&
                     SUCCEEDED(D3DXLoadSurfaceFromSurface(to, nullptr, nullptr, from, nullptr, nullptr,
                                                          D3DX_FILTER_NONE, 0));
    if (from)
        from->Release();
    if (to)
        to->Release();
    if (converted)
        pixels.assign(plain->levelBytes(0), plain->levelBytes(0) + plain->levelSize(0));
    plain->Release();
    return converted;
}

}  // namespace Cli
