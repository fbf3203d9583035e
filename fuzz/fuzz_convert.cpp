// Arbitrary pixels of arbitrary small sizes through every format conversion, block compression and
// the mip filter. The first four bytes choose the case; the rest are the source pixels.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ImageService/D3DX/D3DX.h"

using namespace ImageService;

namespace {

constexpr D3DFORMAT kFormats[] = {D3DFMT_R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A8B8G8R8,
                                  D3DFMT_DXT1,   D3DFMT_DXT3,     D3DFMT_DXT5};
constexpr std::size_t kFormatCount = sizeof kFormats / sizeof kFormats[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    UINT width = 1 + data[0] % 64;
    UINT height = 1 + data[1] % 64;
    D3DFORMAT from = kFormats[data[2] % kFormatCount];
    D3DFORMAT to = kFormats[data[3] % kFormatCount];
    bool chain = (data[2] / kFormatCount) & 1;
    data += 4;
    size -= 4;

    IDirect3DTexture9* source = nullptr;
    IDirect3DTexture9* destination = nullptr;
    if (FAILED(IDirect3DTexture9::create(width, height, 1, 0, from, D3DPOOL_MANAGED, &source)))
        return 0;
    if (FAILED(
            IDirect3DTexture9::create(width, height, chain ? 0 : 1, 0, to, D3DPOOL_MANAGED, &destination))) {
        source->Release();
        return 0;
    }
    if (size > 0)
        std::memcpy(source->levelBytes(0), data, std::min(size, source->levelSize(0)));

    IDirect3DSurface9* from0 = nullptr;
    IDirect3DSurface9* to0 = nullptr;
    source->GetSurfaceLevel(0, &from0);
    destination->GetSurfaceLevel(0, &to0);
    D3DXLoadSurfaceFromSurface(to0, nullptr, nullptr, from0, nullptr, nullptr, D3DX_FILTER_NONE, 0);
    if (chain)
        D3DXFilterTexture(destination, nullptr, 0, D3DX_DEFAULT);
    from0->Release();
    to0->Release();
    source->Release();
    destination->Release();
    return 0;
}
