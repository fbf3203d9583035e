// A block level made from uncompressed pixels reads back as those pixels until either side may have
// changed; then it reads back as its blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageService/BlockCodec.h"
#include "ImageService/D3DX.h"
#include "ImageService/TestSeams.h"

namespace {

using namespace ImageService;

IDirect3DTexture9* make(D3DFORMAT format, UINT levels = 1) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(IDirect3DTexture9::create(8, 8, levels, 0, format, D3DPOOL_MANAGED, &texture), D3D_OK);
    return texture;
}

void copy(IDirect3DTexture9* from, IDirect3DTexture9* to) {
    IDirect3DSurface9* source = nullptr;
    IDirect3DSurface9* destination = nullptr;
    from->GetSurfaceLevel(0, &source);
    to->GetSurfaceLevel(0, &destination);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(destination, nullptr, nullptr, source, nullptr, nullptr,
                                         D3DX_FILTER_NONE, 0),
              D3D_OK);
    source->Release();
    destination->Release();
}

std::vector<std::uint8_t> bytesOf(IDirect3DTexture9* texture, UINT level = 0) {
    return std::vector<std::uint8_t>(texture->levelBytes(level),
                                     texture->levelBytes(level) + texture->levelSize(level));
}

TEST(ExactPixels, BlockLevelsReadBackAsTheirSourceUntilEitherSideChanges) {
    std::size_t live = TestSeams::liveObjectCount();
    IDirect3DTexture9* source = make(D3DFMT_A8R8G8B8);
    for (std::size_t i = 0; i < source->levelSize(0); ++i)
        source->levelBytes(0)[i] = static_cast<std::uint8_t>(i * 29);
    IDirect3DTexture9* blocks = make(D3DFMT_DXT3);
    IDirect3DTexture9* back = make(D3DFMT_A8R8G8B8);
    copy(source, blocks);
    source->Release();  // the block level keeps what it needs

    copy(blocks, back);
    std::vector<std::uint8_t> exact = bytesOf(back);

    // A block copy (as the mip chain makes of level 0) carries the pixels along.
    IDirect3DTexture9* chain = make(D3DFMT_DXT3, 0);
    copy(blocks, chain);
    EXPECT_EQ(bytesOf(chain), bytesOf(blocks));
    copy(chain, back);
    EXPECT_EQ(bytesOf(back), exact);

    // Locking the block level may change its blocks: from then on it reads back as its blocks.
    D3DLOCKED_RECT locked;
    ASSERT_EQ(blocks->LockRect(0, &locked, nullptr, 0), D3D_OK);
    blocks->UnlockRect(0);
    copy(blocks, back);
    std::vector<std::uint8_t> rgba(8 * 8 * 4);
    decompressImage(D3DFMT_DXT3, blocks->levelBytes(0), 8, 8, rgba.data());
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        ASSERT_EQ(back->levelBytes(0)[i], rgba[i + 2]);  // blue first in A8R8G8B8
        ASSERT_EQ(back->levelBytes(0)[i + 3], rgba[i + 3]);
    }
    EXPECT_NE(bytesOf(back), exact);

    chain->Release();
    blocks->Release();
    back->Release();
    EXPECT_EQ(TestSeams::liveObjectCount(), live);
}

TEST(ExactPixels, ASourceWrittenAfterwardsIsNoLongerUsed) {
    IDirect3DTexture9* source = make(D3DFMT_A8B8G8R8);
    std::memset(source->levelBytes(0), 200, source->levelSize(0));
    IDirect3DTexture9* blocks = make(D3DFMT_DXT1);
    IDirect3DTexture9* back = make(D3DFMT_A8B8G8R8);
    copy(source, blocks);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(source->LockRect(0, &locked, nullptr, 0), D3D_OK);
    std::memset(locked.pBits, 7, source->levelSize(0));
    source->UnlockRect(0);
    copy(blocks, back);
    EXPECT_NE(back->levelBytes(0)[0], 7);  // the blocks' colour, not the source's new one
    source->Release();
    blocks->Release();
    back->Release();
}

}  // namespace
