// One block's colour half, start to finish: the pixels that count are gathered, solid blocks go to
// the exact single-colour endpoints, the rest are ordered along their principal axis, cluster-fitted
// in each allowed palette mode and refined at storage precision; the block's mean colour as a solid
// block is the last candidate, and the lowest error wins. How far each step searches is the
// effort's (SearchEffort.h).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "ImageService/Dxt/ClusterFit.h"
#include "ImageService/Dxt/DxtBlock.h"
#include "ImageService/Dxt/Palette.h"
#include "ImageService/Dxt/Refine.h"
#include "ImageService/Dxt/SearchEffort.h"
#include "ImageService/Dxt/SimdLevel.h"
#include "ImageService/Dxt/TwoColour.h"

namespace ImageService::Dxt::detail {

namespace {

// The three-colour fit is refined only when its cluster score predicts an error within this factor
// of the four-colour result. Measured on the bench corpus: 1.05 already keeps every win; the gate
// skips about 85% of three-colour refinements.
constexpr float kThreeColourGate = 1.1f;

// The mean colour as a solid block errs at least by the pixels' spread about their mean, so it is
// tried only where that spread is below this factor of the error reached so far.
constexpr float kSolidGate = 1.5f;

DXT_INLINE void writeBlock(const Encoded& e, std::uint8_t* out) {
    out[0] = std::uint8_t(e.c0);
    out[1] = std::uint8_t(e.c0 >> 8);
    out[2] = std::uint8_t(e.c1);
    out[3] = std::uint8_t(e.c1 >> 8);
    out[4] = std::uint8_t(e.indices);
    out[5] = std::uint8_t(e.indices >> 8);
    out[6] = std::uint8_t(e.indices >> 16);
    out[7] = std::uint8_t(e.indices >> 24);
}

// Candidates are compared by their errors alone; the block's winner takes its indices from one last
// evaluation over its pixels (which gives that same error).
DXT_INLINE Encoded withIndices(const ColourBlock& block, Encoded e) {
    I16 idx;
    evaluate(block, e.ends, e.mode, &idx);
    e.indices = packIndices(idx, block.transparent);
    return e;
}

DXT_INLINE Encoded encodeSolid(const ColourBlock& block, const int* rgb, bool fourAllowed,
                               bool threeAllowed) {
    Encoded best;
    for (int m = 0; m < 2; ++m) {
        const Mode mode = m == 0 ? Mode::Four : Mode::Three;
        if (!(m == 0 ? fourAllowed : threeAllowed)) {
            continue;
        }
        I16 idx;
        Encoded e = evaluate(block, singleColourEndpoints(rgb, mode), mode, &idx);
        if (e.error < best.error) {
            e.indices = packIndices(idx, block.transparent);
            best = e;
        }
    }
    return best;
}

// Principal axis of the points by power iteration on their covariance. Points and counts are
// integers and a block has at most 16 pixels, so the covariance is taken exactly, scaled by the
// squared total count (every product and sum below stays under 2^24), over all sixteen lanes at
// once (points past n have no weight).
DXT_INLINE void principalAxis(const float* pr, const float* pg, const float* pb, const float* pw,
                              float* axis) {
    const F16 w = loadF16(pw);
    const F16 x[3] = {loadF16(pr), loadF16(pg), loadF16(pb)};
    const float total = sum16(w);
    const F16 wx[3] = {w * x[0], w * x[1], w * x[2]};
    const float sum[3] = {sum16(wx[0]), sum16(wx[1]), sum16(wx[2])};
    auto moment = [&](int a, int b) { return total * sum16(wx[a] * x[b]) - sum[a] * sum[b]; };
    const float cov[6] = {moment(0, 0), moment(0, 1), moment(0, 2),
                          moment(1, 1), moment(1, 2), moment(2, 2)};  // rr rg rb gg gb bb
    // Starting from the row of the widest channel keeps the start off any axis orthogonal to the
    // principal one (a fixed start such as grey fails for hue-only gradients).
    float v[3];
    if (cov[0] >= cov[3] && cov[0] >= cov[5]) {
        v[0] = cov[0], v[1] = cov[1], v[2] = cov[2];
    } else if (cov[3] >= cov[5]) {
        v[0] = cov[1], v[1] = cov[3], v[2] = cov[4];
    } else {
        v[0] = cov[2], v[1] = cov[4], v[2] = cov[5];
    }
    for (int it = 0; it < 4; ++it) {
        const float x = cov[0] * v[0] + cov[1] * v[1] + cov[2] * v[2];
        const float y = cov[1] * v[0] + cov[3] * v[1] + cov[4] * v[2];
        const float z = cov[2] * v[0] + cov[4] * v[1] + cov[5] * v[2];
        const float m = std::max(std::fabs(x), std::max(std::fabs(y), std::fabs(z)));
        if (!(m > 0.0f)) {
            break;
        }
        v[0] = x / m, v[1] = y / m, v[2] = z / m;
    }
    axis[0] = v[0], axis[1] = v[1], axis[2] = v[2];
}

// Every candidate for a block of three or more colours, from its sorted distinct colours `sp`, scored
// on `colours` (either form, the same errors); the lowest error wins. Indices are left to
// withIndices.
template <class V>
DXT_INLINE Encoded fitColours(const ColourBlock& block, const Colours<V>& colours, const SortedPoints& sp,
                              bool allowThree, const SearchEffort& effort) {
    float e0[3];
    float e1[3];
    const bool fourAllowed = block.transparent == 0;
    const int n = sp.n;
    const Mode mode = fourAllowed ? Mode::Four : Mode::Three;
    // Blocks of many colours have more ways to cut them, and their best cut lies further from the
    // first guess.
    const bool wide = n >= effort.wideFromColours;
    clusterFit(sp, mode, wide ? effort.wideRadius : effort.radius,
               wide ? effort.wideReach : 3 * effort.radius, e0, e1);
    Encoded best = refine(colours, mode, e0, e1, effort);

    // Three evenly spaced levels, fitted once for the two trials below that start from them.
    float t0[3];
    float t1[3];
    bool threeFitted = false;
    float threeError = FLT_MAX;  // predicted at storage precision, before refinement
    const bool tryOneEndUnused = mode == Mode::Four && effort.oneEndUnusedGate > 0.0f && best.error > 0.0f;
    const bool tryThreeColour = mode == Mode::Four && allowThree && best.error > effort.threeColourAbove;
    if (tryOneEndUnused || tryThreeColour) {
        // At the narrower reach: the wider one gains 0.0003 dB here for 2% more time.
        const float score = clusterFit(sp, Mode::Three, effort.radius, 3 * effort.radius, t0, t1);
        const V* x = colours.x;
        threeFitted = score != -FLT_MAX;
        if (threeFitted) {
            threeError = sum16(colours.w * (x[0] * x[0] + x[1] * x[1] + x[2] * x[2])) - score;
        }
    }
    if (tryOneEndUnused && threeFitted && threeError < best.error * effort.oneEndUnusedGate) {
        // The same levels on the four-colour palette with one endpoint unused: its other entries a
        // third of the endpoint distance apart, on the grid four-colour endpoints allow, which is
        // finer than the three-colour midpoint's. The unused endpoint may lie at either end: both
        // are refined, or only the one whose rounded start is closer.
        Start<V> starts[2];
        for (int side = 0; side < 2; ++side) {
            float ends[2][3];
            for (int ch = 0; ch < 3; ++ch) {
                const float reach = (t1[ch] - t0[ch]) * 1.5f;
                ends[0][ch] = std::min(std::max(side == 0 ? t0[ch] : t1[ch] - reach, 0.0f), 255.0f);
                ends[1][ch] = std::min(std::max(side == 0 ? t0[ch] + reach : t1[ch], 0.0f), 255.0f);
            }
            starts[side] = roundedStart(colours, mode, ends[0], ends[1]);
        }
        const int closer = starts[1].encoded.error < starts[0].encoded.error ? 1 : 0;
        for (int side = 0; side < 2; ++side) {
            if (effort.unusedEndSides == 2 || side == closer) {
                const Encoded trial = refine(colours, mode, starts[side], effort);
                if (trial.error < best.error) {
                    best = trial;
                }
            }
        }
    }
    if (tryThreeColour && threeFitted && threeError < best.error * kThreeColourGate) {
        const Encoded three = refine(colours, Mode::Three, t0, t1, effort);
        if (three.error < best.error) {
            best = three;
        }
    }
    if (effort.meanColour && best.error > 0.0f) {
        // Near-flat blocks: the fits above settle on a local minimum a step or two from the mean,
        // which one entry nearest the mean in every channel reaches directly.
        const V& w = colours.w;
        const V* x = colours.x;
        int sum[3];
        int spread = 0;  // count times the squared error of the exact mean, an integer below 2^26
        const int count = int(sum16(w));
        for (int ch = 0; ch < 3; ++ch) {
            sum[ch] = int(sum16(w * x[ch]));
            spread += count * int(sum16(w * x[ch] * x[ch])) - sum[ch] * sum[ch];
        }
        for (int m = 0; m < 2 && float(spread) < best.error * float(count) * kSolidGate; ++m) {
            const Mode solidMode = m == 0 ? Mode::Four : Mode::Three;
            if (m == 0 ? fourAllowed : allowThree) {
                IndexLanes<V> idx;
                const Encoded solid =
                    evaluate(colours, nearestToMeanEndpoints(sum, count, solidMode), solidMode, &idx);
                if (solid.error < best.error) {
                    best = solid;
                }
            }
        }
    }
    if (effort.winnerJointPasses > 0 && best.error > effort.winnerJointAbove) {
        IndexLanes<V> idx;
        jointMovePasses(colours, best.mode, effort.winnerJointPasses, effort.jointMoves, best, idx);
    }
    return best;
}

DXT_INLINE void encodeColourBlockInline(const ColourBlock& block, bool allowThree, const SearchEffort& effort,
                                        std::uint8_t* out) {
    // Distinct counted colours and how many pixels carry each: the search then scales with the
    // colours a block really has, and most have few.
    float pr[16] = {};
    float pg[16] = {};
    float pb[16] = {};
    float pw[16] = {};
    std::uint32_t keys[16];
    int n = 0;
    int counted = 0;
    for (int i = 0; i < 16; ++i) {
        if (!(block.w[i] > 0.0f)) {
            continue;
        }
        ++counted;
        const std::uint32_t key =
            std::uint32_t(block.r[i]) | std::uint32_t(block.g[i]) << 8 | std::uint32_t(block.b[i]) << 16;
        int u = 0;
        while (u < n && keys[u] != key) {
            ++u;
        }
        if (u == n) {
            keys[n] = key;
            pr[n] = block.r[i], pg[n] = block.g[i], pb[n] = block.b[i];
            ++n;
        }
        pw[u] += 1.0f;
    }
    const bool fourAllowed = block.transparent == 0;
    if (counted == 0) {
        // Nothing visible: both endpoints black reads as the three-colour palette, where index 3 is
        // transparent and index 0 black.
        Encoded e;
        e.indices = packIndices(I16{}, block.transparent);
        writeBlock(e, out);
        return;
    }
    if (n == 1) {
        const int rgb[3] = {int(pr[0]), int(pg[0]), int(pb[0])};
        writeBlock(encodeSolid(block, rgb, fourAllowed, allowThree), out);
        return;
    }

    if (n == 2 && effort.twoColourShortcut) {
        // Two colours: they are the natural endpoints; only storage rounding is left to settle.
        const float e0[3] = {pr[0], pg[0], pb[0]};
        const float e1[3] = {pr[1], pg[1], pb[1]};
        writeBlock(withIndices(block, refine(pixelsOf(block), fourAllowed ? Mode::Four : Mode::Three, e0, e1,
                                             effort)),
                   out);
        return;
    }
    if (n == 2 && !effort.twoColourShortcut) {
        const int a[3] = {int(pr[0]), int(pg[0]), int(pb[0])};
        const int b[3] = {int(pr[1]), int(pg[1]), int(pb[1])};
        const Encoded best = encodeTwoColours(block, a, int(pw[0]), b, int(pw[1]), fourAllowed, allowThree);
        writeBlock(best, out);
        return;
    }
    float axis[3];
    principalAxis(pr, pg, pb, pw, axis);

    // Rank of each colour along the axis; ties keep first-seen order so the result is deterministic.
    SortedPoints sp;
    sp.n = n;
    float t[16];
    for (int i = 0; i < 16; ++i) {
        t[i] = pr[i] * axis[0] + pg[i] * axis[1] + pb[i] * axis[2];
    }
    float sr[16];
    float sg[16];
    float sb[16];
    float sw[16];
    // Fixed-length, branch-free counting (padding sorts last) so the compiler can vectorise it.
    alignas(64) float tp[16];
    for (int j = 0; j < 16; ++j) {
        tp[j] = j < n ? t[j] : 3.4e38f;
    }
    // All ranks at once, one colour j per step: each lane counts the colours that sort before it.
    const F16 tv = loadF16(tp);
    const I8 laneLo = {0, 1, 2, 3, 4, 5, 6, 7};
    const I8 laneHi = laneLo + 8;
    I8 rankLo = I8{};
    I8 rankHi = I8{};
    for (int j = 0; j < n; ++j) {
        const F8 tj = F8{} + tp[j];
        rankLo -= (tj < tv.lo) | ((tj == tv.lo) & (laneLo > j));
        rankHi -= (tj < tv.hi) | ((tj == tv.hi) & (laneHi > j));
    }
    alignas(64) int ranks[16];
    std::memcpy(ranks, &rankLo, sizeof rankLo);
    std::memcpy(ranks + 8, &rankHi, sizeof rankHi);
    for (int i = 0; i < 16; ++i) {
        sp.t[i] = FLT_MAX;
    }
    for (int i = 0; i < n; ++i) {
        const int rank = ranks[i];
        sr[rank] = pr[i] * pw[i], sg[rank] = pg[i] * pw[i], sb[rank] = pb[i] * pw[i], sw[rank] = pw[i];
        sp.t[rank] = t[i];
    }
    // The cluster search reads up to sixteen entries past a window's start, so the totals are
    // repeated that far.
    float acc[4] = {0, 0, 0, 0};
    for (int k = 0; k < n + 16; ++k) {
        sp.prefix[0][k] = acc[0], sp.prefix[1][k] = acc[1], sp.prefix[2][k] = acc[2], sp.weight[k] = acc[3];
        if (k < n) {
            acc[0] += sr[k], acc[1] += sg[k], acc[2] += sb[k], acc[3] += sw[k];
        }
    }

    // Blocks of at most eight colours are scored on their distinct colours, on half the lanes.
    const Encoded best =
        n <= 8 ? fitColours(block, Colours<F8>{{loadF8(pr), loadF8(pg), loadF8(pb)}, loadF8(pw)}, sp,
                            allowThree, effort)
               : fitColours(block, pixelsOf(block), sp, allowThree, effort);
    writeBlock(withIndices(block, best), out);
}

// One entry per level, each with every step above inlined at its own instruction set. Rounding is
// the same at every level: contraction into fused multiply-adds is off for the whole library, and
// every reduction adds in one fixed order.
#if DXT_X86_LEVELS
__attribute__((target("arch=x86-64-v4"))) void encodeColourBlockV4(const ColourBlock& block, bool allowThree,
                                                                   const SearchEffort& effort,
                                                                   std::uint8_t* out) {
    encodeColourBlockInline(block, allowThree, effort, out);
}
__attribute__((target("arch=x86-64-v3"))) void encodeColourBlockV3(const ColourBlock& block, bool allowThree,
                                                                   const SearchEffort& effort,
                                                                   std::uint8_t* out) {
    encodeColourBlockInline(block, allowThree, effort, out);
}
#endif
void encodeColourBlockBaseline(const ColourBlock& block, bool allowThree, const SearchEffort& effort,
                               std::uint8_t* out) {
    encodeColourBlockInline(block, allowThree, effort, out);
}

}  // namespace

void encodeColourBlock(const ColourBlock& block, bool allowThree, const SearchEffort& effort,
                       std::uint8_t* out) {
    switch (simdLevel()) {
#if DXT_X86_LEVELS
        case SimdLevel::X86_64_V4:
            return encodeColourBlockV4(block, allowThree, effort, out);
        case SimdLevel::X86_64_V3:
            return encodeColourBlockV3(block, allowThree, effort, out);
#endif
        default:
            return encodeColourBlockBaseline(block, allowThree, effort, out);
    }
}

}  // namespace ImageService::Dxt::detail
