// The palette a decoder rebuilds from two 565 endpoints, and the nearest-entry scoring of a block
// against it. Inline so that each instruction-set copy of the fitting steps gets its own copy.
#pragma once

#include <utility>

#include "ImageService/Dxt/DxtBlock.h"

namespace ImageService::Dxt::detail {

struct Palette {
    float v[4][3];
    int count;
};

// Interpolants as the reference decoder computes them: integer division, truncating.
DXT_INLINE void buildPalette(const Endpoints& e, Mode mode, bool single, Palette& p) {
    int x0[3];
    int x1[3];
    for (int ch = 0; ch < 3; ++ch) {
        x0[ch] = expandChannel(e.c[0][ch], ch);
        x1[ch] = expandChannel(e.c[1][ch], ch);
        p.v[0][ch] = float(x0[ch]);
        p.v[1][ch] = float(x1[ch]);
        if (mode == Mode::Four) {
            p.v[2][ch] = float((2 * x0[ch] + x1[ch]) / 3);
            p.v[3][ch] = float((x0[ch] + 2 * x1[ch]) / 3);
        } else {
            p.v[2][ch] = float((x0[ch] + x1[ch]) / 2);
            p.v[3][ch] = 0.0f;
        }
    }
    p.count = single ? 1 : (mode == Mode::Four ? 4 : 3);
}

// Swaps endpoints into the order the mode needs, assigns each pixel its nearest palette entry under
// the reference decoder's integer rounding, and scores the result. lanes receives the indices.
DXT_INLINE Encoded evaluate(const ColourBlock& block, const Endpoints& ends, Mode mode, I16* lanes) {
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

    const F16 r = loadF16(block.r);
    const F16 g = loadF16(block.g);
    const F16 b = loadF16(block.b);
    F16 best = F16{} + 3.4e38f;
    I16 idx = I16{};
    for (int k = 0; k < pal.count; ++k) {
        const F16 dr = r - pal.v[k][0];
        const F16 dg = g - pal.v[k][1];
        const F16 db = b - pal.v[k][2];
        const F16 d = dr * dr + dg * dg + db * db;
        const I16 closer = d < best;
        best = select(closer, d, best);
        idx = select(closer, I16{} + k, idx);
    }
    out.error = sum16(best * loadF16(block.w));
    *lanes = idx;
    return out;
}

}  // namespace ImageService::Dxt::detail
