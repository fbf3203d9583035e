// The Lanczos-3 weights of one axis of a resize: for each destination pixel, the run of source
// pixels it reads and their weights. Computed in double from exact integer offsets and stored as
// float, so every compiler and system gets the same table, and a mirrored axis the mirrored weights.
#pragma once

#include <cstdint>
#include <vector>

namespace ImageService {

struct AxisWeights {
    // Destination pixel i reads source pixels first[i], first[i] + 1, ... with the weights
    // weights[start[i]] to weights[start[i + 1] - 1]; they sum to 1 (to float rounding).
    std::vector<std::uint32_t> first;
    std::vector<std::uint32_t> start;
    std::vector<float> weights;
    // The source pixel under the centre of destination pixel i.
    std::vector<std::uint32_t> nearest;

    std::uint32_t taps(std::uint32_t i) const { return start[i + 1] - start[i]; }
    const float* weightsOf(std::uint32_t i) const { return weights.data() + start[i]; }
    std::uint32_t widest() const;
};

// Both sides from 1 to kMaxTextureSide. Downscaling widens the filter by the ratio, so every source
// pixel counts; taps beyond the edges read the edge pixel. False when the memory cannot be had.
// The table holds at most 6 max(source, destination) + destination weights.
bool makeAxisWeights(std::uint32_t source, std::uint32_t destination, AxisWeights* axis);

// The Lanczos-3 kernel, sinc(x) sinc(x / 3) for |x| < 3; exactly 0 at every other whole number.
double lanczos3(double x);

}  // namespace ImageService
