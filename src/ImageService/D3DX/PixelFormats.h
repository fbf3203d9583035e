// Moves pixels between the formats a level can hold and RGBA8 (bytes R, G, B, A), the one layout in
// which conversion and mip filtering do their work. Uncompressed formats are packed and unpacked
// here; block formats are handed to BlockCodec. Callers own every buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ImageService/Direct3D/Texture.h"

namespace ImageService {

// `count` pixels of an uncompressed format to or from RGBA8. A format without an alpha byte reads as
// alpha 255; X8R8G8B8 writes 255 into its unused byte. False for any other format.
bool unpackPixels(D3DFORMAT format, const std::uint8_t* pixels, std::size_t count, std::uint8_t* rgba);
bool packPixels(D3DFORMAT format, const std::uint8_t* rgba, std::size_t count, std::uint8_t* pixels);

// A whole level, laid out as a texture holds it, to or from width x height RGBA8 pixels.
bool decodeLevel(D3DFORMAT format, const std::uint8_t* level, UINT width, UINT height, std::uint8_t* rgba);
bool encodeLevel(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT height, std::uint8_t* level);

// Converts a whole level between any two different formats through RGBA8, a band of four pixel rows
// (one row of blocks) at a time, on every core: no full-size intermediate image is ever made. A
// non-zero colour key (an ARGB colour) turns matching pixels transparent black. False for a format the
// service cannot hold; E_OUTOFMEMORY-worthy failures also give false.
bool convertLevel(D3DFORMAT from, const std::uint8_t* source, D3DFORMAT to, std::uint8_t* destination,
                  UINT width, UINT height, DWORD colorKey);

// The pieces of convertLevel, for callers that schedule bands themselves: whether the pair converts
// at all, how many bands a level has, and one band through the caller's RGBA8 buffer of width x 4
// pixels. A band converts the same whoever converts it and whenever.
bool convertible(D3DFORMAT from, D3DFORMAT to);
std::size_t bandCount(UINT height);
void convertLevelBand(D3DFORMAT from, const std::uint8_t* source, D3DFORMAT to, std::uint8_t* destination,
                      UINT width, UINT height, std::size_t band, DWORD colorKey, std::uint8_t* rgba);

// Bytes of a width x height RGBA8 image.
std::size_t rgbaByteSize(UINT width, UINT height);

}  // namespace ImageService
