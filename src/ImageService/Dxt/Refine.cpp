// Endpoint refinement at storage precision. The cluster search works on real-valued endpoints; what
// a decoder shows is the rounded 565 pair and its integer-rounded interpolants, so the last word on
// every block is taken here, against that exact palette.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "ImageService/Dxt/DxtBlock.h"
#include "ImageService/Dxt/Palette.h"

namespace ImageService::Dxt::detail {
namespace {

// Weight of endpoint 0 in each index's colour.
DXT_INLINE F16 endpointWeight(I16 idx, Mode mode) {
    const F16 zero = F16{};
    if (mode == Mode::Four) {
        return select(idx == 0, zero + 1.0f,
                      select(idx == 2, zero + (2.0f / 3.0f), select(idx == 3, zero + (1.0f / 3.0f), zero)));
    }
    return select(idx == 0, zero + 1.0f, select(idx == 2, zero + 0.5f, zero));
}

DXT_INLINE int clampChannel(int v, int ch) { return std::min(std::max(v, 0), kChannelMax[ch]); }

// Least-squares endpoints for fixed indices, then per channel the storage values around them that
// minimise that channel's error exactly (channels are independent once the indices are fixed).
DXT_INLINE bool quantisedLeastSquares(const ColourBlock& block, const Encoded& cur, I16 idx, Endpoints& out,
                                      float (*ls)[3]) {
    const F16 w = loadF16(block.w);
    const F16 a = endpointWeight(idx, cur.mode);
    const F16 b = 1.0f - a;
    const float a2 = sum16(w * a * a);
    const float b2 = sum16(w * b * b);
    const float ab = sum16(w * a * b);
    const float det = a2 * b2 - ab * ab;
    if (!(std::fabs(det) > 1e-3f)) {
        return false;
    }
    const float inv = 1.0f / det;
    const float* chans[3] = {block.r, block.g, block.b};

    // Per index: weight, and per channel sum of values, for the closed-form channel error.
    float n[4];
    float s[4][3];
    for (int k = 0; k < 4; ++k) {
        const F16 sel = (F16)((idx == k) & (I16)w);
        n[k] = sum16(sel);
        for (int ch = 0; ch < 3; ++ch) {
            s[k][ch] = sum16(sel * loadF16(chans[ch]));
        }
    }
    for (int ch = 0; ch < 3; ++ch) {
        const F16 x = loadF16(chans[ch]);
        const float ax = sum16(w * a * x);
        const float bx = sum16(w * b * x);
        const float e0 = (ax * b2 - bx * ab) * inv;
        const float e1 = (bx * a2 - ax * ab) * inv;
        const float scale = float(kChannelMax[ch]) / 255.0f;
        ls[0][ch] = e0 * scale;
        ls[1][ch] = e1 * scale;
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

}  // namespace

DXT_KERNEL Encoded refine(const ColourBlock& block, Mode mode, const float* end0, const float* end1, int effort) {
    Endpoints start;
    for (int ch = 0; ch < 3; ++ch) {
        const float scale = float(kChannelMax[ch]) / 255.0f;
        start.c[0][ch] = clampChannel(int(std::lround(end0[ch] * scale)), ch);
        start.c[1][ch] = clampChannel(int(std::lround(end1[ch] * scale)), ch);
    }
    I16 idx;
    Encoded best = evaluate(block, start, mode, &idx);

    // Real-valued least-squares endpoints (storage units) behind best, when known: they say which
    // way each rounded channel would rather move.
    float lsBest[2][3];
    bool haveLs = false;
    for (int pass = 0; pass < 3 && best.error > 0.0f; ++pass) {
        Endpoints next;
        float ls[2][3];
        if (!quantisedLeastSquares(block, best, idx, next, ls)) {
            break;
        }
        I16 nextIdx;
        const Encoded trial = evaluate(block, next, mode, &nextIdx);
        if (!(trial.error < best.error)) {
            break;
        }
        best = trial;
        idx = nextIdx;
        const bool swapped = std::memcmp(trial.ends.c[0], next.c[0], sizeof next.c[0]) != 0;
        for (int ch = 0; ch < 3; ++ch) {
            lsBest[0][ch] = ls[swapped][ch];
            lsBest[1][ch] = ls[!swapped][ch];
        }
        haveLs = true;
    }

    if (effort > 0 && best.error > g_tuning.localThreshold) {
        // Unit moves of single endpoint channels catch the cases where rounding one channel differently
        // changes which index a pixel takes, which the fixed-index step above cannot see.
        bool improved = true;
        for (int pass = 0; pass < (effort > 1 ? 4 : 1) && improved && best.error > 0.0f; ++pass) {
            improved = false;
            for (int e = 0; e < 2; ++e) {
                for (int ch = 0; ch < 3; ++ch) {
                    for (int step = -1; step <= 1; step += 2) {
                        if (g_tuning.directional && haveLs && pass == 0 &&
                            (lsBest[e][ch] > float(best.ends.c[e][ch])) != (step > 0)) {
                            continue;
                        }
                        Endpoints trialEnds = best.ends;
                        const int v = trialEnds.c[e][ch] + step;
                        if (v < 0 || v > kChannelMax[ch]) {
                            continue;
                        }
                        trialEnds.c[e][ch] = v;
                        I16 trialIdx;
                        const Encoded trial = evaluate(block, trialEnds, mode, &trialIdx);
                        if (trial.error < best.error) {
                            best = trial;
                            idx = trialIdx;
                            improved = true;
                        }
                    }
                }
            }
        }
    }

    best.indices = packIndices(idx, block.transparent);
    return best;
}

}  // namespace ImageService::Dxt::detail
