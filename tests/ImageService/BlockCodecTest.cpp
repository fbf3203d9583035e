// Exact results of the block codec where the answer is known: colours that 5-6-5 holds, at sizes
// that leave partial blocks, the DXT1 alpha threshold and DXT3's 16 alpha steps.
#include <gtest/gtest.h>

#include <vector>

#include "ImageService/BlockCodec.h"

namespace ImageService {
namespace {

// A 5-6-5 value widened the way decoders widen it, so that the colour survives exactly.
constexpr std::uint8_t widen5(unsigned v) {
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}
constexpr std::uint8_t widen6(unsigned v) {
    return static_cast<std::uint8_t>((v << 2) | (v >> 4));
}

// Buffers carry 16 guard bytes past their end, which must come back untouched.
std::vector<std::uint8_t> roundTrip(D3DFORMAT format, const std::vector<std::uint8_t>& rgba, UINT w, UINT h) {
    const std::size_t blockBytes = *levelByteSize(format, w, h);
    std::vector<std::uint8_t> blocks(blockBytes + 16, 0xA5), decoded(rgba.size() + 16, 0xA5);
    EXPECT_TRUE(compressImage(format, rgba.data(), w, h, blocks.data()));
    EXPECT_TRUE(decompressImage(format, blocks.data(), w, h, decoded.data()));
    EXPECT_EQ(std::vector<std::uint8_t>(blocks.begin() + blockBytes, blocks.end()),
              std::vector<std::uint8_t>(16, 0xA5));
    EXPECT_EQ(std::vector<std::uint8_t>(decoded.begin() + rgba.size(), decoded.end()),
              std::vector<std::uint8_t>(16, 0xA5));
    decoded.resize(rgba.size());
    return decoded;
}

TEST(BlockCodecTest, ColoursThat565HoldsComeBackExactlyAtAnySize) {
    const std::uint8_t colours[][3] = {{widen5(0), widen6(0), widen5(0)},
                                       {widen5(31), widen6(63), widen5(31)},
                                       {widen5(10), widen6(33), widen5(27)},
                                       {widen5(31), widen6(0), widen5(1)},
                                       {widen5(3), widen6(62), widen5(16)}};
    const UINT sizes[][2] = {{1, 1}, {2, 2}, {4, 1}, {1, 4}, {3, 5}, {8, 4}, {9, 2}};
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT3, D3DFMT_DXT5}) {
        for (const auto& colour : colours) {
            for (const auto& size : sizes) {
                std::vector<std::uint8_t> rgba;
                for (UINT i = 0; i < size[0] * size[1]; ++i)
                    rgba.insert(rgba.end(), {colour[0], colour[1], colour[2], 255});
                EXPECT_EQ(roundTrip(format, rgba, size[0], size[1]), rgba)
                    << format << " " << size[0] << "x" << size[1];
            }
        }
        // Two colours in one block are its end points, with no interpolation error.
        std::vector<std::uint8_t> rgba;
        for (int i = 0; i < 16; ++i) {
            bool first = (i * 7) % 3 == 0;
            rgba.insert(rgba.end(),
                        {widen5(first ? 4 : 29), widen6(first ? 50 : 9), widen5(first ? 12 : 20), 255});
        }
        EXPECT_EQ(roundTrip(format, rgba, 4, 4), rgba) << format << " two colours";
    }
}

TEST(BlockCodecTest, AlphaFollowsEachFormatsRule) {
    // Every alpha value once, on a colour 5-6-5 holds, so only alpha can differ.
    std::vector<std::uint8_t> rgba;
    for (int a = 0; a < 256; ++a)
        rgba.insert(rgba.end(), {widen5(20), widen6(40), widen5(5), std::uint8_t(a)});
    auto dxt1 = roundTrip(D3DFMT_DXT1, rgba, 16, 16);
    auto dxt3 = roundTrip(D3DFMT_DXT3, rgba, 16, 16);
    for (int a = 0; a < 256; ++a) {
        // DXT1: below 128 the transparent colour (black, alpha 0), else the colour at alpha 255.
        std::vector<int> expected = {0, 0, 0, 0};
        if (a >= 128)
            expected = {rgba[a * 4], rgba[a * 4 + 1], rgba[a * 4 + 2], 255};
        EXPECT_EQ(std::vector<int>(&dxt1[a * 4], &dxt1[a * 4 + 4]), expected) << "alpha " << a;
        // DXT3: the nearest multiple of 17.
        EXPECT_EQ(dxt3[a * 4 + 3], 17 * ((a + 8) / 17)) << "alpha " << a;
        EXPECT_LE(std::abs(dxt3[a * 4 + 3] - a), 8) << "alpha " << a;
    }
}

}  // namespace
}  // namespace ImageService
