#include "ImageService/Quantise/Remap.h"

#include <algorithm>

#include "ImageService/Infrastructure/Parallel.h"

namespace ImageService::Quantise {
namespace {

constexpr std::size_t kBandPixels = 1 << 16;

// Floor division by 16 of a possibly negative number, the same wherever it runs.
std::int32_t sixteenthsRounded(std::int32_t sixteenths) {
    const std::int32_t biased = sixteenths + 8;
    return biased >= 0 ? biased / 16 : -((15 - biased) / 16);
}

}  // namespace

void remap(std::uint8_t* bgra, std::size_t pixels, const Histogram& histogram, const Clustering& clustering,
           const NearestSearch& search, unsigned threads) {
    const std::vector<Colour>& palette = clustering.centres;
    const std::size_t bands = (pixels + kBandPixels - 1) / kBandPixels;
    forEachPiece(
        bands, 2,
        [&](std::size_t band) {
            std::uint8_t* pixel = bgra + band * kBandPixels * 4;
            std::uint8_t* end = bgra + std::min(pixels, (band + 1) * kBandPixels) * 4;
            std::uint32_t lastIn = 0, lastOut = 0;
            bool haveLast = false;
            for (; pixel != end; pixel += 4) {
                const std::uint32_t in = loadPixel(pixel);
                if (!haveLast || in != lastIn) {
                    const std::size_t position = histogram.positions.find(in & histogram.keyMask) - 1;
                    std::uint32_t entry = clustering.clusterOf[position];
                    // A group of colours shares one cluster; each of its pixels still takes the entry
                    // nearest to itself.
                    if (!histogram.exact()) {
                        std::uint32_t distance;
                        entry = search.nearest(unpack(in), entry, distance);
                    }
                    lastIn = in;
                    lastOut = pack(palette[entry]);
                    haveLast = true;
                }
                storePixel(pixel, lastOut);
            }
        },
        threads);
}

void remapDithered(std::uint8_t* bgra, std::uint32_t width, std::uint32_t height, const Histogram& histogram,
                   const Clustering& clustering, const NearestSearch& search) {
    const std::vector<Colour>& palette = clustering.centres;
    // Diffused error in sixteenths, one pixel of margin each side; `here` is the row being written.
    std::vector<Colour> here(std::size_t(width) + 2, Colour{}), below(std::size_t(width) + 2, Colour{});
    for (std::uint32_t y = 0; y < height; ++y) {
        const bool leftward = y % 2 == 1;
        const int step = leftward ? -1 : 1;
        std::uint8_t* row = bgra + std::size_t(y) * width * 4;
        for (std::uint32_t i = 0; i < width; ++i) {
            const std::uint32_t x = leftward ? width - 1 - i : i;
            std::uint8_t* pixel = row + std::size_t(x) * 4;
            Colour wanted;
            for (int c = 0; c < kChannels; ++c) {
                const std::int32_t value = pixel[c] + sixteenthsRounded(here[x + 1].channel[c]);
                wanted.channel[c] = std::clamp(value, 0, 255);
            }
            const std::size_t position = histogram.positionOf(pixel);
            std::uint32_t distance;
            const std::uint32_t entry = search.nearest(wanted, clustering.clusterOf[position], distance);
            storePixel(pixel, pack(palette[entry]));
            for (int c = 0; c < kChannels; ++c) {
                const std::int32_t error = wanted.channel[c] - palette[entry].channel[c];
                here[x + 1 + step].channel[c] += 7 * error;
                below[x + 1 - step].channel[c] += 3 * error;
                below[x + 1].channel[c] += 5 * error;
                below[x + 1 + step].channel[c] += error;
            }
        }
        std::swap(here, below);
        std::fill(below.begin(), below.end(), Colour{});
    }
}

}  // namespace ImageService::Quantise
