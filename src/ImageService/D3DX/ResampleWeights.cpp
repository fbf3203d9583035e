#include "ImageService/D3DX/ResampleWeights.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace ImageService {
namespace {

constexpr double kPi = 3.14159265358979323846;

// sin(pi x) from its Taylor series on [-1/2, 1/2], where twelve terms leave an error below 1e-17; the
// library's sin may differ in its last bit between systems. Whole numbers fold onto exactly 0.
double sinPi(double x) {
    double r = x - 2.0 * std::floor(x * 0.5 + 0.5);  // in [-1, 1), exactly
    if (r > 0.5)
        r = 1.0 - r;
    else if (r < -0.5)
        r = -1.0 - r;
    const double y = kPi * r;
    const double square = y * y;
    double term = y;
    double sum = y;
    for (int k = 1; k <= 11; ++k) {
        term *= -square / ((2.0 * k) * (2.0 * k + 1.0));
        sum += term;
    }
    return sum;
}

std::int64_t floorDivide(std::int64_t numerator, std::int64_t denominator) {
    std::int64_t quotient = numerator / denominator;
    if ((numerator % denominator != 0) && ((numerator < 0) != (denominator < 0)))
        --quotient;
    return quotient;
}

}  // namespace

double lanczos3(double x) {
    if (x == 0.0)
        return 1.0;
    if (x <= -3.0 || x >= 3.0)
        return 0.0;
    return 3.0 * sinPi(x) * sinPi(x / 3.0) / (kPi * kPi * x * x);
}

std::uint32_t AxisWeights::widest() const {
    std::uint32_t most = 0;
    for (std::size_t i = 0; i + 1 < start.size(); ++i)
        most = std::max(most, start[i + 1] - start[i]);
    return most;
}

bool makeAxisWeights(std::uint32_t source, std::uint32_t destination, AxisWeights* axis) {
    // Destination pixel i is centred on source position c = (2i + 1) n / 2m - 1/2 (n source, m
    // destination pixels). The kernel's argument at source pixel j is (j - c) / f, f = max(1, n / m),
    // which is the integer 2mj - (2i + 1)n + m over 2 max(n, m): one rounding, and a mirrored pixel
    // gets exactly the negated argument.
    const std::int64_t n = source, m = destination;
    const std::int64_t scale = 2 * std::max(n, m);
    const std::int64_t reach = 3 * scale;  // |numerator| below this is inside the kernel
    try {
        axis->first.assign(destination, 0);
        axis->nearest.assign(destination, 0);
        axis->start.assign(1, 0);
        axis->start.reserve(destination + 1);
        axis->weights.clear();
        axis->weights.reserve(static_cast<std::size_t>(6 * std::max(n, m) + m));
        std::vector<double> folded;
        folded.reserve(static_cast<std::size_t>(n));
        for (std::int64_t i = 0; i < m; ++i) {
            const std::int64_t offset = (2 * i + 1) * n - m;  // numerator at j = 0 is -offset
            const std::int64_t low = floorDivide(offset - reach, 2 * m);
            const std::int64_t high = floorDivide(offset + reach, 2 * m) + 1;
            const std::int64_t firstSource = std::clamp<std::int64_t>(low, 0, n - 1);
            const std::int64_t lastSource = std::clamp<std::int64_t>(high, 0, n - 1);
            folded.assign(static_cast<std::size_t>(lastSource - firstSource + 1), 0.0);
            // Taps beyond an edge land on the edge pixel, in ascending order of j.
            for (std::int64_t j = low; j <= high; ++j) {
                const double weight =
                    lanczos3(static_cast<double>(2 * m * j - offset) / static_cast<double>(scale));
                folded[static_cast<std::size_t>(std::clamp(j, firstSource, lastSource) - firstSource)] +=
                    weight;
            }
            double total = 0.0;
            for (double weight : folded)
                total += weight;
            std::size_t begin = 0, end = folded.size();
            while (begin < end && static_cast<float>(folded[begin] / total) == 0.0f)
                ++begin;
            while (end > begin && static_cast<float>(folded[end - 1] / total) == 0.0f)
                --end;
            axis->first[i] = static_cast<std::uint32_t>(firstSource + static_cast<std::int64_t>(begin));
            for (std::size_t k = begin; k < end; ++k)
                axis->weights.push_back(static_cast<float>(folded[k] / total));
            axis->start.push_back(static_cast<std::uint32_t>(axis->weights.size()));
            axis->nearest[i] =
                static_cast<std::uint32_t>(std::min<std::int64_t>((2 * i + 1) * n / (2 * m), n - 1));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace ImageService
