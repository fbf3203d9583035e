#include "ImageService/Dxt/SearchEffort.h"

namespace ImageService::Dxt::detail {

const SearchEffort& searchEffort(Effort effort) {
    // Default: what fits the tool's time, step by step in order of gain per cost on the corpus (the
    // mean colour, the full search for two-colour blocks, both-endpoint channel moves, the palettes
    // with one endpoint unused). Best: every step at full reach.
    static constexpr SearchEffort kFast{3, 0.0f, 1, true, false, 1000.0f, 1, 0, 4, 0, 0};
    static constexpr SearchEffort kDefault{3, 1.2f, 1, false, true, 1000.0f, 1, 0, 8, 0, 0};
    static constexpr SearchEffort kBest{16, 1e30f, 2, false, true, 0.0f, 2, 1, 8, 2, 10};
    switch (effort) {
        case Effort::Fast:
            return kFast;
        case Effort::Best:
            return kBest;
        default:
            return kDefault;
    }
}

}  // namespace ImageService::Dxt::detail
