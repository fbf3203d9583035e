#include "ImageService/Dxt/SearchEffort.h"

namespace ImageService::Dxt::detail {

const SearchEffort& searchEffort(Effort effort, bool fourColourOnly) {
    // Default: what fits the tool's time, chosen by gain per cost on the corpus (bench/run): a
    // four-colour cluster search one cut wider in blocks of 12 colours or more (cuts within a total
    // move of 6), the solid and two-colour fits, palettes with one endpoint unused tried at both ends
    // wherever three levels come within 1.5x, the three-colour palette on every block, the wider
    // least-squares window (free once its candidates are scored together), and moves of one endpoint
    // at a time, which cost half of the both-endpoint moves for a tenth of their gain; then up to two
    // passes of joint moves on each block's winner where its error is above 50, which keep nearly
    // all that they gain on every block for about three quarters of their time. Best: every step at
    // full reach, joint moves on every candidate.
    static constexpr SearchEffort kFast{3, 3, 17, 9, 0.0f, 1, true, false, 1000.0f, 1, 0, 4, 0, 0, 0, 0.0f};
    static constexpr SearchEffort kDefault{3, 4, 12, 6, 1.5f, 2, false, true, 0.0f, 1, 1, 4, 0, 10, 2, 50.0f};
    static constexpr SearchEffort kBest{16, 16, 17, 48, 1e30f, 2, false, true, 0.0f, 2, 1, 8, 2, 10, 0, 0.0f};
    // Blocks without the three-colour palette spend no time on its trials; a second refinement round
    // in its place gains 0.0015 dB on the corpus's alpha images (DXT3) for a tenth of their time.
    static constexpr SearchEffort kDefaultFourColourOnly = [] {
        SearchEffort e = kDefault;
        e.refineRounds = 2;
        return e;
    }();
    switch (effort) {
        case Effort::Fast:
            return kFast;
        case Effort::Best:
            return kBest;
        default:
            return fourColourOnly ? kDefaultFourColourOnly : kDefault;
    }
}

}  // namespace ImageService::Dxt::detail
