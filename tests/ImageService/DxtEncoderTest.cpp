// Our DXT1/DXT3 encoder, block by block: every output is decoded by a plain reference decoder written
// here (checked against libsquish's) and held to what the format can do at best: exact or provably
// optimal solid blocks, lossless blocks of two storable colours, DXT1's transparency rule, DXT3's
// rounded alpha, edge blocks, and no worse than libsquish's cluster fit over many synthetic blocks.
#include <gtest/gtest.h>
#include <squish.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "ImageService/Dxt/DxtEncoder.h"

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

// Colour half of a block: c0 > c1 selects four colours, otherwise three plus transparent black
// (DXT1 only; a DXT3 colour block always has four).
Pixels decodeColour(const std::uint8_t* block, bool dxt1) {
    const int c0 = block[0] | block[1] << 8;
    const int c1 = block[2] | block[3] << 8;
    int pal[4][4];
    unpack565(c0, pal[0]);
    unpack565(c1, pal[1]);
    const bool four = !dxt1 || c0 > c1;
    for (int ch = 0; ch < 3; ++ch) {
        if (four) {
            pal[2][ch] = (2 * pal[0][ch] + pal[1][ch]) / 3;
            pal[3][ch] = (pal[0][ch] + 2 * pal[1][ch]) / 3;
        } else {
            pal[2][ch] = (pal[0][ch] + pal[1][ch]) / 2;
            pal[3][ch] = 0;
        }
    }
    pal[0][3] = pal[1][3] = pal[2][3] = 255;
    pal[3][3] = four ? 255 : 0;
    Pixels out{};
    for (int i = 0; i < 16; ++i) {
        const int idx = (block[4 + i / 4] >> (2 * (i % 4))) & 3;
        for (int ch = 0; ch < 4; ++ch) {
            out[4 * i + ch] = std::uint8_t(pal[idx][ch]);
        }
    }
    return out;
}

Pixels decodeDxt3(const std::uint8_t* block) {
    Pixels out = decodeColour(block + 8, false);
    for (int i = 0; i < 16; ++i) {
        out[4 * i + 3] = std::uint8_t(17 * ((block[i / 2] >> (4 * (i % 2))) & 15));
    }
    return out;
}

int indexOf(const std::uint8_t* colourBlock, int pixel) {
    return (colourBlock[4 + pixel / 4] >> (2 * (pixel % 4))) & 3;
}

long rgbError(const Pixels& a, const Pixels& b) {
    long e = 0;
    for (int i = 0; i < 16; ++i) {
        for (int ch = 0; ch < 3; ++ch) {
            const int d = a[4 * i + ch] - b[4 * i + ch];
            e += d * d;
        }
    }
    return e;
}

Pixels solidBlock(int r, int g, int b, int a = 255) {
    Pixels p{};
    for (int i = 0; i < 16; ++i) {
        p[4 * i] = std::uint8_t(r), p[4 * i + 1] = std::uint8_t(g), p[4 * i + 2] = std::uint8_t(b);
        p[4 * i + 3] = std::uint8_t(a);
    }
    return p;
}

// Smallest squared error any block can give a solid colour: per mode, each channel's best endpoint
// pair, found by trying all of them.
long bestSolidError(const int* rgb, bool threeAllowed) {
    long best = -1;
    for (int mode = 0; mode < (threeAllowed ? 2 : 1); ++mode) {
        long total = 0;
        for (int ch = 0; ch < 3; ++ch) {
            const int top = ch == 1 ? 63 : 31;
            long chBest = -1;
            for (int e0 = 0; e0 <= top; ++e0) {
                for (int e1 = 0; e1 <= top; ++e1) {
                    const int x0 = ch == 1 ? expand6(e0) : expand5(e0);
                    const int x1 = ch == 1 ? expand6(e1) : expand5(e1);
                    const int v = mode == 0 ? (2 * x0 + x1) / 3 : (x0 + x1) / 2;
                    const long d = long(v - rgb[ch]) * (v - rgb[ch]);
                    if (chBest < 0 || d < chBest) {
                        chBest = d;
                    }
                }
            }
            total += chBest;
        }
        if (best < 0 || total < best) {
            best = total;
        }
    }
    return best * 16;
}

