#include "Cli/TexturePixels.h"

#include "ImageService/D3DX/D3DX.h"

namespace Cli {

using namespace ImageService;

bool rgbaOf(IDirect3DTexture9* texture, std::uint32_t level, std::vector<std::uint8_t>& pixels) {
    IDirect3DTexture9* plain = nullptr;
    if (FAILED(copyLevelToTexture(texture, level, D3DFMT_A8B8G8R8, 0, 0, &plain)))
        return false;
    pixels.assign(plain->levelBytes(0), plain->levelBytes(0) + plain->levelSize(0));
    plain->Release();
    return true;
}

}  // namespace Cli
