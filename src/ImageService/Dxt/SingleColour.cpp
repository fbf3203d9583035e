// Solid blocks: for each 8-bit value, the endpoint pair whose decoded interpolant is nearest, found by
// trying every pair once at first use. Exact under the reference decoder's integer rounding, so a
// colour that 565 cannot hold still lands on the closest value a block can show.
#include <cstdlib>
#include <utility>

#include "ImageService/Dxt/DxtBlock.h"

namespace ImageService::Dxt::detail {
namespace {

struct Pair {
    std::uint8_t e0;
    std::uint8_t e1;
    std::uint8_t err;  // |decoded - value|
};

struct Tables {
    // [mode][channel is green][value]
    Pair best[2][2][256];

    // Every pair is decoded once and filed under the value it shows; each target value then takes
    // the nearest value some pair shows. Ties go as a full search in (e0, e1) order would resolve
    // them: smallest error, then smallest spread, then first pair. Trying every pair per target value
    // cost as much as encoding a few thousand blocks, on the first block to need the table.
    Tables() {
        for (int mode = 0; mode < 2; ++mode) {
            for (int green = 0; green < 2; ++green) {
                const int channel = green ? 1 : 0;
                const int top = kChannelMax[channel];
                int spreadAt[256];
                int orderAt[256];
                Pair pairAt[256];
                for (int d = 0; d < 256; ++d) {
                    spreadAt[d] = -1;
                }
                for (int e0 = 0; e0 <= top; ++e0) {
                    for (int e1 = 0; e1 <= top; ++e1) {
                        const int x0 = expandChannel(e0, channel);
                        const int x1 = expandChannel(e1, channel);
                        const int decoded = mode == 0 ? (2 * x0 + x1) / 3 : (x0 + x1) / 2;
                        // Among equal errors the closest pair is kept: it depends least on how a
                        // given decoder rounds its interpolants.
                        const int spread = std::abs(x0 - x1);
                        if (spreadAt[decoded] < 0 || spread < spreadAt[decoded]) {
                            spreadAt[decoded] = spread;
                            orderAt[decoded] = e0 * (top + 1) + e1;
                            pairAt[decoded] = Pair{std::uint8_t(e0), std::uint8_t(e1), 0};
                        }
                    }
                }
                for (int v = 0; v < 256; ++v) {
                    for (int err = 0;; ++err) {
                        int pick = -1;
                        for (const int d : {v - err, v + err}) {
                            if (d < 0 || d > 255 || spreadAt[d] < 0) {
                                continue;
                            }
                            if (pick < 0 || spreadAt[d] < spreadAt[pick] ||
                                (spreadAt[d] == spreadAt[pick] && orderAt[d] < orderAt[pick])) {
                                pick = d;
                            }
                        }
                        if (pick >= 0) {
                            best[mode][green][v] = pairAt[pick];
                            best[mode][green][v].err = std::uint8_t(err);
                            break;
                        }
                    }
                }
            }
        }
    }
};

const Tables& tables() {
    static const Tables instance;
    return instance;
}

}  // namespace

Endpoints singleColourEndpoints(const int* rgb, Mode mode) {
    const Tables& t = tables();
    const int m = mode == Mode::Four ? 0 : 1;
    Endpoints out{};
    for (int ch = 0; ch < 3; ++ch) {
        const Pair p = t.best[m][ch == 1][rgb[ch]];
        out.c[0][ch] = p.e0;
        out.c[1][ch] = p.e1;
    }
    return out;
}

void encodeSolidBlock(const int* rgb, bool allowThree, std::uint8_t* out) {
    const Tables& t = tables();
    int err[2] = {0, 0};
    for (int m = 0; m < 2; ++m) {
        for (int ch = 0; ch < 3; ++ch) {
            const int e = t.best[m][ch == 1][rgb[ch]].err;
            err[m] += e * e;
        }
    }
    const bool three = allowThree && err[1] < err[0];
    const Endpoints ends = singleColourEndpoints(rgb, three ? Mode::Three : Mode::Four);
    std::uint16_t c0 = pack565(ends.c[0]);
    std::uint16_t c1 = pack565(ends.c[1]);
    std::uint32_t indices = 0xAAAAAAAAu;  // every pixel on index 2, the interpolant
    if (three ? c0 > c1 : c0 < c1) {
        std::swap(c0, c1);
        // Three colours: the midpoint stays index 2. Four: the two-thirds point moves to index 3.
        indices = three ? 0xAAAAAAAAu : 0xFFFFFFFFu;
    } else if (c0 == c1) {
        indices = 0;  // exact in 565: the endpoint itself, in either palette
    }
    out[0] = std::uint8_t(c0);
    out[1] = std::uint8_t(c0 >> 8);
    out[2] = std::uint8_t(c1);
    out[3] = std::uint8_t(c1 >> 8);
    out[4] = out[5] = out[6] = out[7] = std::uint8_t(indices);
}

}  // namespace ImageService::Dxt::detail
