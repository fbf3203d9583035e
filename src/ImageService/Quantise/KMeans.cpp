#include "ImageService/Quantise/KMeans.h"

#include <algorithm>

#include "ImageService/Infrastructure/Parallel.h"

namespace ImageService::Quantise {
namespace {

constexpr std::size_t kChunkSamples = 8192;

// Every sample to its nearest centre, from its current one; gives how many moved. Each sample's
// answer depends on nothing but the centres, so the chunks' order and threads change nothing.
std::size_t assign(const Samples& samples, const NearestSearch& search, unsigned threads,
                   Clustering& clustering, std::vector<std::uint32_t>& distance) {
    const std::size_t chunks = (samples.size() + kChunkSamples - 1) / kChunkSamples;
    std::vector<std::size_t> moved(chunks, 0);
    forEachPiece(
        chunks, 2,
        [&](std::size_t chunk) {
            const std::size_t end = std::min(samples.size(), (chunk + 1) * kChunkSamples);
            for (std::size_t s = chunk * kChunkSamples; s < end; ++s) {
                const std::uint32_t was = clustering.clusterOf[s];
                const std::uint32_t now = search.nearest(samples.colour[s], was, distance[s]);
                if (now != was) {
                    clustering.clusterOf[s] = static_cast<std::uint8_t>(now);
                    ++moved[chunk];
                }
            }
        },
        threads);
    std::size_t total = 0;
    for (std::size_t m : moved)
        total += m;
    return total;
}

// Centres to their clusters' rounded means. A centre left without samples moves onto the sample that
// costs the most where it is (weight times squared distance), which then becomes its own cluster.
void moveCentres(const Samples& samples, const std::vector<std::uint32_t>& distance, Clustering& clustering) {
    const std::size_t k = clustering.centres.size();
    std::vector<std::uint64_t> weight(k, 0);
    std::vector<ChannelSums> sum(k, ChannelSums{});
    for (std::size_t s = 0; s < samples.size(); ++s) {
        const std::uint8_t c = clustering.clusterOf[s];
        weight[c] += samples.weight[s];
        for (int ch = 0; ch < kChannels; ++ch)
            sum[c][ch] += samples.sum[s][ch];
    }
    std::vector<std::size_t> empty;
    for (std::size_t c = 0; c < k; ++c) {
        if (weight[c] != 0)
            clustering.centres[c] = roundedMean(sum[c], weight[c]);
        else
            empty.push_back(c);
    }
    if (empty.empty())
        return;
    std::vector<std::uint64_t> cost(samples.size());
    for (std::size_t s = 0; s < samples.size(); ++s)
        cost[s] = std::uint64_t{samples.weight[s]} * distance[s];
    for (std::size_t c : empty) {
        const std::size_t worst = std::max_element(cost.begin(), cost.end()) - cost.begin();
        if (cost[worst] == 0)
            return;  // every sample sits on its centre: nothing left to gain
        clustering.centres[c] = samples.colour[worst];
        cost[worst] = 0;
    }
}

}  // namespace

void refine(const Samples& samples, unsigned maxRounds, unsigned threads, Clustering& clustering,
            NearestSearch& search) {
    std::vector<std::uint32_t> distance(samples.size());
    for (unsigned round = 0;; ++round) {
        search.build(clustering.centres);
        if (assign(samples, search, threads, clustering, distance) == 0 || round == maxRounds)
            return;
        moveCentres(samples, distance, clustering);
    }
}

std::uint64_t clusteringError(const Samples& samples, const Clustering& clustering) {
    std::uint64_t error = 0;
    for (std::size_t s = 0; s < samples.size(); ++s)
        error += std::uint64_t{samples.weight[s]} *
                 squaredDistance(samples.colour[s], clustering.centres[clustering.clusterOf[s]]);
    return error;
}

}  // namespace ImageService::Quantise
