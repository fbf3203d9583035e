// The first palette: the samples are cut into boxes, each time the box whose best cut along one channel
// removes the most squared error, until there are `count` boxes or no box holds two samples.
#pragma once

#include <cstdint>
#include <vector>

#include "ImageService/Quantise/Colours.h"

namespace ImageService::Quantise {

// `channels` 3 leaves alpha out of the cuts (an opaque image). Gives each sample's box and each box's
// rounded mean. Throws std::bad_alloc when memory runs out.
void splitIntoBoxes(const Samples& samples, std::uint32_t count, int channels,
                    std::vector<std::uint8_t>& boxOf, std::vector<Colour>& means);

}  // namespace ImageService::Quantise
