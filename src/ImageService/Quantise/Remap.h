// Rewriting the pixels with the palette: each pixel to its colour's entry, or, dithered, each pixel
// plus the error its neighbours diffused to it (Floyd-Steinberg, rows in alternating directions) to
// the nearest entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ImageService/Quantise/Histogram.h"
#include "ImageService/Quantise/KMeans.h"
#include "ImageService/Quantise/NearestSearch.h"

namespace ImageService::Quantise {

// Neither allocates once it has started writing; the dithered one takes its row buffers first and
// throws std::bad_alloc before touching a pixel when it cannot.
void remap(std::uint8_t* bgra, std::size_t pixels, const Histogram& histogram, const Clustering& clustering,
           const NearestSearch& search, unsigned threads);
void remapDithered(std::uint8_t* bgra, std::uint32_t width, std::uint32_t height, const Histogram& histogram,
                   const Clustering& clustering, const NearestSearch& search);

}  // namespace ImageService::Quantise
