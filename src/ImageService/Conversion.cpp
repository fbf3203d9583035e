#include <cstring>

#include "ImageService/D3DX.h"
#include "ImageService/PixelFormats.h"
#include "ImageService/TestSeams.h"

namespace ImageService {
HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* destination, const void* destinationPalette,
                                   const RECT* destinationRect, IDirect3DSurface9* source,
                                   const void* sourcePalette, const RECT* sourceRect, DWORD /*filter*/,
                                   DWORD colorKey) {
    if (HRESULT fault = TestSeams::takeFault(Operation::LoadSurfaceFromSurface); FAILED(fault))
        return fault;
    // Only whole surfaces of palette-free formats are ever converted, and nothing is scaled, so the
    // filter never has work to do.
    if (!destination || !source || destinationPalette || sourcePalette || destinationRect || sourceRect) {
        return D3DERR_INVALIDCALL;
    }
    IDirect3DTexture9& to = *destination->texture();
    IDirect3DTexture9& from = *source->texture();
    const UINT toLevel = destination->level();
    const UINT fromLevel = source->level();
    const UINT width = from.width(fromLevel);
    const UINT height = from.height(fromLevel);
    if (to.width(toLevel) != width || to.height(toLevel) != height)
        return D3DERR_INVALIDCALL;
    if (to.isLocked(toLevel) || from.isLocked(fromLevel))
        return D3DERR_INVALIDCALL;

    // A straight copy keeps DXT blocks exactly as they are instead of compressing them a second time.
    // memmove, because source and destination may be the same level.
    if (to.format() == from.format() && colorKey == 0) {
        std::memmove(to.levelBytes(toLevel), from.levelBytes(fromLevel), from.levelSize(fromLevel));
        return D3D_OK;
    }

    // Formats differ, so source and destination are different levels and may be converted band by band.
    if (!formatInfo(from.format()) || !formatInfo(to.format()))
        return D3DERR_INVALIDCALL;
    if (!convertLevel(from.format(), from.levelBytes(fromLevel), to.format(), to.levelBytes(toLevel), width,
                      height, colorKey)) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

}  // namespace ImageService
