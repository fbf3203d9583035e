// The one place where RGBA8 pixels become 4x4 colour blocks (DXT1, DXT3, DXT5) and back. Everything
// that compresses goes through compressImage, so that another encoder can replace libsquish here
// alone. RGBA8 means bytes R, G, B, A per pixel, rows packed without gaps.
#pragma once

#include <cstdint>

#include "ImageService/Format.h"

namespace ImageService {

// Sides need not be multiples of 4: blocks on the right and bottom edges are fitted to the pixels
// that exist. `blocks` receives levelByteSize(format, width, height) bytes. DXT1 stores a pixel whose
// alpha is below 128 as the transparent colour of a 3-colour block; DXT3 keeps alpha to the nearest
// of 16 steps. False, with nothing written, for a format that is not block-compressed.
bool compressImage(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT height, std::uint8_t* blocks);

// Writes exactly width x height RGBA8 pixels, none beyond the image.
bool decompressImage(D3DFORMAT format, const std::uint8_t* blocks, UINT width, UINT height,
                     std::uint8_t* rgba);

}  // namespace ImageService
