// Mip filtering: the rounded 2x2 mean on images with known answers, every level of a long chain
// within the rounding it may gather, block formats encoded from uncompressed averages, and refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageService/D3DX/BlockCodec.h"
#include "support/Textures.h"

namespace ImageService {
namespace {

class MipFilterTest : public LeakCheckedTest {};

TEST_F(MipFilterTest, SmallImagesGetTheirRoundedMeans) {
    // Channel sums 10, 2, 2, 45: means 2.5, 0.5, 0.5 and 11.25 round to 3, 1, 1 and 11.
    TextureRef square = makeTexture(2, 2, D3DFMT_A8R8G8B8, 0);
    const std::uint8_t pixels[] = {1, 0, 0, 10, 2, 0, 1, 11, 3, 1, 0, 12, 4, 1, 1, 12};
    std::memcpy(square->levelBytes(0), pixels, sizeof pixels);
    ASSERT_EQ(D3DXFilterTexture(square.get(), nullptr, 0, D3DX_DEFAULT), D3D_OK);
    EXPECT_EQ(bytesOf(square.get(), 1), std::vector<std::uint8_t>({3, 1, 1, 11}));

    // A side of 1 averages pairs: 0, 1, 10, 20 -> 1 (0.5 rounded up), 15 -> 8.
    for (bool row : {true, false}) {
        TextureRef line = makeTexture(row ? 4 : 1, row ? 1 : 4, D3DFMT_A8B8G8R8, 0);
        const std::uint8_t values[] = {0, 1, 10, 20};
        for (int i = 0; i < 4; ++i)
            std::memset(line->levelBytes(0) + 4 * i, values[i], 4);
        ASSERT_EQ(D3DXFilterTexture(line.get(), nullptr, 0, 5), D3D_OK);  // 5: the box filter by name
        EXPECT_EQ(bytesOf(line.get(), 1), std::vector<std::uint8_t>({1, 1, 1, 1, 15, 15, 15, 15}));
        EXPECT_EQ(bytesOf(line.get(), 2), std::vector<std::uint8_t>(4, 8));
    }
}

TEST_F(MipFilterTest, LongChainStaysWithinRoundingOfTheTrueMean) {
    // 256x64 has nine levels down to 1x1 (their sides are checked in TextureTest).
    TextureRef texture = makeTexture(256, 64, D3DFMT_A8B8G8R8, 0);
    ASSERT_EQ(texture->GetLevelCount(), 9u);
    std::uint8_t* base = texture->levelBytes(0);
    for (UINT i = 0; i < 256 * 64 * 4; ++i)
        base[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 24);
    const std::vector<std::uint8_t> source = bytesOf(texture.get());
    ASSERT_EQ(D3DXFilterTexture(texture.get(), nullptr, 0, D3DX_DEFAULT), D3D_OK);

    // Rounding half up moves each level by at most half a step from the mean of the level above.
    for (UINT level = 1; level < 9; ++level) {
        const UINT w = texture->width(level), h = texture->height(level), spanX = 256 / w, spanY = 64 / h;
        for (UINT y = 0; y < h; ++y) {
            for (UINT x = 0; x < w; ++x) {
                for (int c = 0; c < 4; ++c) {
                    double sum = 0;
                    for (UINT sy = y * spanY; sy < (y + 1) * spanY; ++sy) {
                        for (UINT sx = x * spanX; sx < (x + 1) * spanX; ++sx)
                            sum += source[(sy * 256 + sx) * 4 + c];
                    }
                    ASSERT_NEAR(texture->levelBytes(level)[(y * w + x) * 4 + c], sum / (spanX * spanY),
                                0.5 * level)
                        << "level " << level << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST_F(MipFilterTest, BlockLevelsAreEncodedFromUncompressedAverages) {
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT3}) {
        TextureRef texture = makeTexture(64, 32, format, 0);
        std::vector<std::uint8_t> rgba(64 * 32 * 4);
        for (std::size_t i = 0; i < rgba.size(); ++i)
            rgba[i] = static_cast<std::uint8_t>((i % 256) ^ (i / 97));
        ASSERT_TRUE(compressImage(format, rgba.data(), 64, 32, texture->levelBytes(0)));
        ASSERT_EQ(D3DXFilterTexture(texture.get(), nullptr, 0, D3DX_DEFAULT), D3D_OK);

        // The same chain averaged without compression, each level then encoded once: any level built
        // from a decoded smaller level (errors compounding) would differ.
        TextureRef plain = makeTexture(64, 32, D3DFMT_A8B8G8R8, 0);
        ASSERT_TRUE(decompressImage(format, texture->levelBytes(0), 64, 32, plain->levelBytes(0)));
        ASSERT_EQ(D3DXFilterTexture(plain.get(), nullptr, 0, D3DX_DEFAULT), D3D_OK);
        for (UINT level = 1; level < texture->GetLevelCount(); ++level) {
            std::vector<std::uint8_t> expected(texture->levelSize(level));
            ASSERT_TRUE(compressImage(format, plain->levelBytes(level), plain->width(level),
                                      plain->height(level), expected.data()));
            EXPECT_EQ(bytesOf(texture.get(), level), expected) << format << " level " << level;
        }
    }
}

TEST_F(MipFilterTest, RefusesBadRequests) {
    TextureRef texture = makeTexture(4, 4, D3DFMT_A8R8G8B8, 0);
    EXPECT_EQ(D3DXFilterTexture(texture.get(), nullptr, 2, D3DX_DEFAULT), D3D_OK);  // the last level

    const std::uint8_t palette[1024] = {};
    EXPECT_EQ(D3DXFilterTexture(texture.get(), nullptr, 3, D3DX_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXFilterTexture(texture.get(), palette, 0, D3DX_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXFilterTexture(texture.get(), nullptr, 0, 2), D3DERR_INVALIDCALL);  // point filter
    EXPECT_EQ(D3DXFilterTexture(nullptr, nullptr, 0, D3DX_DEFAULT), D3DERR_INVALIDCALL);
    TextureRef single = makeTexture(8, 8, D3DFMT_DXT1, 1);
    EXPECT_EQ(D3DXFilterTexture(single.get(), nullptr, 0, D3DX_DEFAULT), D3D_OK);

    D3DLOCKED_RECT locked;
    ASSERT_EQ(texture->LockRect(2, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(D3DXFilterTexture(texture.get(), nullptr, 0, D3DX_DEFAULT), D3DERR_INVALIDCALL);
    texture->UnlockRect(2);
}

TEST_F(MipFilterTest, InjectedFaultReturnsItsCodeAndLeavesNothingBehind) {
    TextureRef texture = makeTexture(4, 4, D3DFMT_A8R8G8B8, 0);
    std::memset(texture->levelBytes(0), 0x80, texture->levelSize(0));
    const std::size_t live = TestSeams::liveObjectCount();
    TestSeams::injectFault(Operation::FilterTexture, D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(D3DXFilterTexture(texture.get(), nullptr, 0, D3DX_DEFAULT), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(TestSeams::liveObjectCount(), live);
    EXPECT_EQ(bytesOf(texture.get(), 1), std::vector<std::uint8_t>(16, 0));
}

}  // namespace
}  // namespace ImageService
