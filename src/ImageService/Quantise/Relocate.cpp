#include "ImageService/Quantise/Relocate.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace ImageService::Quantise {
namespace {

struct ClusterCosts {
    std::vector<std::uint64_t> utility;  // error added if the centre went (its samples to their next)
    std::vector<std::uint64_t> error;    // the cluster's own error
    std::vector<std::size_t> costliest;  // its sample of largest weight times squared distance
};

ClusterCosts measureClusters(const Samples& samples, const Clustering& clustering,
                             const NearestSearch& search) {
    const std::size_t k = clustering.centres.size();
    ClusterCosts costs{std::vector<std::uint64_t>(k, 0), std::vector<std::uint64_t>(k, 0),
                       std::vector<std::size_t>(k, SIZE_MAX)};
    std::vector<std::uint64_t> largest(k, 0);
    for (std::size_t s = 0; s < samples.size(); ++s) {
        const std::uint32_t c = clustering.clusterOf[s];
        const std::uint32_t nearest = squaredDistance(samples.colour[s], clustering.centres[c]);
        const std::uint32_t next = search.runnerUpDistance(samples.colour[s], c, nearest);
        const std::uint64_t cost = std::uint64_t{samples.weight[s]} * nearest;
        costs.utility[c] += std::uint64_t{samples.weight[s]} * (next - nearest);
        costs.error[c] += cost;
        if (costs.costliest[c] == SIZE_MAX || cost > largest[c]) {
            costs.costliest[c] = s;
            largest[c] = cost;
        }
    }
    return costs;
}

// Centres in order of `key`, ties by index, so that every platform picks the same ones.
std::vector<std::uint32_t> ranked(const std::vector<std::uint64_t>& key, bool ascending) {
    std::vector<std::uint32_t> order(key.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (key[a] != key[b])
            return ascending ? key[a] < key[b] : key[a] > key[b];
        return a < b;
    });
    return order;
}

}  // namespace

void relocate(const Samples& samples, unsigned attempts, unsigned maxRounds, unsigned threads,
              Clustering& clustering, NearestSearch& search) {
    const std::size_t k = clustering.centres.size();
    std::uint64_t error = clusteringError(samples, clustering);
    // A sixteenth of the centres move at first; the count halves after each move that does not pay.
    std::size_t moves = k / 16;
    for (unsigned attempt = 0; attempt < attempts && moves > 0; ++attempt) {
        const ClusterCosts costs = measureClusters(samples, clustering, search);
        const std::vector<std::uint32_t> leastUseful = ranked(costs.utility, true);
        const std::vector<std::uint32_t> worst = ranked(costs.error, false);
        std::vector<bool> moving(k, false);
        for (std::size_t i = 0; i < moves; ++i)
            moving[leastUseful[i]] = true;
        // Each moving centre lands on the costliest sample of the next cluster of most error; only
        // clusters with an error left (so never an empty one) take one.
        std::vector<std::pair<std::uint32_t, std::size_t>> landings;
        for (std::size_t i = 0; i < k && landings.size() < moves && costs.error[worst[i]] > 0; ++i) {
            if (!moving[worst[i]])
                landings.emplace_back(leastUseful[landings.size()], costs.costliest[worst[i]]);
        }
        if (landings.empty())
            return;
        Clustering before = clustering;
        for (const auto& [centre, sample] : landings)
            clustering.centres[centre] = samples.colour[sample];
        refine(samples, maxRounds, threads, clustering, search);
        const std::uint64_t after = clusteringError(samples, clustering);
        if (after < error) {
            error = after;
        } else {
            clustering = std::move(before);
            search.build(clustering.centres);
            moves /= 2;
        }
    }
}

}  // namespace ImageService::Quantise