TEST(DxtReferenceDecoder, AgreesWithLibsquish) {
    std::mt19937 rng(7);
    for (int t = 0; t < 2000; ++t) {
        std::uint8_t block[16];
        for (auto& b : block) {
            b = std::uint8_t(rng());
        }
        if (t % 4 == 0) {
            std::swap(block[8], block[10]);  // both endpoint orders for the DXT3 colour half
        }
        std::uint8_t viaSquish[64];
        squish::Decompress(viaSquish, block, squish::kDxt1);
        const Pixels ours1 = decodeColour(block, true);
        ASSERT_EQ(0, std::memcmp(viaSquish, ours1.data(), 64)) << t;
        squish::Decompress(viaSquish, block, squish::kDxt3);
        const Pixels ours3 = decodeDxt3(block);
        ASSERT_EQ(0, std::memcmp(viaSquish, ours3.data(), 64)) << t;
    }
}

TEST(DxtEncoderSolid, ExactWhenStorableOptimalOtherwise) {
    std::mt19937 rng(11);
    std::vector<std::array<int, 3>> colours;
    for (int v = 0; v < 256; ++v) {
        colours.push_back({v, v, v});
        colours.push_back({v, 255 - v, (v * 7) & 255});
    }
    for (int t = 0; t < 128; ++t) {
        colours.push_back({int(rng() & 255), int(rng() & 255), int(rng() & 255)});
    }
    for (const auto& c : colours) {
        const Pixels in = solidBlock(c[0], c[1], c[2]);
        std::uint8_t b1[8];
        std::uint8_t b3[16];
        encodeDxt1Block(in.data(), 0xFFFF, b1);
        encodeDxt3Block(in.data(), 0xFFFF, b3);
        const Pixels d1 = decodeColour(b1, true);
        const Pixels d3 = decodeDxt3(b3);
        EXPECT_EQ(bestSolidError(c.data(), true), rgbError(in, d1)) << c[0] << "," << c[1] << "," << c[2];
        EXPECT_EQ(bestSolidError(c.data(), false), rgbError(in, d3)) << c[0] << "," << c[1] << "," << c[2];
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(255, d1[4 * i + 3]);  // an opaque solid block never uses transparent black
        }
    }
    // 565-storable colours come back bit-exact.
    const Pixels storable = solidBlock(expand5(17), expand6(40), expand5(3));
    std::uint8_t b1[8];
    encodeDxt1Block(storable.data(), 0xFFFF, b1);
    EXPECT_EQ(0, rgbError(storable, decodeColour(b1, true)));
}

TEST(DxtEncoderTwoColour, StorableColoursAreLossless) {
    std::mt19937 rng(3);
    for (int t = 0; t < 500; ++t) {
        int a[3];
        int b[3];
        unpack565(int(rng() & 0xFFFF), a);
        unpack565(int(rng() & 0xFFFF), b);
        const std::uint32_t pattern = rng();
        Pixels in{};
        for (int i = 0; i < 16; ++i) {
            const int* c = (pattern >> i) & 1 ? a : b;
            in[4 * i] = std::uint8_t(c[0]), in[4 * i + 1] = std::uint8_t(c[1]),
                   in[4 * i + 2] = std::uint8_t(c[2]);
            in[4 * i + 3] = 255;
        }
        std::uint8_t b1[8];
        std::uint8_t b3[16];
        encodeDxt1Block(in.data(), 0xFFFF, b1);
        encodeDxt3Block(in.data(), 0xFFFF, b3);
        ASSERT_EQ(0, rgbError(in, decodeColour(b1, true))) << t;
        ASSERT_EQ(0, rgbError(in, decodeDxt3(b3))) << t;
    }
}

TEST(DxtEncoderTwoColour, NoWorseThanRoundingBothColours) {
    std::mt19937 rng(5);
    for (int t = 0; t < 500; ++t) {
        int a[3] = {int(rng() & 255), int(rng() & 255), int(rng() & 255)};
        int b[3] = {int(rng() & 255), int(rng() & 255), int(rng() & 255)};
        Pixels in{};
        for (int i = 0; i < 16; ++i) {
            const int* c = i < 6 ? a : b;
            in[4 * i] = std::uint8_t(c[0]), in[4 * i + 1] = std::uint8_t(c[1]),
                   in[4 * i + 2] = std::uint8_t(c[2]);
            in[4 * i + 3] = 255;
        }
        // Each colour on its own rounded endpoint: always available, so never to be beaten.
        long rounded = 0;
        for (int i = 0; i < 16; ++i) {
            for (int ch = 0; ch < 3; ++ch) {
                const int v = in[4 * i + ch];
                const int q = ch == 1 ? expand6((v * 63 + 127) / 255) : expand5((v * 31 + 127) / 255);
                rounded += (q - v) * (q - v);
            }
        }
        std::uint8_t b1[8];
        encodeDxt1Block(in.data(), 0xFFFF, b1);
        ASSERT_LE(rgbError(in, decodeColour(b1, true)), rounded) << t;
    }
}

