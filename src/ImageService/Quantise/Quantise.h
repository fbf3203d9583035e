// Colour reduction for palettised records: an image of more colours than a palette holds is rewritten
// in place with at most 256 colours, chosen for the least squared error, so that a palette builder
// taking exact colours then finds room for all of them.
#pragma once

#include <cstdint>

namespace ImageService::Quantise {

constexpr std::uint32_t kMaxColours = 256;

struct Options {
    // Floyd-Steinberg error diffusion (serpentine). Off by default: textures are filtered and
    // mip-mapped, and a dither pattern shimmers there.
    bool dither = false;
    // At most this many threads (0: one per core). The result never depends on it.
    unsigned threads = 0;
};

// Pixels are 4 bytes each, B, G, R, A (the A8R8G8B8 layout), rows packed. An image of at most 256
// distinct colours (all 4 bytes compared) is left exactly as it is and the result is true. Otherwise
// every pixel becomes one of at most 256 colours chosen to minimise the squared error over all four
// channels (alpha takes part only when the image has non-opaque pixels: an opaque image stays opaque).
// The result is the same on every platform, thread count and instruction set.
// False only when working memory cannot be had (nothing changed then); an image of 2^32 pixels or
// more is refused that way too.
bool reduceColours(std::uint8_t* bgra, std::uint32_t width, std::uint32_t height, const Options& options);

}  // namespace ImageService::Quantise
