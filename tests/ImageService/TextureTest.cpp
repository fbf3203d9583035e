#include <gtest/gtest.h>

#include "ImageService/D3DX.h"
#include "ImageService/Device.h"
#include "ImageService/TestSeams.h"
#include "ImageService/Texture.h"

namespace {

using namespace ImageService;

class TextureTest : public ::testing::Test {
protected:
    void TearDown() override {
        TestSeams::clearFaults();
        EXPECT_EQ(TestSeams::liveObjectCount(), liveAtStart);
    }
    std::size_t liveAtStart = TestSeams::liveObjectCount();
};

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
          Case{D3DFMT_DXT1, 2, 2, 8, 8}, Case{D3DFMT_DXT3, 1, 1, 16, 16}, Case{D3DFMT_DXT5, 8, 4, 32, 32}}) {
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(IDirect3DTexture9::create(c.width, c.height, 1, 0, c.format, D3DPOOL_MANAGED, &texture),
                  D3D_OK);
        D3DLOCKED_RECT locked;
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        EXPECT_EQ(locked.Pitch, c.pitch) << formatInfo(c.format)->name;
        EXPECT_EQ(texture->levelSize(0), c.size) << formatInfo(c.format)->name;
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
        EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
        EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);
        texture->Release();
    }
}

TEST_F(TextureTest, LevelZeroMeansTheFullChain) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(IDirect3DTexture9::create(256, 64, 0, 0, D3DFMT_DXT3, D3DPOOL_MANAGED, &texture), D3D_OK);
    ASSERT_EQ(texture->GetLevelCount(), 9u);
    const UINT widths[] = {256, 128, 64, 32, 16, 8, 4, 2, 1};
    const UINT heights[] = {64, 32, 16, 8, 4, 2, 1, 1, 1};
    for (UINT level = 0; level < 9; ++level) {
        D3DSURFACE_DESC desc;
        ASSERT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, widths[level]);
        EXPECT_EQ(desc.Height, heights[level]);
        EXPECT_EQ(desc.Format, D3DFMT_DXT3);
    }
    texture->Release();
}

TEST_F(TextureTest, RefusesImpossibleRequestsWithoutLeaking) {
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(0x1);
    EXPECT_EQ(IDirect3DTexture9::create(0, 4, 1, 0, D3DFMT_DXT1, 1, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(IDirect3DTexture9::create(32768, 4, 1, 0, D3DFMT_DXT1, 1, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(IDirect3DTexture9::create(4, 4, 4, 0, D3DFMT_DXT1, 1, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(IDirect3DTexture9::create(4, 4, 1, 0, D3DFMT_P8, 1, &texture), D3DERR_INVALIDCALL);
}

TEST_F(TextureTest, SurfacesKeepTheirTextureAlive) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(IDirect3DTexture9::create(8, 8, 0, 0, D3DFMT_A8R8G8B8, 1, &texture), D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    IDirect3DSurface9* missing = nullptr;
    EXPECT_EQ(texture->GetSurfaceLevel(4, &missing), D3DERR_INVALIDCALL);
    EXPECT_EQ(missing, nullptr);
    ASSERT_EQ(texture->GetSurfaceLevel(2, &surface), D3D_OK);
    texture->Release();
    D3DSURFACE_DESC desc;
    ASSERT_EQ(surface->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 2u);
    surface->Release();
}

TEST_F(TextureTest, InjectedFaultsFailTheChosenCallOnly) {
    IDirect3D9* direct3D = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(direct3D, nullptr);
    D3DPRESENT_PARAMETERS parameters{};
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(direct3D->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device), D3D_OK);

    TestSeams::injectFault(Operation::D3DXCreateTexture, D3DERR_OUTOFVIDEOMEMORY, 1);
    IDirect3DTexture9* first = nullptr;
    IDirect3DTexture9* second = nullptr;
    EXPECT_EQ(D3DXCreateTexture(device, 4, 4, 1, 0, D3DFMT_DXT1, 1, &first), D3D_OK);
    EXPECT_EQ(D3DXCreateTexture(device, 4, 4, 1, 0, D3DFMT_DXT1, 1, &second), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(D3DXCreateTexture(device, 4, 4, 1, 0, D3DFMT_DXT1, 1, &second), D3D_OK);

    first->Release();
    second->Release();
    device->Release();
    direct3D->Release();
}

}  // namespace
