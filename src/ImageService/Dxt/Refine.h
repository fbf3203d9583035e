// Endpoint refinement at storage precision. The cluster search works on real-valued endpoints; what
// a decoder shows is the rounded 565 pair and its integer-rounded interpolants, so the last word on
// every block is taken here, against that exact palette.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>

#include "ImageService/Dxt/DxtBlock.h"
#include "ImageService/Dxt/Palette.h"
#include "ImageService/Dxt/SearchEffort.h"

namespace ImageService::Dxt::detail {

DXT_INLINE int clampChannel(int v, int ch) {
    return std::min(std::max(v, 0), kChannelMax[ch]);
}

// Nearest integer, halves away from zero, as std::lround gives for the values met here (|x| < 2^23)
// but without the library call it compiles to. x - t is exact: both share x's exponent or t is 0.
DXT_INLINE int roundNearest(float x) {
    const int t = int(x);
    const float f = x - float(t);
    return t + int(f >= 0.5f) - int(f <= -0.5f);
}

// Moves of one channel's two endpoint values at once: each alone first, then together and apart.
inline constexpr int kChannelMoves[8][2] = {{-1, 0}, {1, 0},   {0, -1}, {0, 1},
                                            {1, 1},  {-1, -1}, {1, -1}, {-1, 1}};

// Moves of one endpoint in several channels at once, along grey first and then the channel pairs
// (green in its own units, which are twice as fine). Local minima of the single-channel moves sit
// mostly where a colour must shift in two or three channels together for the pixels' indices to
// change.
inline constexpr int kJointMoves[10][3] = {{1, 1, 1},   {-1, -1, -1}, {1, 2, 1},   {-1, -2, -1}, {1, 1, 0},
                                           {-1, -1, 0}, {0, 1, 1},    {0, -1, -1}, {1, 0, 1},    {-1, 0, -1}};

// Least-squares endpoints for fixed indices, then per channel the storage values around them that
// minimise that channel's error exactly (channels are independent once the indices are fixed).
template <class V>
DXT_INLINE bool quantisedLeastSquares(const Colours<V>& colours, const Encoded& cur, const IndexLanes<V>& idx,
                                      int reach, Endpoints& out) {
    const V& w = colours.w;
    const V* x = colours.x;

    // Per index: pixel count and per channel sum of values. Everything below, the normal equations
    // and each candidate's channel error, follows from these sixteen numbers.
    // They are sums of integers, exact in any order, so all sixteen are reduced together.
    F8 parts[16];
    for (int k = 0; k < 4; ++k) {
        const V sel = keep(idx == k, w);
        parts[k] = fold(sel);
        for (int ch = 0; ch < 3; ++ch) {
            parts[4 + 4 * ch + k] = fold(sel * x[ch]);
        }
    }
    alignas(32) float sums[16];
    const F8 first = sumEach(parts);
    const F8 second = sumEach(parts + 8);
    std::memcpy(sums, &first, sizeof first);
    std::memcpy(sums + 8, &second, sizeof second);
    float n[4];
    float s[4][3];
    for (int k = 0; k < 4; ++k) {
        n[k] = sums[k];
        for (int ch = 0; ch < 3; ++ch) {
            s[k][ch] = sums[4 + 4 * ch + k];
        }
    }
    const float* alpha = kEndpointWeight[cur.mode == Mode::Four ? 0 : 1];
    float a2 = 0.0f;
    float b2 = 0.0f;
    float ab = 0.0f;
    for (int k = 0; k < 4; ++k) {
        a2 += n[k] * alpha[k] * alpha[k];
        b2 += n[k] * (1.0f - alpha[k]) * (1.0f - alpha[k]);
        ab += n[k] * alpha[k] * (1.0f - alpha[k]);
    }
    const float det = a2 * b2 - ab * ab;
    if (!(std::fabs(det) > 1e-3f)) {
        return false;
    }
    const float inv = 1.0f / det;

    for (int ch = 0; ch < 3; ++ch) {
        float ax = 0.0f;
        float bx = 0.0f;
        for (int k = 0; k < 4; ++k) {
            ax += alpha[k] * s[k][ch];
            bx += (1.0f - alpha[k]) * s[k][ch];
        }
        const float e0 = (ax * b2 - bx * ab) * inv;
        const float e1 = (bx * a2 - ax * ab) * inv;
        const float scale = float(kChannelMax[ch]) / 255.0f;
        const int base0 = int(std::floor(std::min(std::max(e0, -1.0f), 256.0f) * scale));
        const int base1 = int(std::floor(std::min(std::max(e1, -1.0f), 256.0f) * scale));
        // Every candidate's error at once; each term is an integer below 2^23 in magnitude, so the
        // sums are exact, and offset and lane number make one integer key whose minimum is the
        // first best candidate in the order of the offsets.
        const int max = kChannelMax[ch];
        const I8 q1 = clampLanes(I8{} + base1 + kOffset1, max);
        const I8 x1 = expandLanes(q1, ch);
        I8 q0[2];
        I8 key[2];
        for (int half = 0; half < 2; ++half) {
            const I8 offset0 = half == 0 ? kOffset0Lo : kOffset0Hi;
            q0[half] = clampLanes(I8{} + base0 + offset0, max);
            const I8 x0 = expandLanes(q0[half], ch);
            const I8 e2 = entryLanes(2, cur.mode, x0, x1);
            const I8 e3 = cur.mode == Mode::Four ? entryLanes(3, cur.mode, x0, x1) : I8{};
            const I8 inReach =
                (offset0 >= -reach) & (offset0 <= reach + 1) & (kOffset1 >= -reach) & (kOffset1 <= reach + 1);
            F8 err = F8{};
            const I8 entries[4] = {x0, x1, e2, e3};
            for (int k = 0; k < 4; ++k) {
                const F8 v = __builtin_convertvector(entries[k], F8);
                err += v * (n[k] * v - 2.0f * s[k][ch]);
            }
            const I8 lanes =
                ((__builtin_convertvector(err, I8) + (1 << 22)) << 4) + (kLaneNumbers + 8 * half);
            key[half] = select(inReach, lanes, I8{} + 0x7fffffff);
        }
        const int bestKey = smallestKey(key[0], key[1]);
        const int lane = bestKey & 15;
        const int best0 = q0[lane >> 3][lane & 7];
        const int best1 = q1[lane & 7];
        out.c[0][ch] = best0;
        out.c[1][ch] = best1;
    }
    return true;
}

// One channel of the palette a decoder builds from endpoint values q0, q1 (entries past the mode's
// count are 0), with buildPalette's exact division by three.
DXT_INLINE void paletteChannel(int q0, int q1, int ch, Mode mode, float* v) {
    const int x0 = expandChannel(q0, ch);
    const int x1 = expandChannel(q1, ch);
    v[0] = float(x0);
    v[1] = float(x1);
    if (mode == Mode::Four) {
        v[2] = float(((2 * x0 + x1) * 43691) >> 17);
        v[3] = float(((x0 + 2 * x1) * 43691) >> 17);
    } else {
        v[2] = float((x0 + x1) >> 1);
        v[3] = 0.0f;
    }
}

// Each pixel's squared distance to each palette entry of the current endpoints, less one channel's
// term. A unit move changes a single channel of the palette, so a trial then costs that channel's
// terms alone. Pixel values and palette entries are integers, so every sum here is exact and a
// trial scores exactly as a full evaluation would.
template <class V>
struct MoveBase {
    V rest[4][3];
};

template <class V>
DXT_INLINE void buildMoveBase(const V* x, const Endpoints& ends, Mode mode, MoveBase<V>& base) {
    float v[3][4];
    for (int ch = 0; ch < 3; ++ch) {
        paletteChannel(ends.c[0][ch], ends.c[1][ch], ch, mode, v[ch]);
    }
    const int entries = mode == Mode::Four ? 4 : 3;
    for (int k = 0; k < entries; ++k) {
        const V dr = x[0] - v[0][k];
        const V dg = x[1] - v[1][k];
        const V db = x[2] - v[2][k];
        const V tr = dr * dr;
        const V tg = dg * dg;
        const V tb = db * db;
        base.rest[k][0] = tg + tb;
        base.rest[k][1] = tr + tb;
        base.rest[k][2] = tr + tg;
    }
}

// The error evaluate gives for endpoints that differ from the base's in channel ch only, where they
// are q0 and q1; trials are mostly rejected, so no indices are kept. single: the two endpoints are
// equal, which leaves a four-colour palette one entry.
template <class V>
DXT_INLINE float moveError(const V* x, const V& w, const MoveBase<V>& base, int q0, int q1, int ch, Mode mode,
                           bool single) {
    float v[4];
    paletteChannel(q0, q1, ch, mode, v);
    const int entries = mode == Mode::Four ? (single ? 1 : 4) : 3;
    V best = V{} + 3.4e38f;
    for (int k = 0; k < entries; ++k) {
        const V dc = x[ch] - v[k];
        best = minNonNegative(base.rest[k][ch] + dc * dc, best);
    }
    return sum16(best * w);
}

// For joint moves of one endpoint, the other fixed: each pixel's squared distance to the fixed
// endpoint's entry, which no such move changes, and per channel its squared distance to each other
// entry for every value the moving endpoint's channel takes (red and blue one step either way,
// green two). A move then costs three table sums per moving entry instead of a palette rebuild and
// a full evaluation, with the same exact error.
// x and w are a Colours form's (DxtBlock.h).
inline constexpr int kJointReach[3] = {1, 2, 1};

template <class V>
struct JointBase {
    V fixed;
    V term[3][5][3];  // [channel][offset + reach][moving entry: the endpoint's own, then 2, 3]
    bool inRange[3][5];
    int moving;
};

template <class V>
DXT_INLINE void buildJointBase(const V* x, const Endpoints& ends, int end, Mode mode, JointBase<V>& base) {
    base.moving = mode == Mode::Four ? 3 : 2;
    const int entry[3] = {end, 2, 3};
    base.fixed = V{};
    for (int ch = 0; ch < 3; ++ch) {
        const V dc = x[ch] - float(expandChannel(ends.c[1 - end][ch], ch));
        base.fixed = base.fixed + dc * dc;
        for (int d = -kJointReach[ch]; d <= kJointReach[ch]; ++d) {
            int q[2] = {ends.c[0][ch], ends.c[1][ch]};
            q[end] += d;
            base.inRange[ch][d + kJointReach[ch]] = q[end] >= 0 && q[end] <= kChannelMax[ch];
            if (!base.inRange[ch][d + kJointReach[ch]]) {
                continue;
            }
            float v[4];
            paletteChannel(q[0], q[1], ch, mode, v);
            for (int j = 0; j < base.moving; ++j) {
                const V dm = x[ch] - v[entry[j]];
                base.term[ch][d + kJointReach[ch]][j] = dm * dm;
            }
        }
    }
}

// The error evaluate gives for the base's endpoints with the moving endpoint moved by `move`, where
// the moved pair is not equal (a four-colour palette of equal endpoints keeps one entry).
template <class V>
DXT_INLINE float jointMoveError(const JointBase<V>& base, const V& w, const int* move) {
    const V* r = base.term[0][move[0] + kJointReach[0]];
    const V* g = base.term[1][move[1] + kJointReach[1]];
    const V* b = base.term[2][move[2] + kJointReach[2]];
    V best = base.fixed;
    for (int j = 0; j < base.moving; ++j) {
        best = minNonNegative(r[j] + g[j] + b[j], best);
    }
    return sum16(best * w);
}

// From real-valued endpoints (0..255 per channel) to the stored block: rounding, then rounds of a
// quantised least-squares step and single-channel moves, then passes of joint moves, each kept only
// where it lowers the error.
DXT_INLINE Endpoints rounded(const float* end0, const float* end1) {
    Endpoints e;
    for (int ch = 0; ch < 3; ++ch) {
        const float scale = float(kChannelMax[ch]) / 255.0f;
        e.c[0][ch] = clampChannel(roundNearest(end0[ch] * scale), ch);
        e.c[1][ch] = clampChannel(roundNearest(end1[ch] * scale), ch);
    }
    return e;
}

// Real-valued endpoints rounded to storage precision and scored: where refinement starts, and a
// cheap first look at a candidate before refining it.
template <class V>
struct Start {
    Encoded encoded;
    IndexLanes<V> idx;
};
template <class V>
DXT_INLINE Start<V> roundedStart(const Colours<V>& colours, Mode mode, const float* end0, const float* end1) {
    Start<V> start;
    start.encoded = evaluate(colours, rounded(end0, end1), mode, &start.idx);
    return start;
}

// Passes of joint moves from `best` (indices `idx`), each move kept where it lowers the error.
// Returns whether any was kept.
template <class V>
DXT_INLINE bool jointMovePasses(const Colours<V>& colours, Mode mode, int passes, int moves, Encoded& best,
                                IndexLanes<V>& idx) {
    const V* x = colours.x;
    const V& w = colours.w;
    bool moved = false;
    for (int pass = 0; pass < passes && best.error > 0.0f; ++pass) {
        const float before = best.error;
        for (int e = 0; e < 2; ++e) {
            JointBase<V> base;
            buildJointBase(x, best.ends, e, mode, base);
            for (int m = 0; m < moves; ++m) {
                const int* move = kJointMoves[m];
                if (!(base.inRange[0][move[0] + kJointReach[0]] & base.inRange[1][move[1] + kJointReach[1]] &
                      base.inRange[2][move[2] + kJointReach[2]])) {
                    continue;
                }
                Endpoints t = best.ends;
                for (int ch = 0; ch < 3; ++ch) {
                    t.c[e][ch] += move[ch];
                }
                const bool equal = pack565(t.c[0]) == pack565(t.c[1]);
                if (equal || jointMoveError(base, w, move) < best.error) {
                    IndexLanes<V> ti;
                    const Encoded trial = evaluate(colours, t, mode, &ti);
                    if (trial.error < best.error) {
                        best = trial;
                        idx = ti;
                        moved = true;
                        buildJointBase(x, best.ends, e, mode, base);
                    }
                }
            }
        }
        if (!(best.error < before)) {
            break;
        }
    }
    return moved;
}

// The result's error, endpoints and mode; its indices are left to the caller, which needs them for
// the block's winner alone.
template <class V>
DXT_INLINE Encoded refine(const Colours<V>& colours, Mode mode, const Start<V>& start,
                          const SearchEffort& effort) {
    IndexLanes<V> idx = start.idx;
    Encoded best = start.encoded;

    const V* x = colours.x;
    const V& w = colours.w;
    for (int round = 0; round < effort.refineRounds && best.error > 0.0f; ++round) {
        const float before = best.error;
        Endpoints next;
        if (quantisedLeastSquares(colours, best, idx, effort.leastSquaresReach, next)) {
            IndexLanes<V> nextIdx;
            const Encoded trial = evaluate(colours, next, mode, &nextIdx);
            if (trial.error < best.error) {
                best = trial;
                idx = nextIdx;
            }
        }
        if (best.error > 0.0f) {
            MoveBase<V> base;
            buildMoveBase(x, best.ends, mode, base);
            for (int ch = 0; ch < 3 && best.error > 0.0f; ++ch) {
                for (int m = 0; m < effort.channelMoves; ++m) {
                    const int* move = kChannelMoves[m];
                    const int q0 = best.ends.c[0][ch];
                    const int q1 = best.ends.c[1][ch];
                    const int t0 = q0 + move[0];
                    const int t1 = q1 + move[1];
                    if (t0 < 0 || t0 > kChannelMax[ch] || t1 < 0 || t1 > kChannelMax[ch]) {
                        continue;
                    }
                    bool single = t0 == t1;
                    for (int o = 0; o < 3 && single; ++o) {
                        single = o == ch || best.ends.c[0][o] == best.ends.c[1][o];
                    }
                    if (moveError(x, w, base, t0, t1, ch, mode, single) < best.error) {
                        Endpoints trialEnds = best.ends;
                        trialEnds.c[0][ch] = t0;
                        trialEnds.c[1][ch] = t1;
                        best = evaluate(colours, trialEnds, mode, &idx);
                        buildMoveBase(x, best.ends, mode, base);
                    }
                }
            }
        }
        if (!(best.error < before)) {
            break;
        }
    }

    jointMovePasses(colours, mode, effort.jointPasses, effort.jointMoves, best, idx);
    return best;
}

template <class V>
DXT_INLINE Encoded refine(const Colours<V>& colours, Mode mode, const float* end0, const float* end1,
                          const SearchEffort& effort) {
    return refine(colours, mode, roundedStart(colours, mode, end0, end1), effort);
}

}  // namespace ImageService::Dxt::detail
