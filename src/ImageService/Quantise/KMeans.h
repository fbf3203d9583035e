// Lloyd's iterations on the weighted samples: every sample to its nearest centre, every centre to the
// rounded mean of its samples, until no sample moves. Centres stay integer colours, so the error the
// iterations see is the error the palette will have, and it never grows from one round to the next.
#pragma once

#include <cstdint>
#include <vector>

#include "ImageService/Quantise/Colours.h"
#include "ImageService/Quantise/NearestSearch.h"

namespace ImageService::Quantise {

struct Clustering {
    std::vector<Colour> centres;
    std::vector<std::uint8_t> clusterOf;  // per sample
};

// Refines `clustering` for at most `maxRounds` rounds; on return each sample's cluster is its nearest
// centre and `search` is built on the centres. Throws std::bad_alloc when memory runs out.
void refine(const Samples& samples, unsigned maxRounds, unsigned threads, Clustering& clustering,
            NearestSearch& search);

// The total squared error of the samples against their clusters' centres (grouped samples count
// their rounded means, not their pixels).
std::uint64_t clusteringError(const Samples& samples, const Clustering& clustering);

}  // namespace ImageService::Quantise
