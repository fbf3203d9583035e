// Finding the palette entry nearest to a colour without trying all of them: each entry keeps the others
// in order of distance, and a search that starts from a good guess stops where the triangle inequality
// rules every farther entry out. The answer is always the brute-force one: the nearest entry, the
// lowest index among equals.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ImageService/Quantise/Colours.h"

namespace ImageService::Quantise {

class NearestSearch {
public:
    // Throws std::bad_alloc when memory runs out. At most 256 entries.
    void build(const std::vector<Colour>& entries);

    // The nearest entry to `colour`, searched from entry `guess`; its squared distance in `distance`.
    std::uint32_t nearest(const Colour& colour, std::uint32_t guess, std::uint32_t& distance) const {
        std::uint32_t best = guess;
        std::uint32_t bestDistance = squaredDistance(colour, entries[guess]);
        // An entry j with |e_guess - e_j| > 2 |colour - e_guess| is farther from the colour than the
        // guess is. Rows hold (distance << 8 | index), so the limit carries index 255 to keep every
        // entry at exactly the limit's distance.
        const std::uint32_t limit = (4 * bestDistance) << 8 | 0xFF;
        const std::uint32_t* row = &rows[std::size_t(guess) * rowLength];
        std::size_t k = 0;
        for (; k < rowLength && row[k] <= limit; ++k)
            consider(colour, row[k] & 0xFF, best, bestDistance);
        // A row keeps only the nearest entries; when all of them were in reach, so may others be.
        if (k == rowLength && rowLength + 1 < entries.size()) {
            for (std::uint32_t j = 0; j < entries.size(); ++j)
                consider(colour, j, best, bestDistance);
        }
        distance = bestDistance;
        return best;
    }

    // The squared distance from `colour` to the nearest entry other than `nearest`, whose own squared
    // distance is `nearestDistance`. UINT32_MAX when there is no other entry.
    std::uint32_t runnerUpDistance(const Colour& colour, std::uint32_t nearest,
                                   std::uint32_t nearestDistance) const {
        std::uint32_t second = UINT32_MAX;
        const std::uint32_t* row = &rows[std::size_t(nearest) * rowLength];
        // Entry j can be nearer than `second` only if |e_nearest - e_j| <= |c - e_nearest| +
        // sqrt(second), whose square is at most 2 (nearestDistance + second).
        std::size_t k = 0;
        for (; k < rowLength; ++k) {
            if (second != UINT32_MAX && (row[k] >> 8) > 2 * (nearestDistance + second))
                break;
            second = std::min(second, squaredDistance(colour, entries[row[k] & 0xFF]));
        }
        if (k == rowLength && rowLength + 1 < entries.size()) {
            for (std::uint32_t j = 0; j < entries.size(); ++j) {
                if (j != nearest)
                    second = std::min(second, squaredDistance(colour, entries[j]));
            }
        }
        return second;
    }

    const std::vector<Colour>& palette() const { return entries; }

private:
    void consider(const Colour& colour, std::uint32_t j, std::uint32_t& best,
                  std::uint32_t& bestDistance) const {
        const std::uint32_t d = squaredDistance(colour, entries[j]);
        if (d < bestDistance || (d == bestDistance && j < best)) {
            best = j;
            bestDistance = d;
        }
    }

    std::vector<Colour> entries;
    // Per entry, the nearest others as (squared distance << 8 | index), ascending.
    std::vector<std::uint32_t> rows;
    std::size_t rowLength = 0;
};

}  // namespace ImageService::Quantise
