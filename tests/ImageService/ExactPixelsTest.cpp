// A block level made from uncompressed pixels reads back as those pixels until either side may have
// changed; then it reads back as its blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageService/D3DX/BlockCodec.h"
#include "support/Textures.h"

namespace ImageService {
namespace {

class ExactPixels : public LeakCheckedTest {};

TEST_F(ExactPixels, BlockLevelsReadBackAsTheirSourceUntilEitherSideChanges) {
    TextureRef source = makeTexture(8, 8, D3DFMT_A8R8G8B8);
    for (std::size_t i = 0; i < source->levelSize(0); ++i)
        source->levelBytes(0)[i] = static_cast<std::uint8_t>(i * 29);
    TextureRef blocks = makeTexture(8, 8, D3DFMT_DXT3), back = makeTexture(8, 8, D3DFMT_A8R8G8B8);
    convert(blocks.get(), source.get());
    source.reset();  // the block level keeps what it needs
    convert(back.get(), blocks.get());
    const std::vector<std::uint8_t> exact = bytesOf(back.get());

    // A block copy (as the mip chain makes of level 0) carries the pixels along.
    TextureRef chain = makeTexture(8, 8, D3DFMT_DXT3, 0);
    convert(chain.get(), blocks.get());
    EXPECT_EQ(bytesOf(chain.get()), bytesOf(blocks.get()));
    convert(back.get(), chain.get());
    EXPECT_EQ(bytesOf(back.get()), exact);

    // Locking the block level may change its blocks: from then on it reads back as its blocks.
    D3DLOCKED_RECT locked;
    ASSERT_EQ(blocks->LockRect(0, &locked, nullptr, 0), D3D_OK);
    blocks->UnlockRect(0);
    convert(back.get(), blocks.get());
    std::vector<std::uint8_t> rgba(8 * 8 * 4);
    decompressImage(D3DFMT_DXT3, blocks->levelBytes(0), 8, 8, rgba.data());
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        ASSERT_EQ(back->levelBytes(0)[i], rgba[i + 2]);  // blue first in A8R8G8B8
        ASSERT_EQ(back->levelBytes(0)[i + 3], rgba[i + 3]);
    }
    EXPECT_NE(bytesOf(back.get()), exact);
}

TEST_F(ExactPixels, ASourceWrittenAfterwardsIsNoLongerUsed) {
    TextureRef source = makeTexture(8, 8, D3DFMT_A8B8G8R8);
    std::memset(source->levelBytes(0), 200, source->levelSize(0));
    TextureRef blocks = makeTexture(8, 8, D3DFMT_DXT1), back = makeTexture(8, 8, D3DFMT_A8B8G8R8);
    convert(blocks.get(), source.get());
    D3DLOCKED_RECT locked;
    ASSERT_EQ(source->LockRect(0, &locked, nullptr, 0), D3D_OK);
    std::memset(locked.pBits, 7, source->levelSize(0));
    source->UnlockRect(0);
    convert(back.get(), blocks.get());
    EXPECT_NE(back->levelBytes(0)[0], 7);  // the blocks' colour, not the source's new one
}

}  // namespace
}  // namespace ImageService
