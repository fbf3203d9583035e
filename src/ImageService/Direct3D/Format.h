// Pixel formats the service knows, and their facts in one table: everything that needs bytes per
// pixel, block size or alpha asks here instead of switching on the format.
#pragma once

#include <cstddef>
#include <optional>

#include "ImageService/Direct3D/Types.h"

namespace ImageService {

constexpr DWORD makeFourCC(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<unsigned char>(a)) |
           (static_cast<DWORD>(static_cast<unsigned char>(b)) << 8) |
           (static_cast<DWORD>(static_cast<unsigned char>(c)) << 16) |
           (static_cast<DWORD>(static_cast<unsigned char>(d)) << 24);
}

enum D3DFORMAT : DWORD {
    D3DFMT_UNKNOWN = 0,
    D3DFMT_R8G8B8 = 20,    // bytes B, G, R
    D3DFMT_A8R8G8B8 = 21,  // bytes B, G, R, A
    D3DFMT_X8R8G8B8 = 22,  // bytes B, G, R, unused (kept at 255)
    D3DFMT_R5G6B5 = 23,    // 16-bit layouts below exist only in files: widened to A8R8G8B8 on load
    D3DFMT_X1R5G5B5 = 24,
    D3DFMT_A1R5G5B5 = 25,
    D3DFMT_A4R4G4B4 = 26,
    D3DFMT_A8B8G8R8 = 32,  // bytes R, G, B, A
    D3DFMT_A8P8 = 40,
    D3DFMT_P8 = 41,
    D3DFMT_L8 = 50,
    D3DFMT_A8L8 = 51,
    D3DFMT_D24S8 = 75,
    D3DFMT_R32F = 114,  // float layouts exist only in files (PFM, Radiance): read into A8R8G8B8
    D3DFMT_A32B32G32R32F = 116,
    D3DFMT_DXT1 = makeFourCC('D', 'X', 'T', '1'),
    D3DFMT_DXT3 = makeFourCC('D', 'X', 'T', '3'),
    D3DFMT_DXT5 = makeFourCC('D', 'X', 'T', '5'),
};

struct FormatInfo {
    D3DFORMAT format;
    const char* name;
    bool blockCompressed;
    UINT bytesPerUnit;  // per pixel, or per 4x4 block when block-compressed
    bool hasAlpha;
};

// Facts of a format the service can hold in a texture; nullptr for any other.
const FormatInfo* formatInfo(D3DFORMAT format);

// Whether pixels of `format` carry alpha, for any format a file may store (held or not): image files
// report what they store, and a mask without alpha is read differently from one with it.
bool storesAlpha(D3DFORMAT format);

// Width and height of level `level` of a texture whose level 0 is width x height.
UINT levelExtent(UINT extent, UINT level);

// Bytes of one packed row (a row of blocks for DXT) and of a whole level. Empty when the format is
// unknown or the size does not fit in memory arithmetic.
std::optional<std::size_t> rowPitch(D3DFORMAT format, UINT width);
std::optional<std::size_t> levelByteSize(D3DFORMAT format, UINT width, UINT height);

// Largest side the service accepts; larger requests are refused before any allocation.
constexpr UINT kMaxTextureSide = 16384;

}  // namespace ImageService
