// Floating-point pixels (PFM, Radiance) to 8 bits as the service converts any float format: clamp
// to [0, 1], scale by 255, round to nearest, NaN as 0. No tone mapping: a picture whose values run
// past 1 is clipped, so it should be tone-mapped before it is packed.
#pragma once

#include <cstdint>

namespace ImageService::Decode {

inline std::uint8_t floatToByte(float value) {
    if (!(value > 0.0f))  // also NaN
        return 0;
    if (value >= 1.0f)
        return 255;
    return static_cast<std::uint8_t>(value * 255.0f + 0.5f);
}

}  // namespace ImageService::Decode
