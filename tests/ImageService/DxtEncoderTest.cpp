// Our DXT1/DXT3 encoder, decoded by libsquish and held to what the format can do at best: provably
// optimal solid and two-colour blocks, the joint-move shortcut scoring exactly as a full evaluation, each
// format's alpha rule, exact edge blocks, and one answer
// however it is entered or threaded. Quality on real textures is measured in BlockCodecCorpusTest.
#include <gtest/gtest.h>
#include <squish.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "ImageService/Dxt/DxtEncoder.h"
#include "ImageService/Dxt/Refine.h"
#include "ImageService/Dxt/SimdLevel.h"

namespace ImageService::Dxt {
namespace {

using Pixels = std::array<std::uint8_t, 64>;

int expand5(int v) {
    return (v << 3) | (v >> 2);
}
int expand6(int v) {
    return (v << 2) | (v >> 4);
}
void unpack565(int packed, int* rgb) {
    rgb[0] = expand5((packed >> 11) & 31);
    rgb[1] = expand6((packed >> 5) & 63);
    rgb[2] = expand5(packed & 31);
}

Pixels decode(const std::uint8_t* block, bool dxt1) {
    Pixels out;
    squish::Decompress(out.data(), block, dxt1 ? squish::kDxt1 : squish::kDxt3);
    return out;
}

long rgbError(const Pixels& a, const Pixels& b) {
    long e = 0;
    for (int i = 0; i < 64; ++i) {
        const int d = a[i] - b[i];
        e += i % 4 == 3 ? 0 : d * d;
    }
    return e;
}

// Smallest squared error any block can give na pixels of colour a and nb of colour b: every pixel of
// one colour takes one palette entry, and with the entries fixed each channel's best endpoint pair
// is found by trying all of them.
long bestTwoColourError(const int* a, int na, const int* b, int nb, bool threeAllowed) {
    long best = -1;
    for (int mode = 0; mode < (threeAllowed ? 2 : 1); ++mode) {
        const int entries = mode == 0 ? 4 : 3;
        for (int ea = 0; ea < entries; ++ea) {
            for (int eb = nb == 0 ? ea : 0; eb < (nb == 0 ? ea + 1 : entries); ++eb) {
                long total = 0;
                for (int ch = 0; ch < 3; ++ch) {
                    const int top = ch == 1 ? 63 : 31;
                    long chBest = -1;
                    for (int e0 = 0; e0 <= top; ++e0) {
                        for (int e1 = 0; e1 <= top; ++e1) {
                            const int x0 = ch == 1 ? expand6(e0) : expand5(e0);
                            const int x1 = ch == 1 ? expand6(e1) : expand5(e1);
                            const int pal[4] = {x0, x1, mode == 0 ? (2 * x0 + x1) / 3 : (x0 + x1) / 2,
                                                (x0 + 2 * x1) / 3};
                            const long da = pal[ea] - a[ch];
                            const long db = pal[eb] - b[ch];
                            const long d = na * da * da + nb * db * db;
                            chBest = chBest < 0 || d < chBest ? d : chBest;
                        }
                    }
                    total += chBest;
                }
                best = best < 0 || total < best ? total : best;
            }
        }
    }
    return best;
}

// Solid blocks (storable colours, greys, ramps, random ones) and blocks of two colours, far apart or
// a step or two apart, in any proportion: the encoder reaches the best error the format allows, in
// both formats, and an opaque block never uses DXT1's transparent black.
TEST(DxtEncoderOptimal, SolidAndTwoColourBlocksReachTheBestTheFormatAllows) {
    std::mt19937 rng(11);
    struct Case {
        std::array<int, 3> a, b;
        int na;  // pixels of colour a; the rest are b
    };
    std::vector<Case> cases = {{{expand5(17), expand6(40), expand5(3)}, {}, 16}};  // storable: error 0
    for (int v = 0; v < 256; ++v) {
        const std::array<int, 3> random = {int(rng() & 255), int(rng() & 255), int(rng() & 255)};
        cases.push_back({{v, v, v}, {}, 16});
        cases.push_back({{v, 255 - v, (v * 7) & 255}, {}, 16});
        cases.push_back({random, {}, 16});
        if (v % 2 == 0) {
            std::array<int, 3> b;
            for (int ch = 0; ch < 3; ++ch)
                b[ch] =
                    v % 4 ? int(rng() & 255) : std::min(255, std::max(0, random[ch] + int(rng() % 7) - 3));
            cases.push_back({random, b, 1 + int(rng() % 15)});
        }
    }
    for (const Case& c : cases) {
        Pixels in;
        for (int i = 0; i < 16; ++i) {
            for (int ch = 0; ch < 3; ++ch)
                in[4 * i + ch] = std::uint8_t(i < c.na ? c.a[ch] : c.b[ch]);
            in[4 * i + 3] = 255;
        }
        std::uint8_t b1[8], b3[16];
        encodeDxt1Block(in.data(), 0xFFFF, b1);
        encodeDxt3Block(in.data(), 0xFFFF, b3);
        const Pixels d1 = decode(b1, true);
        const int nb = 16 - c.na;
        EXPECT_EQ(bestTwoColourError(c.a.data(), c.na, c.b.data(), nb, true), rgbError(in, d1))
            << c.a[0] << "," << c.a[1] << "," << c.a[2] << " x" << c.na;
        EXPECT_EQ(bestTwoColourError(c.a.data(), c.na, c.b.data(), nb, false),
                  rgbError(in, decode(b3, false)))
            << c.a[0] << "," << c.a[1] << "," << c.a[2] << " x" << c.na;
        for (int i = 0; i < 16; ++i)
            ASSERT_EQ(255, d1[4 * i + 3]);
    }
}

// Joint moves are scored from per-channel tables; the search takes them or not on that score, so it
// must be the error a full evaluation gives, for every move, endpoint and mode, up to the range ends,
// from the block's pixels and, where it has at most eight colours, from its distinct colours.
TEST(DxtEncoderSearch, JointMovesScoreExactlyAsAFullEvaluation) {
    using namespace detail;
    std::mt19937 rng(5);
    int checked = 0;
    int checkedDistinct = 0;
    int wrong = 0;
    for (int trial = 0; trial < 400; ++trial) {
        ColourBlock block;
        // Distinct counted colours and their counts, as the encoder gathers them.
        float d[4][16] = {};
        int distinct = 0;
        const unsigned colours = trial % 2 ? 16 : 1 + rng() % 8;
        const unsigned seed = rng();
        for (int i = 0; i < 16; ++i) {
            std::mt19937 pick(seed + (i % colours));
            block.r[i] = float(pick() % 256), block.g[i] = float(pick() % 256),
            block.b[i] = float(pick() % 256);
            block.w[i] = rng() % 8 == 0 ? 0.0f : 1.0f;
            int u = 0;
            while (u < distinct && !(d[0][u] == block.r[i] && d[1][u] == block.g[i] && d[2][u] == block.b[i]))
                ++u;
            if (block.w[i] > 0.0f && u == distinct)
                d[0][u] = block.r[i], d[1][u] = block.g[i], d[2][u] = block.b[i], ++distinct;
            d[3][u] += block.w[i];
        }
        const F16 x[3] = {loadF16(block.r), loadF16(block.g), loadF16(block.b)};
        const F16 w = loadF16(block.w);
        const F8 xd[3] = {loadF8(d[0]), loadF8(d[1]), loadF8(d[2])};
        Endpoints ends;
        for (int ch = 0; ch < 3; ++ch) {
            // Every other block near the range ends, where some moves leave it.
            const int max = kChannelMax[ch];
            ends.c[0][ch] = trial % 2 ? int(rng() % 2) * max : int(rng() % (max + 1));
            ends.c[1][ch] = int(rng() % (max + 1));
        }
        for (Mode mode : {Mode::Four, Mode::Three}) {
            for (int end = 0; end < 2; ++end) {
                JointBase<F16> base;
                buildJointBase(x, ends, end, mode, base);
                JointBase<F8> baseDistinct;
                buildJointBase(xd, ends, end, mode, baseDistinct);
                for (const int* move : kJointMoves) {
                    Endpoints moved = ends;
                    bool inside = true;
                    for (int ch = 0; ch < 3; ++ch) {
                        moved.c[end][ch] += move[ch];
                        inside &= moved.c[end][ch] >= 0 && moved.c[end][ch] <= kChannelMax[ch];
                    }
                    if (!inside || pack565(moved.c[0]) == pack565(moved.c[1])) {
                        continue;
                    }
                    I16 idx;
                    ++checked;
                    const float error = evaluate(block, moved, mode, &idx).error;
                    wrong += jointMoveError(base, w, move) != error;
                    if (distinct <= 8) {
                        ++checkedDistinct;
                        wrong += jointMoveError(baseDistinct, loadF8(d[3]), move) != error;
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 10000);
    EXPECT_GT(checkedDistinct, 4000);
    EXPECT_EQ(wrong, 0);
}

TEST(DxtEncoderAlpha, Dxt1ClearsBelow128AndDxt3RoundsToTheNearestStepAsLibsquish) {
    std::mt19937 rng(9);
    for (int t = 0; t < 2000; ++t) {
        Pixels in;
        const int mode = t % 4;  // 0: random alpha, 1: all clear, 2: all opaque, 3: one clear pixel
        for (int i = 0; i < 64; ++i) {
            const int alpha = mode == 0   ? int(rng() & 255)
                              : mode == 1 ? 0
                              : mode == 2 ? 255
                              : i == 23   ? 127
                                          : 128;
            in[i] = std::uint8_t(i % 4 == 3 ? alpha : rng());
        }
        std::uint8_t b1[8];
        encodeDxt1Block(in.data(), 0xFFFF, b1);
        const Pixels d = decode(b1, true);
        // An opaque pixel on the transparent index of a 3-colour block would decode clear as well.
        for (int i = 3; i < 64; i += 4)
            ASSERT_EQ(in[i] < 128 ? 0 : 255, d[i]) << "block " << t << " pixel " << i / 4;
    }
    for (int start = 0; start < 256; start += 16) {
        Pixels in;
        for (int i = 0; i < 64; ++i)
            in[i] = std::uint8_t(i % 4 == 3 ? start + i / 4 : 90 + i % 4);
        std::uint8_t ours[16], theirs[16];
        encodeDxt3Block(in.data(), 0xFFFF, ours);
        squish::Compress(in.data(), theirs, squish::kDxt3);
        EXPECT_EQ(0, std::memcmp(ours, theirs, 8)) << "alpha from " << start;
        const Pixels d = decode(ours, false);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(17 * ((start + i + 8) / 17), d[4 * i + 3]) << start + i;
    }
}

// Images whose every block holds at most two 565-storable colours: any correct handling of edge
// blocks must give them back exactly, and pixels beyond the edge must not disturb the ones inside.
TEST(DxtEncoderImage, PartialBlocksDecodeToTheirPixels) {
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1}, {2, 2}, {3, 5}, {4, 1},
                                                             {1, 4}, {5, 7}, {6, 9}};
    std::mt19937 rng(1);
    for (const auto& [w, h] : sizes) {
        std::vector<std::uint8_t> img(std::size_t(w) * h * 4);
        for (std::uint32_t y = 0; y < h; ++y) {
            for (std::uint32_t x = 0; x < w; ++x) {
                int c[3];
                // Two colours per block, picked by the block position so neighbours differ.
                unpack565(int(((x / 4) * 7919 + (y / 4) * 104729 + ((x + y) & 1) * 31337) & 0xFFFF), c);
                std::uint8_t* p = &img[(std::size_t(y) * w + x) * 4];
                p[0] = std::uint8_t(c[0]), p[1] = std::uint8_t(c[1]), p[2] = std::uint8_t(c[2]);
                p[3] = std::uint8_t(rng() & 255);
            }
        }
        const std::uint32_t bw = (w + 3) / 4, bh = (h + 3) / 4;
        // One spare block's worth of canaries after the output: nothing may be written there.
        std::vector<std::uint8_t> dxt1(bw * bh * 8 + 16, 0xCD), dxt3(bw * bh * 16 + 16, 0xCD);
        std::vector<std::uint8_t> opaque(img);
        for (std::size_t i = 3; i < opaque.size(); i += 4)
            opaque[i] = 255;
        encodeDxt1(opaque.data(), w, h, dxt1.data());
        encodeDxt3(img.data(), w, h, dxt3.data());
        EXPECT_EQ(std::vector<std::uint8_t>(dxt1.end() - 16, dxt1.end()),
                  std::vector<std::uint8_t>(16, 0xCD));
        EXPECT_EQ(std::vector<std::uint8_t>(dxt3.end() - 16, dxt3.end()),
                  std::vector<std::uint8_t>(16, 0xCD));
        for (std::uint32_t y = 0; y < h; ++y) {
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::size_t blk = (y / 4) * bw + x / 4;
                const int px = int((y % 4) * 4 + x % 4);
                const Pixels d1 = decode(&dxt1[blk * 8], true), d3 = decode(&dxt3[blk * 16], false);
                const std::uint8_t* p = &img[(std::size_t(y) * w + x) * 4];
                for (int ch = 0; ch < 3; ++ch) {
                    ASSERT_EQ(p[ch], d1[4 * px + ch]) << w << "x" << h << " at " << x << "," << y;
                    ASSERT_EQ(p[ch], d3[4 * px + ch]) << w << "x" << h << " at " << x << "," << y;
                }
                ASSERT_EQ(255, d1[4 * px + 3]);
                ASSERT_EQ(17 * ((p[3] + 8) / 17), d3[4 * px + 3]);
            }
        }
    }
}

TEST(DxtEncoderImage, ThreadCountAndSimdLevelDoNotChangeTheBlocksAtAnyEffort) {
    const std::uint32_t w = 260, h = 132;  // many block rows, with partial blocks on the right edge
    std::vector<std::uint8_t> img(std::size_t(w) * h * 4);
    std::mt19937 rng(2);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint8_t* p = &img[(std::size_t(y) * w + x) * 4];
            p[0] = std::uint8_t(x + (rng() & 15)), p[1] = std::uint8_t(y * 2),
            p[2] = std::uint8_t((x * y) >> 4);
            p[3] = std::uint8_t(rng() & 1 ? 255 : x);
        }
    }
    const SimdLevel best = simdLevel();
    for (Effort effort : {Effort::Fast, Effort::Default, Effort::Best}) {
        for (bool dxt3 : {false, true}) {
            auto image = [&](unsigned threads) {
                std::vector<std::uint8_t> out(((w + 3) / 4) * ((h + 3) / 4) * (dxt3 ? 16 : 8));
                if (dxt3)
                    encodeDxt3(img.data(), w, h, out.data(), threads, effort);
                else
                    encodeDxt1(img.data(), w, h, out.data(), threads, effort);
                return out;
            };
            ASSERT_TRUE(useSimdLevel(SimdLevel::Baseline));
            const std::vector<std::uint8_t> reference = image(1);
            for (const SimdLevel level : availableSimdLevels()) {
                ASSERT_TRUE(useSimdLevel(level));
                for (unsigned threads : {0u, 1u, 2u}) {
                    EXPECT_EQ(reference, image(threads))
                        << "effort " << int(effort) << ", level " << int(level) << ", threads " << threads;
                }
            }
        }
    }
    useSimdLevel(best);
}

}  // namespace
}  // namespace ImageService::Dxt
