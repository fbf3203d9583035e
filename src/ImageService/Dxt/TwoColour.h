// Blocks of exactly two colours, solved outright. Every pixel of one colour takes the same palette
// entry, so a palette is fixed by which entry each colour takes; with the entries fixed the channels
// are independent, and each channel's best pair of stored values lies within a step or two of the
// pair that puts both colours exactly on their entries. Trying every pair of entries and the stored
// values around each ideal pair finds the best block the format allows (the tests check it against
// trying every endpoint), at less cost than the general fit; such blocks (lines, lettering, flat
// shading) are often the commonest kind after solid ones.
#pragma once

#include <algorithm>
#include <cmath>

#include "ImageService/Dxt/DxtBlock.h"
#include "ImageService/Dxt/Palette.h"

namespace ImageService::Dxt::detail {

// Entry pairs worth trying, as (entry of the first colour, entry of the second). Swapping the
// endpoints maps entries 0<->1 and 2<->3 and leaves the palette as it was, so of each such mirror
// pair only one is listed. Both colours on one entry is tried apart (nearestToMeanEndpoints).
inline constexpr int kFourEntryPairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {2, 0}, {2, 1}, {2, 3}};
inline constexpr int kThreeEntryPairs[3][2] = {{0, 1}, {0, 2}, {2, 0}};

// Best stored values of one channel with colour values a and b on the given entries: the squared
// error, weighted by each colour's pixel count, and the pair reaching it (lowest lane on ties).
DXT_INLINE int bestChannelPair(int a, int na, int b, int nb, const int* entries, Mode mode, int ch, int* q0,
                               int* q1) {
    const float* weight = kEndpointWeight[mode == Mode::Four ? 0 : 1];
    const float wa = weight[entries[0]];
    const float wb = weight[entries[1]];
    // Solve wa*x0 + (1-wa)*x1 = a and wb*x0 + (1-wb)*x1 = b; the entries differ, so wa != wb.
    float x0 = (a * (1.0f - wb) - b * (1.0f - wa)) / (wa - wb);
    float x1 = (b * wa - a * wb) / (wa - wb);
    // An ideal endpoint outside the range is pinned to its edge, and the other one is then the
    // least-squares fit with it pinned, which may lie far from where it was.
    if (x0 < 0.0f || x0 > 255.0f) {
        x0 = std::min(std::max(x0, 0.0f), 255.0f);
        const float ua = 1.0f - wa;
        const float ub = 1.0f - wb;
        x1 = (na * ua * (a - wa * x0) + nb * ub * (b - wb * x0)) / (na * ua * ua + nb * ub * ub);
    } else if (x1 < 0.0f || x1 > 255.0f) {
        x1 = std::min(std::max(x1, 0.0f), 255.0f);
        x0 = (na * wa * (a - (1.0f - wa) * x1) + nb * wb * (b - (1.0f - wb) * x1)) /
             (na * wa * wa + nb * wb * wb);
    }
    const float scale = float(kChannelMax[ch]) / 255.0f;
    const int base0 = int(std::floor(std::min(std::max(x0, -8.0f), 263.0f) * scale));
    const int base1 = int(std::floor(std::min(std::max(x1, -8.0f), 263.0f) * scale));
    const int max = kChannelMax[ch];
    // Each lane's error and lane number in one key, so the smallest key is the best pair with ties
    // to the lowest lane (errors stay below 2^21).
    I8 key[2];
    I8 s0[2];
    const I8 s1 = clampLanes(I8{} + base1 + kOffset1, max);
    const I8 v1 = expandLanes(s1, ch);
    for (int half = 0; half < 2; ++half) {
        s0[half] = clampLanes(I8{} + base0 + (half == 0 ? kOffset0Lo : kOffset0Hi), max);
        const I8 v0 = expandLanes(s0[half], ch);
        const I8 da = entryLanes(entries[0], mode, v0, v1) - a;
        const I8 db = entryLanes(entries[1], mode, v0, v1) - b;
        key[half] = ((na * da * da + nb * db * db) << 4) + (kLaneNumbers + 8 * half);
    }
    const int best = smallestKey(key[0], key[1]);
    const int lane = best & 15;
    *q0 = s0[lane >> 3][lane & 7];
    *q1 = s1[lane & 7];
    return best >> 4;
}

// The best block for colours a (na pixels) and b (nb pixels) over every entry pair of each allowed
// mode; indices are those evaluate assigns, so pixels may still pick a nearer entry than planned.
DXT_INLINE Encoded encodeTwoColours(const ColourBlock& block, const int* a, int na, const int* b, int nb,
                                    bool fourAllowed, bool threeAllowed) {
    Encoded best;
    for (int m = 0; m < 2; ++m) {
        const Mode mode = m == 0 ? Mode::Four : Mode::Three;
        if (!(m == 0 ? fourAllowed : threeAllowed)) {
            continue;
        }
        const int(*pairs)[2] = mode == Mode::Four ? kFourEntryPairs : kThreeEntryPairs;
        const int count = mode == Mode::Four ? 6 : 3;
        // With four entries allowed, the three-colour pair (0, 1) is the four-colour one again.
        // The last trial puts both colours on one entry.
        for (int p = (mode == Mode::Three && fourAllowed) ? 1 : 0; p <= count; ++p) {
            Endpoints ends;
            int err = 0;
            if (p == count) {
                if (best.error == 0.0f) {
                    break;
                }
                const int sum[3] = {a[0] * na + b[0] * nb, a[1] * na + b[1] * nb, a[2] * na + b[2] * nb};
                ends = nearestToMeanEndpoints(sum, na + nb, mode);
            } else {
                // The channels' errors only add up: once past the best, the pair is out.
                for (int ch = 0; ch < 3 && float(err) < best.error; ++ch) {
                    err += bestChannelPair(a[ch], na, b[ch], nb, pairs[p], mode, ch, &ends.c[0][ch],
                                           &ends.c[1][ch]);
                }
            }
            if (float(err) < best.error || p == count) {
                I16 idx;
                Encoded e = evaluate(block, ends, mode, &idx);
                if (e.error < best.error) {
                    e.indices = packIndices(idx, block.transparent);
                    best = e;
                }
            }
        }
    }
    return best;
}

}  // namespace ImageService::Dxt::detail
