// Moves pixels between the formats a level can hold and RGBA8 (bytes R, G, B, A), the one layout in
// which conversion and mip filtering do their work. Uncompressed formats are packed and unpacked
// here; block formats are handed to BlockCodec. Callers own every buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ImageService/Texture.h"

namespace ImageService {

// `count` pixels of an uncompressed format to or from RGBA8. A format without an alpha byte reads as
// alpha 255; X8R8G8B8 writes 255 into its unused byte. False for any other format.
bool unpackPixels(D3DFORMAT format, const std::uint8_t* pixels, std::size_t count, std::uint8_t* rgba);
bool packPixels(D3DFORMAT format, const std::uint8_t* rgba, std::size_t count, std::uint8_t* pixels);

// A whole level, laid out as a texture holds it, to or from width x height RGBA8 pixels.
bool decodeLevel(D3DFORMAT format, const std::uint8_t* level, UINT width, UINT height, std::uint8_t* rgba);
bool encodeLevel(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT height, std::uint8_t* level);

// Bytes of a width x height RGBA8 image.
std::size_t rgbaByteSize(UINT width, UINT height);

}  // namespace ImageService
