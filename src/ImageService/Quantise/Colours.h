// The quantiser's common currency: a colour as four integer channels in pixel byte order, the squared
// distance it minimises, and the weighted colours it clusters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ImageService::Quantise {

constexpr int kChannels = 4;
constexpr int kAlpha = 3;  // B, G, R, A

struct Colour {
    std::int32_t channel[kChannels];
};

// At most 4 * 255^2, so every sum of distances below fits 32 bits with room for a factor of 4.
inline std::uint32_t squaredDistance(const Colour& a, const Colour& b) {
    std::int32_t sum = 0;
    for (int c = 0; c < kChannels; ++c) {
        const std::int32_t delta = a.channel[c] - b.channel[c];
        sum += delta * delta;
    }
    return static_cast<std::uint32_t>(sum);
}

// A pixel's four bytes as one value, byte 0 lowest, whatever the machine's byte order.
inline std::uint32_t loadPixel(const std::uint8_t* pixel) {
    return std::uint32_t{pixel[0]} | std::uint32_t{pixel[1]} << 8 | std::uint32_t{pixel[2]} << 16 |
           std::uint32_t{pixel[3]} << 24;
}

inline void storePixel(std::uint8_t* pixel, std::uint32_t value) {
    for (int c = 0; c < kChannels; ++c)
        pixel[c] = static_cast<std::uint8_t>(value >> (8 * c));
}

inline Colour unpack(std::uint32_t value) {
    Colour colour;
    for (int c = 0; c < kChannels; ++c)
        colour.channel[c] = static_cast<std::int32_t>((value >> (8 * c)) & 0xFF);
    return colour;
}

inline std::uint32_t pack(const Colour& colour) {
    std::uint32_t value = 0;
    for (int c = 0; c < kChannels; ++c)
        value |= static_cast<std::uint32_t>(colour.channel[c]) << (8 * c);
    return value;
}

using ChannelSums = std::array<std::uint64_t, kChannels>;

// The mean of `weight` pixels whose channels add up to `sums`, each channel rounded to the nearest
// integer (which is also the integer colour of least squared error to them).
inline Colour roundedMean(const ChannelSums& sums, std::uint64_t weight) {
    Colour mean;
    for (int c = 0; c < kChannels; ++c)
        mean.channel[c] = static_cast<std::int32_t>((2 * sums[c] + weight) / (2 * weight));
    return mean;
}

// An image's colours, each with the number of its pixels. When colours were grouped (Histogram.h),
// `colour` is a group's rounded mean and `sum` holds its pixels' exact channel sums.
struct Samples {
    std::vector<Colour> colour;
    std::vector<std::uint32_t> weight;
    std::vector<ChannelSums> sum;

    std::size_t size() const { return colour.size(); }
};

}  // namespace ImageService::Quantise
