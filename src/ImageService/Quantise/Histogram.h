// Counting an image's colours: the distinct colours with their pixel counts, in ascending order of
// their packed value, and a table from a pixel back to its colour's position. When there are more than
// the clustering can take quickly, the low bits of every channel are dropped until they fit; each
// group of colours then keeps the exact sums of its pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ImageService/Quantise/ColourTable.h"
#include "ImageService/Quantise/Colours.h"

namespace ImageService::Quantise {

struct Histogram {
    std::uint32_t keyMask = 0xFFFFFFFF;  // a pixel's packed value & keyMask is its group's key
    Samples samples;                     // in ascending key order
    ColourTable positions;               // key -> position in samples + 1

    bool exact() const { return keyMask == 0xFFFFFFFF; }
    std::size_t positionOf(const std::uint8_t* pixel) const {
        return positions.find(loadPixel(pixel) & keyMask) - 1;
    }
};

// Fills `histogram` with at most `maxSamples` groups (exact colours when they fit). Throws std::bad_alloc
// when memory runs out, in any of the threads.
void countColours(const std::uint8_t* bgra, std::size_t pixels, std::size_t maxSamples, unsigned threads,
                  Histogram& histogram);

}  // namespace ImageService::Quantise
