// Cluster fit: with the points in order along the principal axis, each way of cutting that order
// into consecutive runs (one run per palette entry) has a closed-form least-squares endpoint pair.
// The residual of that pair is sum|x|^2 - score, where
//   score = (beta2*|AX|^2 - 2*ab*AX.BX + alpha2*|BX|^2) / (alpha2*beta2 - ab^2),
// alpha2/beta2/ab depend only on the run lengths and AX (BX = total - AX) only on prefix sums at
// the cuts. So every cut costs a handful of multiply-adds, done eight at a time along the last cut.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cstdlib>
#include <cstring>

#include "ImageService/Dxt/DxtBlock.h"

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

namespace ImageService::Dxt::detail {

inline constexpr F8 kLane = {0, 1, 2, 3, 4, 5, 6, 7};

struct Best {
    F8 score = F8{} - FLT_MAX;
    I8 code = I8{};

    // Lanes outside ok hold no solution and are never taken.
    DXT_INLINE void take(const F8& s, const I8& c, const I8& ok) {
        const I8 better = (s > score) & ok;
        score = select(better, s, score);
        code = select(better, c, code);
    }
    // Highest score over the lanes; ties go to the lowest code so the result does not depend on
    // the vector width. Found by halving the lanes in play: a pass over them one by one branches
    // unpredictably on every lane.
    int reduce(float* outScore) const {
        F8 s = score;
        s = select(__builtin_shufflevector(s, s, 4, 5, 6, 7, 0, 1, 2, 3) > s,
                   __builtin_shufflevector(s, s, 4, 5, 6, 7, 0, 1, 2, 3), s);
        s = select(__builtin_shufflevector(s, s, 2, 3, 0, 1, 6, 7, 4, 5) > s,
                   __builtin_shufflevector(s, s, 2, 3, 0, 1, 6, 7, 4, 5), s);
        s = select(__builtin_shufflevector(s, s, 1, 0, 3, 2, 5, 4, 7, 6) > s,
                   __builtin_shufflevector(s, s, 1, 0, 3, 2, 5, 4, 7, 6), s);
        *outScore = s[0];
        if (s[0] == -FLT_MAX) {
            return 0;
        }
        I8 c = select(score == s, code, I8{} + 0x7fffffff);
        c = select(__builtin_shufflevector(c, c, 4, 5, 6, 7, 0, 1, 2, 3) < c,
                   __builtin_shufflevector(c, c, 4, 5, 6, 7, 0, 1, 2, 3), c);
        c = select(__builtin_shufflevector(c, c, 2, 3, 0, 1, 6, 7, 4, 5) < c,
                   __builtin_shufflevector(c, c, 2, 3, 0, 1, 6, 7, 4, 5), c);
        c = select(__builtin_shufflevector(c, c, 1, 0, 3, 2, 5, 4, 7, 6) < c,
                   __builtin_shufflevector(c, c, 1, 0, 3, 2, 5, 4, 7, 6), c);
        return c[0];
    }
};

// Rounds to the nearest multiple of 255/levels; the added constant pushes the fraction bits out of a
// float, which rounds without needing SSE4.1.
DXT_INLINE F8 snap(const F8& v, float levels) {
    const F8 x = v * (levels / 255.0f) + 12582912.0f;
    return (x - 12582912.0f) * (255.0f / levels);
}

// On the bit patterns: floats of one sign order as their integers, so integer min and max clamp
// (one instruction each, where float compare-and-select takes two).
DXT_INLINE F8 clamp255(const F8& v) {
    const I8 bits = (I8)v;
    const I8 low = bits < 0 ? I8{} : bits;
    return (F8)(low > 0x437f0000 ? I8{} + 0x437f0000 : low);
}

// Minus the squared error of a cut's least-squares endpoints once they are clamped and rounded to
// storage precision, less the term common to all cuts (sum |x|^2). Unclamped scores would favour
// cuts whose endpoints lie far outside the colour cube and that no block can store.
DXT_INLINE F8 cutScore(const F8& axR, const F8& axG, const F8& axB, const F8& bxR, const F8& bxG,
                       const F8& bxB, const F8& alpha2, const F8& beta2, const F8& ab) {
    const F8 det = alpha2 * beta2 - ab * ab;
    const F8 f = 1.0f / select(det > 0.01f, det, F8{} + 1.0f);
    const F8 aR = snap(clamp255((axR * beta2 - bxR * ab) * f), 31.0f);
    const F8 aG = snap(clamp255((axG * beta2 - bxG * ab) * f), 63.0f);
    const F8 aB = snap(clamp255((axB * beta2 - bxB * ab) * f), 31.0f);
    const F8 bR = snap(clamp255((bxR * alpha2 - axR * ab) * f), 31.0f);
    const F8 bG = snap(clamp255((bxG * alpha2 - axG * ab) * f), 63.0f);
    const F8 bB = snap(clamp255((bxB * alpha2 - axB * ab) * f), 31.0f);
    const F8 aa = aR * aR + aG * aG + aB * aB;
    const F8 bb = bR * bR + bG * bG + bB * bB;
    const F8 abDot = aR * bR + aG * bG + aB * bB;
    const F8 ax = aR * axR + aG * axG + aB * axB;
    const F8 bx = bR * bxR + bG * bxG + bB * bxB;
    return 2.0f * (ax + bx) - (alpha2 * aa + beta2 * bb + 2.0f * ab * abDot);
}

DXT_INLINE int code3(int i, int j, int k) {
    return (i << 10) | (j << 5) | k;
}

// Scores of cuts (i, j, k..k+7) for four runs: [0,i) [i,j) [j,k) [k,n).
DXT_INLINE void scoreFour(const SortedPoints& p, int i, int j, int kStart, int kEnd, Best& best) {
    const int n = p.n;
    const float baseR = p.prefix[0][i] + p.prefix[0][j];
    const float baseG = p.prefix[1][i] + p.prefix[1][j];
    const float baseB = p.prefix[2][i] + p.prefix[2][j];
    const float totR = p.prefix[0][n];
    const float totG = p.prefix[1][n];
    const float totB = p.prefix[2][n];
    const float wi = p.weight[i];
    const float wj = p.weight[j];
    const float wn = p.weight[n];
    const float a = wi;
    const float b = wj - wi;
    for (int k = kStart; k <= kEnd; k += 8) {
        const F8 kf = float(k) + kLane;
        const F8 wk = loadF8(p.weight + k);
        const F8 axR = (baseR + loadF8(p.prefix[0] + k)) * (1.0f / 3.0f);
        const F8 axG = (baseG + loadF8(p.prefix[1] + k)) * (1.0f / 3.0f);
        const F8 axB = (baseB + loadF8(p.prefix[2] + k)) * (1.0f / 3.0f);
        const F8 bxR = totR - axR;
        const F8 bxG = totG - axG;
        const F8 bxB = totB - axB;
        const F8 c = wk - wj;
        const F8 d = wn - wk;
        const F8 alpha2 = a + (4.0f * b + c) * (1.0f / 9.0f);
        const F8 beta2 = d + (4.0f * c + b) * (1.0f / 9.0f);
        const F8 ab = (b + c) * (2.0f / 9.0f);
        const I8 ok = (alpha2 * beta2 - ab * ab > 0.01f) & (kf <= float(kEnd));
        const F8 score = cutScore(axR, axG, axB, bxR, bxG, bxB, alpha2, beta2, ab);
        const I8 code = I8{} + code3(i, j, 0) + I8{0, 1, 2, 3, 4, 5, 6, 7} + k;
        best.take(score, code, ok);
    }
}

// Three runs: [0,i) [i,j) [j,n) with weights 1, 1/2, 0.
DXT_INLINE void scoreThree(const SortedPoints& p, int i, int jStart, int jEnd, Best& best) {
    const int n = p.n;
    const float baseR = p.prefix[0][i];
    const float baseG = p.prefix[1][i];
    const float baseB = p.prefix[2][i];
    const float totR = p.prefix[0][n];
    const float totG = p.prefix[1][n];
    const float totB = p.prefix[2][n];
    const float a = p.weight[i];
    const float wn = p.weight[n];
    for (int j = jStart; j <= jEnd; j += 8) {
        const F8 jf = float(j) + kLane;
        const F8 wj = loadF8(p.weight + j);
        const F8 axR = (baseR + loadF8(p.prefix[0] + j)) * 0.5f;
        const F8 axG = (baseG + loadF8(p.prefix[1] + j)) * 0.5f;
        const F8 axB = (baseB + loadF8(p.prefix[2] + j)) * 0.5f;
        const F8 bxR = totR - axR;
        const F8 bxG = totG - axG;
        const F8 bxB = totB - axB;
        const F8 b = wj - a;
        const F8 c = wn - wj;
        const F8 ab = b * 0.25f;
        const F8 alpha2 = a + ab;
        const F8 beta2 = c + ab;
        const I8 ok = (alpha2 * beta2 - ab * ab > 0.01f) & (jf <= float(jEnd));
        const F8 score = cutScore(axR, axG, axB, bxR, bxG, bxB, alpha2, beta2, ab);
        const I8 code = I8{} + code3(0, i, 0) + I8{0, 1, 2, 3, 4, 5, 6, 7} + j;
        best.take(score, code, ok);
    }
}

#if defined(__wasm_simd128__)
// WebAssembly has no lane permute, and clang spills a variable-index pick to memory lane by lane.
// Bytes gathered with swizzle do it in registers: each table quarter of four lanes is swizzled with
// the lane indices as byte indices, and since swizzle gives zero for an index past 15, the quarters
// combine with an or once each is offset by 16 bytes. The same lanes as the plain pick, so the same
// blocks.
DXT_INLINE F8 pickFromQuarters(const v128_t* table, int quarters, const I8& idx, int mask) {
    v128_t lanes[2];
    std::memcpy(lanes, &idx, sizeof idx);
    v128_t out[2];
    for (int half = 0; half < 2; ++half) {
        const v128_t first = wasm_i32x4_shl(wasm_v128_and(lanes[half], wasm_i32x4_splat(mask)), 2);
        v128_t bytes = wasm_i8x16_add(
            wasm_i8x16_swizzle(first, wasm_i8x16_const(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12)),
            wasm_i8x16_const(0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3));
        out[half] = wasm_i8x16_swizzle(table[0], bytes);
        for (int quarter = 1; quarter < quarters; ++quarter) {
            bytes = wasm_i8x16_sub(bytes, wasm_i8x16_splat(16));
            out[half] = wasm_v128_or(out[half], wasm_i8x16_swizzle(table[quarter], bytes));
        }
    }
    F8 picked;
    std::memcpy(&picked, out, sizeof picked);
    return picked;
}
#endif

// Lanes of v picked by idx (0..7 each).
DXT_INLINE F8 pick(const F8& v, const I8& idx) {
#if defined(__wasm_simd128__)
    v128_t table[2];
    std::memcpy(table, &v, sizeof v);
    return pickFromQuarters(table, 2, idx, 7);
#elif defined(__clang__)
    // clang has no variable-index vector shuffle builtin; it turns this loop into a permute.
    F8 picked;
    for (int lane = 0; lane < 8; ++lane)
        picked[lane] = v[idx[lane] & 7];
    return picked;
#else
    return __builtin_shuffle(v, idx);
#endif
}

// Eight lanes of a table from some start, and the eight after them where windows may be wider.
struct Lanes {
    F8 lo;
    F8 hi;
};

template <bool kWide>
DXT_INLINE Lanes lanesAt(const float* p) {
    return {loadF8(p), kWide ? loadF8(p + 8) : F8{}};
}

// Lanes picked by idx (0..7 each, or 0..15 when wide).
template <bool kWide>
DXT_INLINE F8 pick(const Lanes& v, const I8& idx) {
    if constexpr (!kWide) {
        return pick(v.lo, idx);
    } else {
#if defined(__wasm_simd128__)
        v128_t table[4];
        std::memcpy(table, &v.lo, sizeof v.lo);
        std::memcpy(table + 2, &v.hi, sizeof v.hi);
        return pickFromQuarters(table, 4, idx, 15);
#elif defined(__clang__)
        F8 picked;
        for (int lane = 0; lane < 8; ++lane)
            picked[lane] = (idx[lane] & 8) ? v.hi[idx[lane] & 7] : v.lo[idx[lane] & 7];
        return picked;
#else
        return __builtin_shuffle(v.lo, v.hi, idx);
#endif
    }
}

// Windows a cut may move in this round: [lo, hi] per cut, inclusive.
struct Window {
    int lo[3];
    int hi[3];
    // The guess the window is centred on, and the largest total move of the three cuts from it:
    // the packed search of a four-colour window holds only the cuts within that reach.
    int centre[3];
    int reach;
    int widest() const { return std::max(hi[0] - lo[0], std::max(hi[1] - lo[1], hi[2] - lo[2])) + 1; }
};

// Room for every cut of three windows of nine, plus two vectors of padding.
inline constexpr int kMaxCuts = 9 * 9 * 9 + 16;

// The cuts of a window run through the vectors back to back rather than one vector per (i, j): most
// rows hold only two to five cuts, which left most lanes idle. Each window is at most eight wide
// (nine when kWide), so every cut's prefix sums are lanes of one load (two) per window, picked by
// shuffles. Scores and tie-breaks are those of scoreFour, cut by cut.
// Cuts inside `scored` (a window of an earlier round, or null) are left out: their best is known.
template <bool kWide>
DXT_INLINE void scoreFourPacked(const SortedPoints& p, const Window& w, const Window* scored, Best& best) {
    alignas(32) int codes[kMaxCuts];
    int m = 0;
    const I8 lane = I8{0, 1, 2, 3, 4, 5, 6, 7};
    auto run = [&](int i, int j, int kFrom, int kTo) {
        if (kFrom <= kTo) {
            const I8 c = I8{} + code3(i, j, kFrom) + lane;
            std::memcpy(codes + m, &c, sizeof c);
            if constexpr (kWide) {
                const I8 next = c + 8;
                std::memcpy(codes + m + 8, &next, sizeof next);
            }
            m += kTo - kFrom + 1;
        }
    };
    // The last cut's range for the first two at (i, j) in window v; empty when lo > hi.
    auto kRange = [](const Window& v, int i, int j, int& lo, int& hi) {
        lo = v.lo[2];
        hi = v.hi[2];
        if constexpr (kWide) {
            const int rest = v.reach - std::abs(i - v.centre[0]) - std::abs(j - v.centre[1]);
            lo = std::max(lo, v.centre[2] - rest);
            hi = std::min(hi, v.centre[2] + rest);
        }
    };
    for (int i = w.lo[0]; i <= w.hi[0]; ++i) {
        for (int j = std::max(i, w.lo[1]); j <= w.hi[1]; ++j) {
            int kStart;
            int kEnd;
            kRange(w, i, j, kStart, kEnd);
            kStart = std::max(kStart, j);
            if (scored && i >= scored->lo[0] && i <= scored->hi[0] && j >= scored->lo[1] &&
                j <= scored->hi[1]) {
                int sLo;
                int sHi;
                kRange(*scored, i, j, sLo, sHi);
                if (sLo <= sHi) {
                    run(i, j, kStart, std::min(kEnd, sLo - 1));
                    run(i, j, std::max(kStart, sHi + 1), kEnd);
                    continue;
                }
            }
            run(i, j, kStart, kEnd);
        }
    }
    if (m == 0) {
        return;
    }
    // Padding repeats a real cut: same score, same code, so it changes nothing.
    const I8 pad = I8{} + codes[0];
    std::memcpy(codes + m, &pad, sizeof pad);

    const int n = p.n;
    // Prefix sums and weights from each window's start, the next eight lanes too when wide.
    const Lanes iR = lanesAt<kWide>(p.prefix[0] + w.lo[0]);
    const Lanes iG = lanesAt<kWide>(p.prefix[1] + w.lo[0]);
    const Lanes iB = lanesAt<kWide>(p.prefix[2] + w.lo[0]);
    const Lanes iW = lanesAt<kWide>(p.weight + w.lo[0]);
    const Lanes jR = lanesAt<kWide>(p.prefix[0] + w.lo[1]);
    const Lanes jG = lanesAt<kWide>(p.prefix[1] + w.lo[1]);
    const Lanes jB = lanesAt<kWide>(p.prefix[2] + w.lo[1]);
    const Lanes jW = lanesAt<kWide>(p.weight + w.lo[1]);
    const Lanes kR = lanesAt<kWide>(p.prefix[0] + w.lo[2]);
    const Lanes kG = lanesAt<kWide>(p.prefix[1] + w.lo[2]);
    const Lanes kB = lanesAt<kWide>(p.prefix[2] + w.lo[2]);
    const Lanes kW = lanesAt<kWide>(p.weight + w.lo[2]);
    const float totR = p.prefix[0][n];
    const float totG = p.prefix[1][n];
    const float totB = p.prefix[2][n];
    const float wn = p.weight[n];
    for (int v = 0; v < m; v += 8) {
        I8 code;
        std::memcpy(&code, codes + v, sizeof code);
        const I8 di = (code >> 10) - w.lo[0];
        const I8 dj = ((code >> 5) & 31) - w.lo[1];
        const I8 dk = (code & 31) - w.lo[2];
        const F8 axR = (pick<kWide>(iR, di) + pick<kWide>(jR, dj) + pick<kWide>(kR, dk)) * (1.0f / 3.0f);
        const F8 axG = (pick<kWide>(iG, di) + pick<kWide>(jG, dj) + pick<kWide>(kG, dk)) * (1.0f / 3.0f);
        const F8 axB = (pick<kWide>(iB, di) + pick<kWide>(jB, dj) + pick<kWide>(kB, dk)) * (1.0f / 3.0f);
        const F8 bxR = totR - axR;
        const F8 bxG = totG - axG;
        const F8 bxB = totB - axB;
        const F8 wi = pick<kWide>(iW, di);
        const F8 wj = pick<kWide>(jW, dj);
        const F8 wk = pick<kWide>(kW, dk);
        const F8 a = wi;
        const F8 b = wj - wi;
        const F8 c = wk - wj;
        const F8 d = wn - wk;
        const F8 alpha2 = a + (4.0f * b + c) * (1.0f / 9.0f);
        const F8 beta2 = d + (4.0f * c + b) * (1.0f / 9.0f);
        const F8 ab = (b + c) * (2.0f / 9.0f);
        const I8 ok = alpha2 * beta2 - ab * ab > 0.01f;
        const F8 score = cutScore(axR, axG, axB, bxR, bxG, bxB, alpha2, beta2, ab);
        best.take(score, code, ok);
    }
}

// scoreThree over two windows (lo[0..1], hi[0..1]), packed as scoreFourPacked.
DXT_INLINE void scoreThreePacked(const SortedPoints& p, const Window& w, Best& best) {
    alignas(32) int codes[kMaxCuts];
    int m = 0;
    const I8 lane = I8{0, 1, 2, 3, 4, 5, 6, 7};
    for (int i = w.lo[0]; i <= w.hi[0]; ++i) {
        const int jStart = std::max(i, w.lo[1]);
        if (jStart <= w.hi[1]) {
            const I8 c = I8{} + code3(0, i, jStart) + lane;
            std::memcpy(codes + m, &c, sizeof c);
            m += w.hi[1] - jStart + 1;
        }
    }
    if (m == 0) {
        return;
    }
    const I8 pad = I8{} + codes[0];
    std::memcpy(codes + m, &pad, sizeof pad);

    const int n = p.n;
    const F8 iR = loadF8(p.prefix[0] + w.lo[0]);
    const F8 iG = loadF8(p.prefix[1] + w.lo[0]);
    const F8 iB = loadF8(p.prefix[2] + w.lo[0]);
    const F8 iW = loadF8(p.weight + w.lo[0]);
    const F8 jR = loadF8(p.prefix[0] + w.lo[1]);
    const F8 jG = loadF8(p.prefix[1] + w.lo[1]);
    const F8 jB = loadF8(p.prefix[2] + w.lo[1]);
    const F8 jW = loadF8(p.weight + w.lo[1]);
    const float totR = p.prefix[0][n];
    const float totG = p.prefix[1][n];
    const float totB = p.prefix[2][n];
    const float wn = p.weight[n];
    for (int v = 0; v < m; v += 8) {
        I8 code;
        std::memcpy(&code, codes + v, sizeof code);
        const I8 di = ((code >> 5) & 31) - w.lo[0];
        const I8 dj = (code & 31) - w.lo[1];
        const F8 axR = (pick(iR, di) + pick(jR, dj)) * 0.5f;
        const F8 axG = (pick(iG, di) + pick(jG, dj)) * 0.5f;
        const F8 axB = (pick(iB, di) + pick(jB, dj)) * 0.5f;
        const F8 bxR = totR - axR;
        const F8 bxG = totG - axG;
        const F8 bxB = totB - axB;
        const F8 a = pick(iW, di);
        const F8 wj = pick(jW, dj);
        const F8 b = wj - a;
        const F8 c = wn - wj;
        const F8 ab = b * 0.25f;
        const F8 alpha2 = a + ab;
        const F8 beta2 = c + ab;
        const I8 ok = alpha2 * beta2 - ab * ab > 0.01f;
        const F8 score = cutScore(axR, axG, axB, bxR, bxG, bxB, alpha2, beta2, ab);
        best.take(score, code, ok);
    }
}

// Least-squares endpoints of one cut, clamped to the representable range.
DXT_INLINE void solve(const SortedPoints& p, const float* alphaX, float alpha2, float beta2, float ab,
                      float* end0, float* end1) {
    const float det = alpha2 * beta2 - ab * ab;
    const float inv = det > 1e-6f ? 1.0f / det : 0.0f;
    for (int ch = 0; ch < 3; ++ch) {
        const float bx = p.prefix[ch][p.n] - alphaX[ch];
        end0[ch] = std::min(std::max((alphaX[ch] * beta2 - bx * ab) * inv, 0.0f), 255.0f);
        end1[ch] = std::min(std::max((bx * alpha2 - alphaX[ch] * ab) * inv, 0.0f), 255.0f);
    }
}

DXT_INLINE bool onEdge(int found, int centre, int radius, int n) {
    return (found == centre - radius && found > 0) || (found == centre + radius && found < n);
}

// Points below the threshold (the sorted projections past n are padded with FLT_MAX), counted in
// all lanes at once.
DXT_INLINE int countBelow(const SortedPoints& p, float threshold) {
    const I16 below = loadF16(p.t) < F16{} + threshold;
    I8 c = below.lo + below.hi;
    c += __builtin_shufflevector(c, c, 4, 5, 6, 7, 0, 1, 2, 3);
    c += __builtin_shufflevector(c, c, 2, 3, 0, 1, 6, 7, 4, 5);
    c += __builtin_shufflevector(c, c, 1, 0, 3, 2, 5, 4, 7, 6);
    return -c[0];
}

// Best ordered split of the sorted points into the mode's clusters (4: weights 1, 2/3, 1/3, 0;
// 3: weights 1, 1/2, 0) by least squares at storage precision. radius bounds how far each cut moves
// from the current guess per round; a radius >= n searches every split. In the four-colour search,
// reach (below 3 * radius) also bounds the three cuts' total move where the window is at most nine
// wide: at radius 4 the cuts moved far in all three at once gain 0.0004 dB on the corpus for about
// 5% of the encoder's time. Returns the chosen cut's score: its squared error at storage precision
// is the points' sum of count * |colour|^2 less the score (-FLT_MAX when no cut had a solution).
DXT_INLINE float clusterFit(const SortedPoints& p, Mode mode, int radius, int reach, float* end0,
                            float* end1) {
    const int n = p.n;
    const float lo = p.t[0];
    const float span = p.t[n - 1] - lo;
    // A window can hold only cuts that leave every point in one run (no solution); widening it to
    // everything then always finds one, as the points are not all equal.
    int rounds = radius >= n ? 1 : 8;
    float score = -FLT_MAX;
    if (mode == Mode::Four) {
        // First guess: runs split where evenly spaced palette entries between the extremes would.
        int ci = countBelow(p, lo + span * (1.0f / 6.0f));
        int cj = countBelow(p, lo + span * 0.5f);
        int ck = countBelow(p, lo + span * (5.0f / 6.0f));
        int code = code3(ci, cj, ck);
        // After the first round only the cuts no earlier window held are scored; the current best
        // stands unless one of them beats it (ties to the lower code, as within a round).
        Window scored{};
        bool haveScored = false;
        for (int round = 0; round < rounds; ++round) {
            Best best;
            const Window w{{std::max(0, ci - radius), std::max(0, cj - radius), std::max(0, ck - radius)},
                           {std::min(n, ci + radius), std::min(n, cj + radius), std::min(n, ck + radius)},
                           {ci, cj, ck},
                           reach};
            if (w.widest() <= 8 && reach >= 3 * radius) {
                scoreFourPacked<false>(p, w, haveScored ? &scored : nullptr, best);
            } else if (w.widest() <= 9) {
                scoreFourPacked<true>(p, w, haveScored ? &scored : nullptr, best);
            } else {
                for (int i = w.lo[0]; i <= w.hi[0]; ++i) {
                    for (int j = std::max(i, w.lo[1]); j <= w.hi[1]; ++j) {
                        const int kLo = std::max(j, w.lo[2]);
                        if (kLo <= w.hi[2]) {
                            scoreFour(p, i, j, kLo, w.hi[2], best);
                        }
                    }
                }
            }
            float s;
            const int found = best.reduce(&s);
            if (haveScored && !(s > score || (s == score && found < code))) {
                break;
            }
            if (s == -FLT_MAX && radius < n) {
                radius = n;
                reach = 3 * n;
                rounds = round + 2;
                continue;
            }
            if (s == -FLT_MAX) {
                break;
            }
            score = s;
            if (found == code) {
                break;
            }
            code = found;
            scored = w;
            haveScored = true;
            const int fi = code >> 10;
            const int fj = (code >> 5) & 31;
            const int fk = code & 31;
            // A best cut inside the window is taken as final; only one on its edge or at its reach
            // may have better neighbours outside.
            const bool edge = onEdge(fi, ci, radius, n) || onEdge(fj, cj, radius, n) ||
                              onEdge(fk, ck, radius, n) ||
                              std::abs(fi - ci) + std::abs(fj - cj) + std::abs(fk - ck) == reach;
            ci = fi, cj = fj, ck = fk;
            if (!edge) {
                break;
            }
        }
        const float a = p.weight[ci];
        const float b = p.weight[cj] - p.weight[ci];
        const float c = p.weight[ck] - p.weight[cj];
        const float d = p.weight[n] - p.weight[ck];
        float ax[3];
        for (int ch = 0; ch < 3; ++ch) {
            ax[ch] = (p.prefix[ch][ci] + p.prefix[ch][cj] + p.prefix[ch][ck]) * (1.0f / 3.0f);
        }
        solve(p, ax, a + (4.0f * b + c) / 9.0f, d + (4.0f * c + b) / 9.0f, (b + c) * (2.0f / 9.0f), end0,
              end1);
    } else {
        int ci = countBelow(p, lo + span * 0.25f);
        int cj = countBelow(p, lo + span * 0.75f);
        int code = code3(0, ci, cj);
        for (int round = 0; round < rounds; ++round) {
            Best best;
            const Window w{{std::max(0, ci - radius), std::max(0, cj - radius), 0},
                           {std::min(n, ci + radius), std::min(n, cj + radius), 0},
                           {ci, cj, 0},
                           2 * radius};
            if (w.widest() <= 8) {
                scoreThreePacked(p, w, best);
            } else {
                for (int i = w.lo[0]; i <= w.hi[0]; ++i) {
                    const int jLo = std::max(i, w.lo[1]);
                    if (jLo <= w.hi[1]) {
                        scoreThree(p, i, jLo, w.hi[1], best);
                    }
                }
            }
            float s;
            const int found = best.reduce(&s);
            if (s == -FLT_MAX && radius < n) {
                radius = n;
                rounds = round + 2;
                continue;
            }
            if (s == -FLT_MAX) {
                break;
            }
            score = s;
            if (found == code) {
                break;
            }
            code = found;
            const int fi = (code >> 5) & 31;
            const int fj = code & 31;
            const bool edge = onEdge(fi, ci, radius, n) || onEdge(fj, cj, radius, n);
            ci = fi, cj = fj;
            if (!edge) {
                break;
            }
        }
        const float a = p.weight[ci];
        const float b = p.weight[cj] - p.weight[ci];
        const float c = p.weight[n] - p.weight[cj];
        float ax[3];
        for (int ch = 0; ch < 3; ++ch) {
            ax[ch] = (p.prefix[ch][ci] + p.prefix[ch][cj]) * 0.5f;
        }
        solve(p, ax, a + b * 0.25f, c + b * 0.25f, b * 0.25f, end0, end1);
    }
    return score;
}

}  // namespace ImageService::Dxt::detail
