// The utility operations of the service: image files, texture creation, conversion between formats
// (with block compression) and resizing, mip filtering, and the inert drawing helpers. Each is defined
// in the file named after its job (ImageFile.cpp, Conversion.cpp, MipFilter.cpp, Extras.cpp).
#pragma once

#include "ImageService/Decode/ImageFileFormat.h"
#include "ImageService/Direct3D/Device.h"
#include "ImageService/Direct3D/Texture.h"

namespace ImageService {

struct D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;
    D3DFORMAT Format;
    DWORD ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
};

// Image files (ImageFile.cpp). The size comes from the header alone; a file that is not a readable,
// supported image, or whose header promises more than the file or the limits allow, is refused.
HRESULT D3DXGetImageInfoFromFileW(LPCWSTR path, D3DXIMAGE_INFO* info);
// Whether the file at `path` is an image by its content (a known signature, or a header only an image
// of a format without one has), however damaged the rest: what a folder of textures counts as its
// images. GIF and PSD files are images too, which the service then refuses by name.
bool isImageFile(LPCWSTR path);
// Whether the file behind `info` stores alpha (an alpha channel or transparency), so that its decoded
// alpha means something. Floating-point files report a four-channel format but never hold alpha.
bool imageStoresAlpha(const D3DXIMAGE_INFO& info);
// Level 0 holds the whole image at its own size: A8R8G8B8 for ordinary images, the file's own format
// for DDS files the service can hold.
HRESULT D3DXCreateTextureFromFileW(IDirect3DDevice9* device, LPCWSTR path, IDirect3DTexture9** texture);

// Texture creation through the utility library (Extras.cpp): as the device's CreateTexture.
HRESULT D3DXCreateTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT levels, DWORD usage,
                          D3DFORMAT format, DWORD pool, IDirect3DTexture9** texture);

// Whole-surface conversion into the destination's format (Conversion.cpp). Same format in and out
// copies the bytes. Whole levels of different sizes are resampled when the filter is
// D3DX_FILTER_TRIANGLE or D3DX_DEFAULT (Lanczos-3 in linear light, see Resample.h), without a colour
// key; with any other filter the sizes must match.
HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* destination, const void* destinationPalette,
                                   const RECT* destinationRect, IDirect3DSurface9* source,
                                   const void* sourcePalette, const RECT* sourceRect, DWORD filter,
                                   DWORD colorKey);

// Level `level` of `source` as a new texture of one level in `format` (Conversion.cpp): converted
// without filtering, or, given another `width` x `height` (0 x 0: the level's own), resampled as
// D3DX_FILTER_TRIANGLE does. The caller releases the copy; on failure nothing is made.
HRESULT copyLevelToTexture(IDirect3DTexture9* source, UINT level, D3DFORMAT format, UINT width, UINT height,
                           IDirect3DTexture9** copy);

// Levels below `sourceLevel` from it by a 2x2 box average (MipFilter.cpp).
HRESULT D3DXFilterTexture(IDirect3DTexture9* texture, const void* palette, UINT sourceLevel, DWORD filter);

// Inert drawing helpers (Extras.cpp): they hold what was asked and are never drawn with.
class ID3DXFont : public IUnknown {
public:
    INT height = 0;
    UINT width = 0;
    UINT weight = 0;
    UINT mipLevels = 0;
    BOOL italic = 0;
    DWORD charSet = 0;
    DWORD outputPrecision = 0;
    DWORD quality = 0;
    DWORD pitchAndFamily = 0;
    char16_t faceName[32] = {};

private:
    friend HRESULT D3DXCreateFontW(IDirect3DDevice9*, INT, UINT, UINT, UINT, BOOL, DWORD, DWORD, DWORD, DWORD,
                                   LPCWSTR, ID3DXFont**);
    ID3DXFont() = default;
};

class ID3DXSprite : public IUnknown {
private:
    friend HRESULT D3DXCreateSprite(IDirect3DDevice9*, ID3DXSprite**);
    ID3DXSprite() = default;
};

HRESULT D3DXCreateFontW(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels,
                        BOOL italic, DWORD charSet, DWORD outputPrecision, DWORD quality,
                        DWORD pitchAndFamily, LPCWSTR faceName, ID3DXFont** font);
HRESULT D3DXCreateSprite(IDirect3DDevice9* device, ID3DXSprite** sprite);

// The right-handed perspective projection: y scale = cot(fovy / 2), x scale = y scale / aspect;
// nullptr for a null `out`.
D3DMATRIX* D3DXMatrixPerspectiveFovRH(D3DMATRIX* out, float fovY, float aspect, float zNear, float zFar);

}  // namespace ImageService
