#include "ImageService/D3DX/LinearLight.h"

#include <cmath>

namespace ImageService {
namespace {

// a^(1/5) for a in (0, 1], by Newton's method from 1: the iterates fall steadily onto the root, so
// the first step that does not fall ends the search.
double fifthRoot(double a) {
    double root = 1.0;
    for (;;) {
        const double square = root * root;
        const double next = (4.0 * root + a / (square * square)) / 5.0;
        if (!(next < root))
            return root;
        root = next;
    }
}

// The sRGB curve from coded value (0 to 1) to linear light; x^2.4 is x^2 times the fifth root of x^2.
double decode(double coded) {
    if (coded <= 0.04045)
        return coded / 12.92;
    const double x = (coded + 0.055) / 1.055;
    return x * x * fifthRoot(x * x);
}

}  // namespace

LinearLight::LinearLight() {
    for (unsigned code = 0; code < 256; ++code)
        linear[code] = static_cast<float>(decode(code / 255.0));
    for (unsigned code = 0; code < 255; ++code) {
        const double edge = decode((code + 0.5) / 255.0);
        float least = static_cast<float>(edge);
        if (static_cast<double>(least) < edge)
            least = std::nextafter(least, 2.0f);
        upperEdge[code] = least;
    }
    upperEdge[255] = 2.0f;
    unsigned code = 0;
    for (unsigned bucket = 0; bucket < kBuckets; ++bucket) {
        const float start = static_cast<float>(bucket) / kBuckets;
        while (code < 255 && start >= upperEdge[code])
            ++code;
        bucketStart[bucket] = static_cast<std::uint8_t>(code);
    }
}

const LinearLight& linearLight() {
    static const LinearLight tables;
    return tables;
}

}  // namespace ImageService
