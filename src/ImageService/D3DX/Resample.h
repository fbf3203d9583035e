// Resizing a whole level to another size, for images whose sides must become powers of two. The
// filter is Lanczos-3 (a windowed sinc), separable, in linear light, on colour weighted by alpha; the
// bytes it writes are the same on every compiler, system and number of threads.
#pragma once

#include "ImageService/Direct3D/Texture.h"

namespace ImageService {

// The power of two nearest to `side` by value, a side half-way between two going up (3 -> 4,
// 300 -> 256, 384 -> 512), and at most kMaxTextureSide (20000 -> 16384); 1 for 0. A power of two
// stays as it is. Nearest by value rather than by ratio keeps more of the image's detail: 192, half-way
// by value, goes up to 256, where the nearest by ratio would be 128.
UINT nearestPowerOfTwo(UINT side);

// Level `fromLevel` of `from`, whole, resampled to the size of level `toLevel` of `to` and stored in
// its format (any pair the conversion handles: uncompressed or DXT either side). Colour is decoded
// from sRGB to linear light, multiplied by alpha (so transparent pixels lend no colour to their
// neighbours), filtered, divided by alpha and coded back with correct rounding; a fully transparent
// result keeps the colour of the transparent pixels around it. Taps beyond an edge read the edge
// pixel. Downscaling widens the filter by the ratio, so every source pixel counts.
// At most `maxThreads` threads (0: every core), with the same bytes for any count. All working memory
// is allocated before anything is written, and there is no intermediate image: per thread at most 25
// rows of the source width in floats (16 bytes a pixel: 6.6 MB for a side of 16384) and four rows of
// each side in bytes, plus weight tables of at most 7 x 16384 floats an axis. D3DERR_INVALIDCALL for
// formats the service cannot convert, or a level that is locked or is its own source; E_OUTOFMEMORY
// when the memory cannot be had. Either leaves the destination untouched.
HRESULT resampleLevel(IDirect3DTexture9& from, UINT fromLevel, IDirect3DTexture9& to, UINT toLevel,
                      unsigned maxThreads = 0);

}  // namespace ImageService
