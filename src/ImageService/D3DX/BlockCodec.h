// The one place where RGBA8 pixels become 4x4 colour blocks (DXT1, DXT3, DXT5) and back, so that the
// encoder can be replaced here alone. RGBA8 means bytes R, G, B, A per pixel, rows packed without
// gaps. Whole images are spread over all cores one row of blocks at a time.
#pragma once

#include <cstdint>

#include "ImageService/Direct3D/Format.h"

namespace ImageService {

// Which encoder makes DXT1 and DXT3 blocks: our own (the default: better and many times faster), or
// libsquish's cluster fit, the reference that tests and benchmarks measure it against. DXT5 and all
// decompression always use libsquish.
enum class BlockEncoder { Quillpack, Squish };
void useBlockEncoder(BlockEncoder encoder);
BlockEncoder blockEncoder();

// Sides need not be multiples of 4: blocks on the right and bottom edges are fitted to the pixels
// that exist. `blocks` receives levelByteSize(format, width, height) bytes. DXT1 stores a pixel whose
// alpha is below 128 as the transparent colour of a 3-colour block; DXT3 keeps alpha to the nearest
// of 16 steps. False, with nothing written, for a format that is not block-compressed.
bool compressImage(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT height, std::uint8_t* blocks);

// Writes exactly width x height RGBA8 pixels, none beyond the image.
bool decompressImage(D3DFORMAT format, const std::uint8_t* blocks, UINT width, UINT height,
                     std::uint8_t* rgba);

// One row of blocks on the calling thread: `rows` (1 to 4) pixel rows of `width` RGBA8 pixels in, or
// out. The format must be block-compressed.
void compressBlockRow(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT rows,
                      std::uint8_t* blocks);
void decompressBlockRow(D3DFORMAT format, const std::uint8_t* blocks, UINT width, UINT rows,
                        std::uint8_t* rgba);

}  // namespace ImageService
