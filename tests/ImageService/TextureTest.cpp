// The texture object model: packed locks, full chains, refusals, surface lifetimes and the fault seam.
#include <gtest/gtest.h>

#include "ImageService/Direct3D/Texture.h"
#include "support/Textures.h"

namespace ImageService {
namespace {

class TextureTest : public LeakCheckedTest {};

TEST_F(TextureTest, LocksGivePackedRowsForEveryFormat) {
    struct Case {
        D3DFORMAT format;
        UINT width, height;
        INT pitch;
        std::size_t size;
    };
    for (const Case& c :
         {Case{D3DFMT_A8R8G8B8, 5, 3, 20, 60}, Case{D3DFMT_X8R8G8B8, 2, 2, 8, 16},
          Case{D3DFMT_A8B8G8R8, 1, 1, 4, 4}, Case{D3DFMT_R8G8B8, 3, 2, 9, 18},
          Case{D3DFMT_DXT1, 256, 256, 512, 32768}, Case{D3DFMT_DXT3, 256, 256, 1024, 65536},
          Case{D3DFMT_DXT1, 2, 2, 8, 8}, Case{D3DFMT_DXT3, 2, 2, 16, 16}, Case{D3DFMT_DXT5, 8, 4, 32, 32}}) {
        TextureRef texture = makeTexture(c.width, c.height, c.format);
        D3DLOCKED_RECT locked;
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        EXPECT_EQ(locked.Pitch, c.pitch) << formatInfo(c.format)->name;
        EXPECT_EQ(texture->levelSize(0), c.size) << formatInfo(c.format)->name;
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
        EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
        EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);
    }
}

TEST_F(TextureTest, LevelZeroMeansTheFullChain) {
    TextureRef texture = makeTexture(256, 64, D3DFMT_DXT3, 0);
    ASSERT_EQ(texture->GetLevelCount(), 9u);
    const UINT sides[9][2] = {{256, 64}, {128, 32}, {64, 16}, {32, 8}, {16, 4},
                              {8, 2},    {4, 1},    {2, 1},   {1, 1}};
    for (UINT level = 0; level < 9; ++level) {
        D3DSURFACE_DESC desc;
        ASSERT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, sides[level][0]);
        EXPECT_EQ(desc.Height, sides[level][1]);
        EXPECT_EQ(desc.Format, D3DFMT_DXT3);
    }
}

TEST_F(TextureTest, RefusesImpossibleRequestsWithoutLeaking) {
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(0x1);
    EXPECT_EQ(IDirect3DTexture9::create(0, 4, 1, 0, D3DFMT_DXT1, 1, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(IDirect3DTexture9::create(32768, 4, 1, 0, D3DFMT_DXT1, 1, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(IDirect3DTexture9::create(4, 4, 4, 0, D3DFMT_DXT1, 1, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(IDirect3DTexture9::create(4, 4, 1, 0, D3DFMT_P8, 1, &texture), D3DERR_INVALIDCALL);
}

TEST_F(TextureTest, InjectedFaultsFailTheChosenCallOnly) {
    TestDevice d;
    TestSeams::injectFault(Operation::D3DXCreateTexture, D3DERR_OUTOFVIDEOMEMORY, 1);
    IDirect3DTexture9 *first = nullptr, *second = nullptr;
    EXPECT_EQ(D3DXCreateTexture(d.device, 4, 4, 1, 0, D3DFMT_DXT1, 1, &first), D3D_OK);
    EXPECT_EQ(D3DXCreateTexture(d.device, 4, 4, 1, 0, D3DFMT_DXT1, 1, &second), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(D3DXCreateTexture(d.device, 4, 4, 1, 0, D3DFMT_DXT1, 1, &second), D3D_OK);
    first->Release();
    second->Release();
}

}  // namespace
}  // namespace ImageService
