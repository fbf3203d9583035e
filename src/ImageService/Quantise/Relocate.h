// A way out of the local optimum where Lloyd's iterations stop: the centres that matter least (whose
// samples would lose least at their next-nearest centre) move into the clusters of most error, and the
// move is kept when Lloyd's iterations from there end with less error.
#pragma once

#include "ImageService/Quantise/Colours.h"
#include "ImageService/Quantise/KMeans.h"
#include "ImageService/Quantise/NearestSearch.h"

namespace ImageService::Quantise {

// At most `attempts` moves, each followed by at most `maxRounds` rounds. `clustering` and `search` come
// from refine() and leave in the same state: each sample's cluster its nearest centre. Throws
// std::bad_alloc when memory runs out.
void relocate(const Samples& samples, unsigned attempts, unsigned maxRounds, unsigned threads,
              Clustering& clustering, NearestSearch& search);

}  // namespace ImageService::Quantise