TEST(DxtEncoderDxt1Alpha, TransparentPixelsDecodeClearAndOpaqueOnesNeverDo) {
    std::mt19937 rng(9);
    for (int t = 0; t < 2000; ++t) {
        Pixels in{};
        const int mode = t % 4;  // 0: random alpha, 1: all clear, 2: all opaque, 3: one clear pixel
        for (int i = 0; i < 16; ++i) {
            for (int ch = 0; ch < 3; ++ch) {
                in[4 * i + ch] = std::uint8_t(rng());
            }
            in[4 * i + 3] = mode == 0   ? std::uint8_t(rng())
                            : mode == 1 ? 0
                            : mode == 2 ? 255
                                        : (i == 5 ? 127 : 128);
        }
        std::uint8_t b1[8];
        encodeDxt1Block(in.data(), 0xFFFF, b1);
        const Pixels d = decodeColour(b1, true);
        const bool threeColour = (b1[0] | b1[1] << 8) <= (b1[2] | b1[3] << 8);
        for (int i = 0; i < 16; ++i) {
            const bool clear = in[4 * i + 3] < 128;
            ASSERT_EQ(clear ? 0 : 255, d[4 * i + 3]) << "block " << t << " pixel " << i;
            if (threeColour && !clear) {
                ASSERT_NE(3, indexOf(b1, i)) << "block " << t << " pixel " << i;
            }
        }
    }
}

