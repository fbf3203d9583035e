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

    if (&to == &from && toLevel == fromLevel && colorKey == 0)
        return D3D_OK;
    if (!formatInfo(from.format()) || !formatInfo(to.format()))
        return D3DERR_INVALIDCALL;

    // A block level that still has the pixels it was made from is read from those, so colour is
    // compressed once however often the level is converted back and forth (the alpha merge does).
    IDirect3DTexture9* origin = &from;
    UINT originLevel = fromLevel;
    if (to.format() != from.format() || colorKey != 0) {
        UINT exactLevel = 0;
        if (IDirect3DTexture9* exact = from.exactPixels(fromLevel, &exactLevel)) {
            origin = exact;
            originLevel = exactLevel;
        }
    }
    origin->AddRef();  // the write below may drop the last other reference to it
    HRESULT result = D3D_OK;
    if (origin->format() == to.format() && colorKey == 0) {
        // A straight copy keeps DXT blocks exactly as they are instead of compressing them again.
        std::memmove(to.levelBytes(toLevel), origin->levelBytes(originLevel), to.levelSize(toLevel));
    } else if (!convertLevel(origin->format(), origin->levelBytes(originLevel), to.format(),
                             to.levelBytes(toLevel), width, height, colorKey)) {
        result = E_OUTOFMEMORY;
    }

    UINT keptLevel = 0;
    IDirect3DTexture9* kept = origin == &from ? from.exactPixels(fromLevel, &keptLevel) : nullptr;
    if (kept)
        kept->AddRef();
    to.markWritten(toLevel);
    if (SUCCEEDED(result) && colorKey == 0) {
        if (kept)
            to.keepExactPixels(toLevel, kept, keptLevel);  // a block copy carries the source's pixels along
        else if (formatInfo(to.format())->blockCompressed)
            to.keepExactPixels(toLevel, origin, originLevel);
    }
    if (kept)
        kept->Release();
    origin->Release();
    return result;
}

}  // namespace ImageService
