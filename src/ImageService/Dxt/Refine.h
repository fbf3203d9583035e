// Endpoint refinement at storage precision. The cluster search works on real-valued endpoints; what
// a decoder shows is the rounded 565 pair and its integer-rounded interpolants, so the last word on
// every block is taken here, against that exact palette.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>

#include "ImageService/Dxt/DxtBlock.h"
#include "ImageService/Dxt/Palette.h"

namespace ImageService::Dxt::detail {

// Weight of endpoint 0 in each index's colour (index 3 of the three-colour palette is transparent
// and never carries weight).
inline constexpr float kEndpointWeight[2][4] = {{1.0f, 0.0f, 2.0f / 3.0f, 1.0f / 3.0f},
                                                {1.0f, 0.0f, 0.5f, 0.0f}};

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

// Least-squares endpoints for fixed indices, then per channel the storage values around them that
// minimise that channel's error exactly (channels are independent once the indices are fixed).
DXT_INLINE bool quantisedLeastSquares(const ColourBlock& block, const Encoded& cur, const I16& idx,
                                      Endpoints& out) {
    const F16 w = loadF16(block.w);
    const F16 x[3] = {loadF16(block.r), loadF16(block.g), loadF16(block.b)};

    // Per index: pixel count and per channel sum of values. Everything below, the normal equations
    // and each candidate's channel error, follows from these sixteen numbers.
    float n[4];
    float s[4][3];
    for (int k = 0; k < 4; ++k) {
        const F16 sel = keep(idx == k, w);
        n[k] = sum16(sel);
        for (int ch = 0; ch < 3; ++ch) {
            s[k][ch] = sum16(sel * x[ch]);
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
        float bestErr = 3.4e38f;
        int best0 = clampChannel(base0, ch);
        int best1 = clampChannel(base1, ch);
        for (int d0 = 0; d0 < 2; ++d0) {
            const int q0 = clampChannel(base0 + d0, ch);
            const int x0 = expandChannel(q0, ch);
            for (int d1 = 0; d1 < 2; ++d1) {
                const int q1 = clampChannel(base1 + d1, ch);
                const int x1 = expandChannel(q1, ch);
                float pal[4] = {float(x0), float(x1), 0.0f, 0.0f};
                if (cur.mode == Mode::Four) {
                    pal[2] = float((2 * x0 + x1) / 3);
                    pal[3] = float((x0 + 2 * x1) / 3);
                } else {
                    pal[2] = float((x0 + x1) / 2);
                }
                float err = 0.0f;
                for (int k = 0; k < 4; ++k) {
                    err += pal[k] * (n[k] * pal[k] - 2.0f * s[k][ch]);
                }
                if (err < bestErr) {
                    bestErr = err;
                    best0 = q0;
                    best1 = q1;
                }
            }
        }
        out.c[0][ch] = best0;
        out.c[1][ch] = best1;
    }
    return true;
}

// One channel of the palette a decoder builds from endpoint values q0, q1 (entries past the mode's
// count are 0).
DXT_INLINE void paletteChannel(int q0, int q1, int ch, Mode mode, float* v) {
    const int x0 = expandChannel(q0, ch);
    const int x1 = expandChannel(q1, ch);
    v[0] = float(x0);
    v[1] = float(x1);
    if (mode == Mode::Four) {
        v[2] = float((2 * x0 + x1) / 3);
        v[3] = float((x0 + 2 * x1) / 3);
    } else {
        v[2] = float((x0 + x1) / 2);
        v[3] = 0.0f;
    }
}

// Each pixel's squared distance to each palette entry of the current endpoints, less one channel's
// term. A unit move changes a single channel of the palette, so a trial then costs that channel's
// terms alone. Pixel values and palette entries are integers, so every sum here is exact and a
// trial scores exactly as a full evaluation would.
struct MoveBase {
    F16 rest[4][3];
};

DXT_INLINE void buildMoveBase(const F16* x, const Endpoints& ends, Mode mode, MoveBase& base) {
    float v[3][4];
    for (int ch = 0; ch < 3; ++ch) {
        paletteChannel(ends.c[0][ch], ends.c[1][ch], ch, mode, v[ch]);
    }
    const int entries = mode == Mode::Four ? 4 : 3;
    for (int k = 0; k < entries; ++k) {
        const F16 dr = x[0] - v[0][k];
        const F16 dg = x[1] - v[1][k];
        const F16 db = x[2] - v[2][k];
        const F16 tr = dr * dr;
        const F16 tg = dg * dg;
        const F16 tb = db * db;
        base.rest[k][0] = tg + tb;
        base.rest[k][1] = tr + tb;
        base.rest[k][2] = tr + tg;
    }
}

// The error evaluate gives for endpoints that differ from the base's in channel ch only, where they
// are q0 and q1; trials are mostly rejected, so no indices are kept. single: the two endpoints are
// equal, which leaves a four-colour palette one entry.
DXT_INLINE float moveError(const F16* x, const F16& w, const MoveBase& base, int q0, int q1, int ch,
                           Mode mode, bool single) {
    float v[4];
    paletteChannel(q0, q1, ch, mode, v);
    const int entries = mode == Mode::Four ? (single ? 1 : 4) : 3;
    F16 best = F16{} + 3.4e38f;
    for (int k = 0; k < entries; ++k) {
        const F16 dc = x[ch] - v[k];
        const F16 d = base.rest[k][ch] + dc * dc;
        best = select(d < best, d, best);
    }
    return sum16(best * w);
}

// From real-valued endpoints (0..255 per channel) to the stored block: rounding, a quantised
// least-squares step, and a pass of unit endpoint moves, each kept only where it lowers the error.
DXT_INLINE Encoded refine(const ColourBlock& block, Mode mode, const float* end0, const float* end1) {
    Endpoints start;
    for (int ch = 0; ch < 3; ++ch) {
        const float scale = float(kChannelMax[ch]) / 255.0f;
        start.c[0][ch] = clampChannel(roundNearest(end0[ch] * scale), ch);
        start.c[1][ch] = clampChannel(roundNearest(end1[ch] * scale), ch);
    }
    I16 idx;
    Encoded best = evaluate(block, start, mode, &idx);

    // One least-squares step from the indices the rounded endpoints give: further steps were
    // measured to change almost nothing on real textures.
    Endpoints next;
    if (best.error > 0.0f && quantisedLeastSquares(block, best, idx, next)) {
        I16 nextIdx;
        const Encoded trial = evaluate(block, next, mode, &nextIdx);
        if (trial.error < best.error) {
            best = trial;
            idx = nextIdx;
        }
    }

    // Unit moves of single endpoint channels catch the cases where rounding one channel the other
    // way changes which index pixels take, which the fixed-index step above cannot see. One pass
    // holds nearly all of the gain.
    if (best.error > 0.0f) {
        const F16 x[3] = {loadF16(block.r), loadF16(block.g), loadF16(block.b)};
        const F16 w = loadF16(block.w);
        MoveBase base;
        buildMoveBase(x, best.ends, mode, base);
        for (int e = 0; e < 2 && best.error > 0.0f; ++e) {
            for (int ch = 0; ch < 3; ++ch) {
                for (int step = -1; step <= 1; step += 2) {
                    // The trial is built in registers: writing one channel into a copy of the
                    // endpoints and reading the copy back stalled on store forwarding.
                    const int q0 = best.ends.c[0][ch];
                    const int q1 = best.ends.c[1][ch];
                    const int v = (e == 0 ? q0 : q1) + step;
                    if (v < 0 || v > kChannelMax[ch]) {
                        continue;
                    }
                    const int t0 = e == 0 ? v : q0;
                    const int t1 = e == 0 ? q1 : v;
                    bool single = t0 == t1;
                    for (int o = 0; o < 3; ++o) {
                        single &= o == ch || best.ends.c[0][o] == best.ends.c[1][o];
                    }
                    if (moveError(x, w, base, t0, t1, ch, mode, single) < best.error) {
                        Endpoints trialEnds = best.ends;
                        trialEnds.c[e][ch] = v;
                        best = evaluate(block, trialEnds, mode, &idx);
                        buildMoveBase(x, best.ends, mode, base);
                    }
                }
            }
        }
    }

    best.indices = packIndices(idx, block.transparent);
    return best;
}

}  // namespace ImageService::Dxt::detail
