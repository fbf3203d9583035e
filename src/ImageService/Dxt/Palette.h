// The palette a decoder rebuilds from two 565 endpoints, and the nearest-entry scoring of a block
// against it. Inline so that each instruction-set copy of the fitting steps gets its own copy.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "ImageService/Dxt/DxtBlock.h"

namespace ImageService::Dxt::detail {

// Weight of endpoint 0 in each index's colour (index 3 of the three-colour palette is transparent
// and never carries weight).
inline constexpr float kEndpointWeight[2][4] = {{1.0f, 0.0f, 2.0f / 3.0f, 1.0f / 3.0f},
                                                {1.0f, 0.0f, 0.5f, 0.0f}};

struct Palette {
    // Entry k's red, green and blue in v[k][0..2] (v[k][3] unused).
    alignas(16) float v[4][4];
    int count;
};

typedef std::int32_t I4 __attribute__((vector_size(16)));

// Interpolants as the reference decoder computes them: integer division, truncating (v * 43691 >> 17
// is v / 3 for every sum of expanded channels). The three channels go through side by side.
DXT_INLINE void buildPalette(const Endpoints& e, Mode mode, bool single, Palette& p) {
    const I4 q0 = {e.c[0][0], e.c[0][1], e.c[0][2], 0};
    const I4 q1 = {e.c[1][0], e.c[1][1], e.c[1][2], 0};
    const I4 up = {3, 2, 3, 0};
    const I4 down = {2, 4, 2, 0};
    const I4 x0 = (q0 << up) | (q0 >> down);
    const I4 x1 = (q1 << up) | (q1 >> down);
    I4 entries[4] = {x0, x1, (x0 + x1) >> 1, I4{}};
    if (mode == Mode::Four) {
        entries[2] = ((2 * x0 + x1) * 43691) >> 17;
        entries[3] = ((x0 + 2 * x1) * 43691) >> 17;
    }
    for (int k = 0; k < 4; ++k) {
        const F4 v = __builtin_convertvector(entries[k], F4);
        std::memcpy(p.v[k], &v, sizeof v);
    }
    p.count = single ? 1 : (mode == Mode::Four ? 4 : 3);
}

// Every counted pixel on one entry, each channel's stored interpolant nearest the pixels' mean
// (which minimises that channel's error): that interpolant lies next to the mean's floor or its
// ceiling, so the single-colour endpoints of both are tried per channel. sum: the channel sums over
// `count` pixels.
DXT_INLINE Endpoints nearestToMeanEndpoints(const int* sum, int count, Mode mode) {
    int below[3];
    int above[3];
    for (int ch = 0; ch < 3; ++ch) {
        below[ch] = sum[ch] / count;
        above[ch] = std::min(below[ch] + int(sum[ch] % count != 0), 255);
    }
    const Endpoints low = singleColourEndpoints(below, mode);
    const Endpoints high = singleColourEndpoints(above, mode);
    Endpoints ends = low;
    for (int ch = 0; ch < 3; ++ch) {
        // The interpolant's distance to the mean, times count, compared exactly in integers.
        const int x0Low = expandChannel(low.c[0][ch], ch);
        const int x1Low = expandChannel(low.c[1][ch], ch);
        const int x0High = expandChannel(high.c[0][ch], ch);
        const int x1High = expandChannel(high.c[1][ch], ch);
        const int lowEntry = mode == Mode::Four ? (2 * x0Low + x1Low) / 3 : (x0Low + x1Low) / 2;
        const int highEntry = mode == Mode::Four ? (2 * x0High + x1High) / 3 : (x0High + x1High) / 2;
        if (std::abs(highEntry * count - sum[ch]) < std::abs(lowEntry * count - sum[ch])) {
            ends.c[0][ch] = high.c[0][ch];
            ends.c[1][ch] = high.c[1][ch];
        }
    }
    return ends;
}

// Sixteen candidate pairs of one channel's stored endpoint values at once: lane 4*i + j holds the
// pair offset by (i - 1, j - 1) from a base pair, as two eight-lane halves.
inline constexpr I8 kOffset0Lo = {-1, -1, -1, -1, 0, 0, 0, 0};
inline constexpr I8 kOffset0Hi = {1, 1, 1, 1, 2, 2, 2, 2};
inline constexpr I8 kOffset1 = {-1, 0, 1, 2, -1, 0, 1, 2};
inline constexpr I8 kLaneNumbers = {0, 1, 2, 3, 4, 5, 6, 7};

// Written as conditionals, which compile to integer max and min.
DXT_INLINE I8 clampLanes(const I8& v, int max) {
    const I8 low = v < 0 ? I8{} : v;
    return low > max ? I8{} + max : low;
}

DXT_INLINE I8 expandLanes(const I8& q, int ch) {
    return ch == 1 ? (q << 2) | (q >> 4) : (q << 3) | (q >> 2);
}

// One palette entry per lane, with the decoder's truncating division (v * 43691 >> 17 is v / 3 for
// every sum of expanded channels).
DXT_INLINE I8 entryLanes(int entry, Mode mode, const I8& x0, const I8& x1) {
    switch (entry) {
        case 0:
            return x0;
        case 1:
            return x1;
        case 2:
            return mode == Mode::Four ? ((2 * x0 + x1) * 43691) >> 17 : (x0 + x1) >> 1;
        default:
            return ((x0 + 2 * x1) * 43691) >> 17;
    }
}

// The smallest of sixteen keys held as two halves, by halving the lanes in play (shuffles rather
// than a pass over the lanes one by one; conditionals, which compile to integer minima).
DXT_INLINE int smallestKey(const I8& a, const I8& b) {
    I8 m = b < a ? b : a;
    I8 t = __builtin_shufflevector(m, m, 4, 5, 6, 7, 0, 1, 2, 3);
    m = t < m ? t : m;
    t = __builtin_shufflevector(m, m, 2, 3, 0, 1, 6, 7, 4, 5);
    m = t < m ? t : m;
    t = __builtin_shufflevector(m, m, 1, 0, 3, 2, 5, 4, 7, 6);
    m = t < m ? t : m;
    return m[0];
}

// Swaps endpoints into the order the mode needs, assigns each colour its nearest palette entry under
// the reference decoder's integer rounding, and scores the result. lanes receives the indices.
template <class V>
DXT_INLINE Encoded evaluate(const Colours<V>& colours, const Endpoints& ends, Mode mode,
                            IndexLanes<V>* lanes) {
    Encoded out;
    out.mode = mode;
    out.ends = ends;
    std::uint16_t p0 = pack565(ends.c[0]);
    std::uint16_t p1 = pack565(ends.c[1]);
    if (mode == Mode::Four ? p0 < p1 : p0 > p1) {
        std::swap(out.ends.c[0], out.ends.c[1]);
        std::swap(p0, p1);
    }
    out.c0 = p0;
    out.c1 = p1;
    Palette pal;
    // Equal endpoints read as the three-colour palette, so a four-colour fit that collapsed can only
    // use index 0.
    buildPalette(out.ends, mode, mode == Mode::Four && p0 == p1, pal);

    V best = V{} + 3.4e38f;
    IndexLanes<V> idx = IndexLanes<V>{};
    for (int k = 0; k < pal.count; ++k) {
        const V dr = colours.x[0] - pal.v[k][0];
        const V dg = colours.x[1] - pal.v[k][1];
        const V db = colours.x[2] - pal.v[k][2];
        const V d = dr * dr + dg * dg + db * db;
        const IndexLanes<V> closer = d < best;
        best = select(closer, d, best);
        idx = select(closer, IndexLanes<V>{} + k, idx);
    }
    out.error = sum16(best * colours.w);
    *lanes = idx;
    return out;
}

DXT_INLINE Encoded evaluate(const ColourBlock& block, const Endpoints& ends, Mode mode, I16* lanes) {
    return evaluate(pixelsOf(block), ends, mode, lanes);
}

}  // namespace ImageService::Dxt::detail
