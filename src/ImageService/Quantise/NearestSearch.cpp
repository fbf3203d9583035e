#include "ImageService/Quantise/NearestSearch.h"

#include <algorithm>

namespace ImageService::Quantise {

namespace {

// Searches from a good guess rarely reach further: sorting only this many keeps a rebuild cheap.
constexpr std::size_t kRowLength = 32;

}  // namespace

void NearestSearch::build(const std::vector<Colour>& palette) {
    entries = palette;
    const std::size_t others = entries.empty() ? 0 : entries.size() - 1;
    rowLength = std::min(others, kRowLength);
    rows.resize(entries.size() * rowLength);
    std::vector<std::uint32_t> all(others);
    for (std::size_t a = 0; a < entries.size(); ++a) {
        std::size_t k = 0;
        for (std::size_t j = 0; j < entries.size(); ++j) {
            if (j != a)
                all[k++] = squaredDistance(entries[a], entries[j]) << 8 | static_cast<std::uint32_t>(j);
        }
        // Values are distinct (each holds its index), so the nearest set and its order are unique.
        const auto kept = all.begin() + std::ptrdiff_t(rowLength);
        std::nth_element(all.begin(), kept, all.end());
        std::sort(all.begin(), kept);
        std::copy(all.begin(), kept, rows.begin() + std::ptrdiff_t(a * rowLength));
    }
}

}  // namespace ImageService::Quantise
