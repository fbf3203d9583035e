// sRGB-coded bytes to linear light and back, for filters that must average light rather than coded
// values (an average of black and white is a mid grey of code 188, not 128). The tables are built
// from basic arithmetic alone, no library pow, so they hold the same bits on every compiler and system.
#pragma once

#include <cstdint>

namespace ImageService {

class LinearLight {
public:
    // Linear light in [0, 1] of each sRGB code.
    float fromCode(std::uint8_t code) const { return linear[code]; }

    // The sRGB code nearest to `value` (linear light) after coding, exact halves rounding up; values
    // outside [0, 1], and NaN, are clamped first.
    std::uint8_t toCode(float value) const {
        if (!(value > 0.0f))
            return 0;
        if (value >= 1.0f)
            return 255;
        const unsigned code = bucketStart[static_cast<unsigned>(value * kBuckets)];
        return static_cast<std::uint8_t>(code + (value >= upperEdge[code] ? 1 : 0));
    }

private:
    friend const LinearLight& linearLight();
    LinearLight();

    // Buckets of equal width over [0, 1): each starts at the code of its lower end and holds at most
    // one edge between codes, as edges are 1 / (255 x 12.92) apart at the closest (near black).
    static constexpr unsigned kBuckets = 4096;
    float linear[256];
    float upperEdge[256];  // the least float that codes as code + 1 (for 255: above every value)
    std::uint8_t bucketStart[kBuckets];
};

const LinearLight& linearLight();

}  // namespace ImageService
