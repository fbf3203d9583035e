#include "ImageService/Quantise/Histogram.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <numeric>

#include "ImageService/Infrastructure/Parallel.h"

namespace ImageService::Quantise {
namespace {

constexpr std::size_t kMinimumBandPixels = 1 << 16;
constexpr std::size_t kMaxBands = 16;

// One band's groups in order of first appearance. Sums are kept only for grouped colours: an exact
// colour's sums are its value times its count.
struct BandCounts {
    ColourTable index;  // key -> position in keys + 1
    std::vector<std::uint32_t> keys, counts;
    std::vector<ChannelSums> sums;
    bool overflowed = false;
};

template <bool kGrouped>
void countBand(const std::uint8_t* pixel, std::size_t pixels, std::uint32_t keyMask, std::size_t maxSamples,
               BandCounts& band) {
    std::uint32_t lastKey = 0;
    std::size_t last = SIZE_MAX;
    for (std::size_t p = 0; p < pixels; ++p, pixel += 4) {
        const std::uint32_t key = loadPixel(pixel) & keyMask;
        // Neighbouring pixels often share a colour: one comparison instead of a probe.
        if (key != lastKey || last == SIZE_MAX) {
            std::uint32_t& position = band.index.findOrInsert(key);
            if (position == 0) {
                if (band.keys.size() == maxSamples) {
                    band.overflowed = true;
                    return;
                }
                band.keys.push_back(key);
                band.counts.push_back(0);
                if (kGrouped)
                    band.sums.push_back({});
                position = static_cast<std::uint32_t>(band.keys.size());
            }
            lastKey = key;
            last = position - 1;
        }
        ++band.counts[last];
        if (kGrouped) {
            for (int c = 0; c < kChannels; ++c)
                band.sums[last][c] += pixel[c];
        }
    }
}

// The bands' groups merged and put in key order, which no band split can change. False when the
// image has more than `maxSamples` groups at this mask.
bool countAtMask(const std::uint8_t* bgra, std::size_t pixels, std::uint32_t keyMask, std::size_t maxSamples,
                 unsigned threads, Histogram& histogram) {
    const bool grouped = keyMask != 0xFFFFFFFF;
    std::size_t bandCount = threads == 0 ? coreCount() : threads;
    bandCount = std::min({bandCount, kMaxBands, std::max<std::size_t>(1, pixels / kMinimumBandPixels)});
    const std::size_t bandPixels = (pixels + bandCount - 1) / bandCount;
    std::vector<BandCounts> bands(bandCount);
    std::atomic<bool> outOfMemory{false};
    forEachPiece(
        bandCount, 2,
        [&](std::size_t b) {
            const std::size_t first = b * bandPixels;
            const std::size_t count = std::min(bandPixels, pixels - std::min(pixels, first));
            try {
                if (grouped)
                    countBand<true>(bgra + first * 4, count, keyMask, maxSamples, bands[b]);
                else
                    countBand<false>(bgra + first * 4, count, keyMask, maxSamples, bands[b]);
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
            }
        },
        threads);
    if (outOfMemory)
        throw std::bad_alloc();
    for (const BandCounts& band : bands) {
        if (band.overflowed)
            return false;
    }

    // Merged in band order; the order is undone by the sort below.
    ColourTable merged;
    std::vector<std::uint32_t> keys, counts;
    std::vector<ChannelSums> sums;
    for (BandCounts& band : bands) {
        for (std::size_t i = 0; i < band.keys.size(); ++i) {
            std::uint32_t& position = merged.findOrInsert(band.keys[i]);
            if (position == 0) {
                if (keys.size() == maxSamples)
                    return false;
                keys.push_back(band.keys[i]);
                counts.push_back(0);
                sums.push_back({});
                position = static_cast<std::uint32_t>(keys.size());
            }
            counts[position - 1] += band.counts[i];
            for (int c = 0; c < kChannels && grouped; ++c)
                sums[position - 1][c] += band.sums[i][c];
        }
        band = BandCounts();
    }

    std::vector<std::uint32_t> order(keys.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
    std::vector<std::uint32_t> rank(keys.size());
    Samples& samples = histogram.samples;
    samples.colour.resize(keys.size());
    samples.weight.resize(keys.size());
    samples.sum.resize(keys.size());
    for (std::size_t r = 0; r < order.size(); ++r) {
        const std::uint32_t i = order[r];
        rank[i] = static_cast<std::uint32_t>(r);
        samples.weight[r] = counts[i];
        if (grouped) {
            samples.sum[r] = sums[i];
            samples.colour[r] = roundedMean(sums[i], counts[i]);
        } else {
            samples.colour[r] = unpack(keys[i]);
            for (int c = 0; c < kChannels; ++c)
                samples.sum[r][c] = std::uint64_t(samples.colour[r].channel[c]) * counts[i];
        }
    }
    merged.forEach([&](std::uint32_t, std::uint32_t& position) { position = rank[position - 1] + 1; });
    histogram.positions = std::move(merged);
    histogram.keyMask = keyMask;
    return true;
}

}  // namespace

void countColours(const std::uint8_t* bgra, std::size_t pixels, std::size_t maxSamples, unsigned threads,
                  Histogram& histogram) {
    // Each step drops one more low bit of every channel; at 2 bits a channel at most 256 groups remain.
    for (std::uint32_t keep = 0xFF;; keep = (keep << 1) & 0xFF) {
        const std::uint32_t keyMask = keep * 0x01010101u;
        if (countAtMask(bgra, pixels, keyMask, std::max<std::size_t>(maxSamples, 256), threads, histogram))
            return;
    }
}

}  // namespace ImageService::Quantise
