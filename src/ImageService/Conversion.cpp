#include <cstring>

#include "ImageService/D3DX.h"
#include "ImageService/PixelFormats.h"
#include "ImageService/TestSeams.h"

namespace ImageService {
namespace {

// The key is an ARGB colour whatever the formats; a match becomes transparent black.
void applyColorKey(std::uint8_t* rgba, std::size_t count, DWORD colorKey) {
    const std::uint8_t key[4] = {
        static_cast<std::uint8_t>(colorKey >> 16), static_cast<std::uint8_t>(colorKey >> 8),
        static_cast<std::uint8_t>(colorKey), static_cast<std::uint8_t>(colorKey >> 24)};
    for (std::size_t i = 0; i < count; ++i, rgba += 4) {
        if (std::memcmp(rgba, key, 4) == 0)
            std::memset(rgba, 0, 4);
    }
}

}  // namespace

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

    // Decoding into a buffer of its own before anything is written keeps an aliased level intact.
    PixelBuffer rgba = PixelBuffer::allocate(rgbaByteSize(width, height));
    if (rgba.empty())
        return E_OUTOFMEMORY;
    if (!decodeLevel(from.format(), from.levelBytes(fromLevel), width, height, rgba.data())) {
        return D3DERR_INVALIDCALL;
    }
    if (colorKey != 0)
        applyColorKey(rgba.data(), static_cast<std::size_t>(width) * height, colorKey);
    if (!encodeLevel(to.format(), rgba.data(), width, height, to.levelBytes(toLevel)))
        return D3DERR_INVALIDCALL;
    return D3D_OK;
}

}  // namespace ImageService