TEST(DxtEncoderDxt3Alpha, EveryValueRoundsToNearestFourBitsAsLibsquishDoes) {
    for (int start = 0; start < 256; start += 16) {
        Pixels in = solidBlock(90, 30, 200);
        for (int i = 0; i < 16; ++i) {
            in[4 * i + 3] = std::uint8_t(start + i);
        }
        std::uint8_t ours[16];
        std::uint8_t theirs[16];
        encodeDxt3Block(in.data(), 0xFFFF, ours);
        squish::Compress(in.data(), theirs, squish::kDxt3);
        EXPECT_EQ(0, std::memcmp(ours, theirs, 8)) << "alpha from " << start;
        const Pixels d = decodeDxt3(ours);
        for (int i = 0; i < 16; ++i) {
            const int a = start + i;
            const int nearest = 17 * ((a + 8) / 17);
            EXPECT_EQ(nearest, d[4 * i + 3]) << a;
            EXPECT_LE(std::abs(nearest - a), 8);
        }
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
        const std::uint32_t bw = (w + 3) / 4;
        const std::uint32_t bh = (h + 3) / 4;
        // One spare block's worth of canaries after the output: nothing may be written there.
        std::vector<std::uint8_t> dxt1(bw * bh * 8 + 16, 0xCD);
        std::vector<std::uint8_t> dxt3(bw * bh * 16 + 16, 0xCD);
        std::vector<std::uint8_t> opaque(img);
        for (std::size_t i = 3; i < opaque.size(); i += 4) {
            opaque[i] = 255;
        }
        encodeDxt1(opaque.data(), w, h, dxt1.data());
        encodeDxt3(img.data(), w, h, dxt3.data());
        for (std::size_t i = bw * bh * 8; i < dxt1.size(); ++i) {
            ASSERT_EQ(0xCD, dxt1[i]);
        }
        for (std::size_t i = bw * bh * 16; i < dxt3.size(); ++i) {
            ASSERT_EQ(0xCD, dxt3[i]);
        }
        for (std::uint32_t y = 0; y < h; ++y) {
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::size_t blk = (y / 4) * bw + x / 4;
                const int px = int((y % 4) * 4 + x % 4);
                const Pixels d1 = decodeColour(&dxt1[blk * 8], true);
                const Pixels d3 = decodeDxt3(&dxt3[blk * 16]);
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

TEST(DxtEncoderImage, ThreadCountRowAndBlockEntriesAllAgree) {
    const std::uint32_t w = 260;
    const std::uint32_t h = 132;  // many block rows, with partial blocks on the right edge
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
    const std::size_t blocks = std::size_t((w + 3) / 4) * ((h + 3) / 4);
    std::vector<std::uint8_t> one(blocks * 16);
    std::vector<std::uint8_t> two(blocks * 16);
    std::vector<std::uint8_t> all(blocks * 16);
    for (int dxt3 = 0; dxt3 < 2; ++dxt3) {
        auto run = [&](std::vector<std::uint8_t>& out, unsigned threads) {
            if (dxt3) {
                encodeDxt3(img.data(), w, h, out.data(), threads);
            } else {
                encodeDxt1(img.data(), w, h, out.data(), threads);
            }
        };
        run(one, 1);
        run(two, 2);
        run(all, 0);
        EXPECT_EQ(one, two);
        EXPECT_EQ(one, all);
        // The row entry: four pixel rows match that block row of the whole image; three match an
        // image three pixels high (edge blocks).
        const std::size_t rowBytes = std::size_t((w + 3) / 4) * (dxt3 ? 16 : 8);
        const std::uint8_t* rows = &img[std::size_t(128) * w * 4];
        std::vector<std::uint8_t> row(rowBytes);
        std::vector<std::uint8_t> shortImage(rowBytes);
        if (dxt3) {
            encodeDxt3Row(rows, w, 4, row.data());
        } else {
            encodeDxt1Row(rows, w, 4, row.data());
        }
        EXPECT_EQ(0, std::memcmp(row.data(), &one[32 * rowBytes], rowBytes));
        if (dxt3) {
            encodeDxt3Row(rows, w, 3, row.data());
            encodeDxt3(rows, w, 3, shortImage.data());
        } else {
            encodeDxt1Row(rows, w, 3, row.data());
            encodeDxt1(rows, w, 3, shortImage.data());
        }
        EXPECT_EQ(row, shortImage);
        // Block (3, 5) through the single-block entry.
        std::uint8_t px[64];
        for (int y = 0; y < 4; ++y) {
            std::memcpy(px + 16 * y, &img[((5 * 4 + y) * std::size_t(w) + 3 * 4) * 4], 16);
        }
        std::uint8_t block[16];
        const std::size_t at = (5 * ((w + 3) / 4) + 3) * (dxt3 ? 16 : 8);
        if (dxt3) {
            encodeDxt3Block(px, 0xFFFF, block);
        } else {
            encodeDxt1Block(px, 0xFFFF, block);
        }
        EXPECT_EQ(0, std::memcmp(block, &one[at], dxt3 ? 16 : 8));
    }
}

// Synthetic blocks of the kinds real textures have (gradients, noise, two-tone edges, few colours):
// summed over many, our error must not exceed libsquish's cluster fit.
TEST(DxtEncoderQuality, NoWorseThanLibsquishClusterFitOnSyntheticBlocks) {
    std::mt19937 rng(13);
    long ours1 = 0;
    long theirs1 = 0;
    long ours3 = 0;
    long theirs3 = 0;
    for (int t = 0; t < 3000; ++t) {
        Pixels in{};
        const int kind = t % 4;
        int base[3] = {int(rng() & 255), int(rng() & 255), int(rng() & 255)};
        int step[3] = {int(rng() % 21) - 10, int(rng() % 21) - 10, int(rng() % 21) - 10};
        for (int i = 0; i < 16; ++i) {
            for (int ch = 0; ch < 3; ++ch) {
                int v = base[ch];
                if (kind == 0) {
                    v += step[ch] * (i % 4) + step[(ch + 1) % 3] * (i / 4);
                } else if (kind == 1) {
                    v += int(rng() % 33) - 16;
                } else if (kind == 2) {
                    v = ((i % 4) + (i / 4) > 3) ? v : 255 - v;
                } else {
                    v = (int(rng() % 3) * 80 + base[ch]) & 255;
                }
                in[4 * i + ch] = std::uint8_t(std::min(255, std::max(0, v)));
            }
            in[4 * i + 3] = 255;
        }
        std::uint8_t ob[16];
        std::uint8_t sb[16];
        Pixels sd;
        encodeDxt1Block(in.data(), 0xFFFF, ob);
        squish::Compress(in.data(), sb, squish::kDxt1 | squish::kColourClusterFit);
        squish::Decompress(sd.data(), sb, squish::kDxt1);
        ours1 += rgbError(in, decodeColour(ob, true));
        theirs1 += rgbError(in, sd);
        encodeDxt3Block(in.data(), 0xFFFF, ob);
        squish::Compress(in.data(), sb, squish::kDxt3 | squish::kColourClusterFit);
        squish::Decompress(sd.data(), sb, squish::kDxt3);
        ours3 += rgbError(in, decodeDxt3(ob));
        theirs3 += rgbError(in, sd);
    }
    EXPECT_LE(ours1, theirs1);
    EXPECT_LE(ours3, theirs3);
}

}  // namespace
}  // namespace ImageService::Dxt
