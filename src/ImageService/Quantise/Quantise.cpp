// The order of the work: count the colours (none to do for 256 or fewer), cut the first palette,
// refine it with Lloyd's iterations and moves out of their local optimum, then rewrite the pixels.
// Every step before the last only reads the image, so running out of memory leaves it as it was.
#include "ImageService/Quantise/Quantise.h"

#include <algorithm>
#include <new>

#include "ImageService/Quantise/BoxSplit.h"
#include "ImageService/Quantise/Histogram.h"
#include "ImageService/Quantise/KMeans.h"
#include "ImageService/Quantise/Relocate.h"
#include "ImageService/Quantise/Remap.h"
#include "Platform/FailureReason.h"
#include "Platform/FaultSeam.h"

namespace ImageService::Quantise {
namespace {

// Room for every distinct colour of the corpus's largest image (its 4096 x 4096 render has 128,536) and
// twice as many; beyond it colours are grouped. Grouped into at most 2^15, the corpus's five largest
// images lose 0.01 to 0.16 dB (one gains 0.06).
constexpr std::size_t kMaxSamples = std::size_t{1} << 18;
constexpr unsigned kMaxRounds = 200;
// Moves of centres out of Lloyd's local optimum, each followed by at most 10 rounds: more for fewer
// samples, where each is cheap (2 for the corpus's 4096 x 4096 render of 128,536 colours, which gain
// 0.1 dB for a fifth more time; 12 below 21,846 colours).
constexpr std::size_t kRelocationWork = std::size_t{1} << 18;
constexpr unsigned kMinRelocations = 1, kMaxRelocations = 12, kRelocationRounds = 10;

bool outOfMemory() {
    FailureReason::note("not enough memory to reduce the colours");
    return false;
}

bool translucent(const Samples& samples) {
    for (std::size_t s = 0; s < samples.size(); ++s) {
        if (samples.sum[s][kAlpha] != 255 * std::uint64_t{samples.weight[s]})
            return true;
    }
    return false;
}

}  // namespace

bool reduceColours(std::uint8_t* bgra, std::uint32_t width, std::uint32_t height, const Options& options) {
    if (FaultSeam::takeFault(FaultSeam::Operation::QuantiseMemory) != 0)
        return outOfMemory();
    const std::uint64_t pixels = std::uint64_t{width} * height;
    if (pixels == 0)
        return true;
    // Counts are 32-bit; and the caller's buffer must be addressable.
    if (pixels > UINT32_MAX || pixels > SIZE_MAX / 4) {
        FailureReason::note("%llu pixels are more than the colour reduction counts",
                            (unsigned long long)pixels);
        return false;
    }
    try {
        Histogram histogram;
        countColours(bgra, pixels, kMaxSamples, options.threads, histogram);
        if (histogram.exact() && histogram.samples.size() <= kMaxColours)
            return true;
        const Samples& samples = histogram.samples;
        Clustering clustering;
        splitIntoBoxes(samples, kMaxColours, translucent(samples) ? kChannels : 3, clustering.clusterOf,
                       clustering.centres);
        NearestSearch search;
        refine(samples, kMaxRounds, options.threads, clustering, search);
        const auto relocations = static_cast<unsigned>(
            std::clamp<std::size_t>(kRelocationWork / samples.size(), kMinRelocations, kMaxRelocations));
        relocate(samples, relocations, kRelocationRounds, options.threads, clustering, search);
        if (options.dither)
            remapDithered(bgra, width, height, histogram, clustering, search);
        else
            remap(bgra, pixels, histogram, clustering, search, options.threads);
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
    return true;
}

}  // namespace ImageService::Quantise
