// Every public call of the archive and of the image service that takes a size, a count, an index or a
// level, given 0, negative values (and their unsigned wrap) and the largest values its type holds: each
// ends normally with its documented failure (or, where no pixel is concerned, nothing to do), touches
// nothing it was not asked to, and leaves no object alive. Run under the sanitizers, a fault such as
// a division by zero or a read past a level ends the test.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "ImageService/D3DX/D3DX.h"
#include "TXD/TXDArchive.h"
#include "support/LogCapture.h"
#include "support/Records.h"
#include "support/TempFolder.h"
#include "support/Textures.h"

namespace {

using namespace ImageService;

constexpr UINT kHuge = UINT_MAX;
constexpr std::int32_t kMost = INT32_MAX;
constexpr std::int32_t kLeast = INT32_MIN;

class ExtremeSizes : public LeakCheckedDeviceTest {
protected:
    void SetUp() override {
        archive.appendTexture(dxtRecord("only", 8, 8, 1));
        alpha = makeTexture(8, 8, D3DFMT_A8R8G8B8).release();
        texture = makeTexture(8, 8, D3DFMT_A8R8G8B8, 0).release();
    }
    void TearDown() override {
        alpha->Release();
        texture->Release();
        archive.textures.front().texture->Release();
        archive.textures.clear();
        LeakCheckedDeviceTest::TearDown();
    }
    IDirect3DSurface9* surface(UINT level = 0) {
        IDirect3DSurface9* made = nullptr;
        EXPECT_EQ(texture->GetSurfaceLevel(level, &made), D3D_OK);
        return made;
    }
    TXD::TXDArchive archive;
    IDirect3DTexture9* alpha = nullptr;
    IDirect3DTexture9* texture = nullptr;  // 8x8, full chain of 4 levels
    TempFolder folder;
};

TEST_F(ExtremeSizes, EveryPublicCallEndsNormallyWithItsDocumentedResult) {
    IDirect3DDevice9* device = d.device;
    const std::vector<std::uint8_t> before = bytesOf(archive.getTexture(0).texture);
    struct Case {
        std::string what;
        std::function<void()> check;
    };
    auto merge = [&](std::int32_t width, std::int32_t height) {
        return archive.addAlphaChannelFromTexture(device, archive.getTexture(0), alpha, width, height);
    };
    auto create = [](UINT width, UINT height, UINT levels) {
        IDirect3DTexture9* made = nullptr;
        const HRESULT result =
            IDirect3DTexture9::create(width, height, levels, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &made);
        EXPECT_EQ(made, nullptr);
        return result;
    };
    auto band = [&](RECT rect) {
        IDirect3DSurface9* to = surface();
        IDirect3DSurface9* from = nullptr;
        alpha->GetSurfaceLevel(0, &from);
        const HRESULT result =
            D3DXLoadSurfaceFromSurface(to, nullptr, &rect, from, nullptr, &rect, D3DX_FILTER_NONE, 0);
        to->Release();
        from->Release();
        return result;
    };
    const Case cases[] = {
        // The archive.
        {"alpha merge of width 0", [&] { EXPECT_TRUE(merge(0, 8)); }},
        {"alpha merge of negative width", [&] { EXPECT_TRUE(merge(-5, 8)); }},
        {"alpha merge of the least width", [&] { EXPECT_TRUE(merge(kLeast, kLeast)); }},
        {"alpha merge of height 0", [&] { EXPECT_TRUE(merge(8, 0)); }},
        {"alpha merge of negative height", [&] { EXPECT_TRUE(merge(8, -1)); }},
        {"alpha merge wider than the textures", [&] { EXPECT_FALSE(merge(kMost, 8)); }},
        {"alpha merge taller than the textures", [&] { EXPECT_FALSE(merge(8, kMost)); }},
        {"alpha merge one pixel wider", [&] { EXPECT_FALSE(merge(9, 8)); }},
        {"alpha merge without an alpha texture",
         [&] {
             IDirect3DTexture9* none = nullptr;
             std::int32_t side = 8;
             EXPECT_FALSE(
                 archive.addAlphaChannelFromTexture(device, archive.getTexture(0), none, side, side));
         }},
        {"alpha from a file for index -1",
         [&] { EXPECT_FALSE(archive.addAlphaChannelFromFile(-1, device, "x")); }},
        {"alpha from a file for the last index",
         [&] { EXPECT_FALSE(archive.addAlphaChannelFromFile(kMost, device, "x")); }},
        {"mip chain for index -1", [&] { EXPECT_FALSE(archive.generateMipMaps(-1, device)); }},
        {"mip chain for the largest index", [&] { EXPECT_FALSE(archive.generateMipMaps(kMost, device)); }},
        {"palette for index -1",
         [&] {
             std::uint32_t palette[256] = {};
             std::uint8_t indices[64] = {};
             archive.generatePalette(palette, -1, indices);
             archive.generatePalette(palette, kMost, indices);
             EXPECT_EQ(palette[0], 0u);
         }},
        {"record past the last", [&] { EXPECT_THROW(archive.getTexture(kHuge), std::out_of_range); }},
        {"replace and remove at -1 and the largest index",
         [&] {
             EXPECT_FALSE(archive.replaceTexture(-1, TXD::TextureRecord{}));
             EXPECT_FALSE(archive.replaceTexture(kMost, TXD::TextureRecord{}));
             EXPECT_FALSE(archive.removeTexture(kLeast));
             EXPECT_FALSE(archive.removeTexture(1));
         }},
        {"save at negative positions",
         [&] {
             EXPECT_FALSE(archive.saveFile(folder / "a.txd", -1));
             EXPECT_FALSE(archive.saveFile(folder / "a.txd", kLeast));
         }},
        {"load at negative and past-the-end positions",
         [&] {
             EXPECT_FALSE(archive.loadFile(folder / "missing.txd", -1));
             EXPECT_FALSE(archive.loadFile(folder / "missing.txd", kLeast));
             EXPECT_FALSE(archive.loadFile(folder / "missing.txd", kMost));
         }},
        {"mip levels of empty, negative and largest sides",
         [&] {
             EXPECT_EQ(TXD::calculateMipLevels(0, 0), 0);
             EXPECT_EQ(TXD::calculateMipLevels(-1, INT16_MIN), 0);
             EXPECT_EQ(TXD::calculateMipLevels(INT16_MAX, 1), 15);
         }},
        // The image service.
        {"textures of side 0, past the limit, of the largest side and of too many levels",
         [&] {
             for (const auto& [width, height, levels] : {std::tuple{0u, 8u, 1u},
                                                         {8u, 0u, 1u},
                                                         {kHuge, 8u, 1u},
                                                         {8u, kHuge, 1u},
                                                         {kMaxTextureSide + 1, 4u, 1u},
                                                         {8u, 8u, 5u},
                                                         {8u, 8u, kHuge}})
                 EXPECT_EQ(create(width, height, levels), D3DERR_INVALIDCALL) << width << "x" << height;
             IDirect3DTexture9* made = nullptr;
             EXPECT_EQ(D3DXCreateTexture(device, kHuge, kHuge, kHuge, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &made),
                       D3DERR_INVALIDCALL);
             EXPECT_EQ(device->CreateTexture(0, 0, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &made, nullptr),
                       D3DERR_INVALIDCALL);
             EXPECT_EQ(made, nullptr);
         }},
        {"levels the texture does not have",
         [&] {
             D3DSURFACE_DESC desc{};
             IDirect3DSurface9* none = nullptr;
             D3DLOCKED_RECT locked{};
             for (const UINT level : {4u, kHuge}) {
                 EXPECT_EQ(texture->GetLevelDesc(level, &desc), D3DERR_INVALIDCALL);
                 EXPECT_EQ(texture->GetSurfaceLevel(level, &none), D3DERR_INVALIDCALL);
                 EXPECT_EQ(texture->LockRect(level, &locked, nullptr, 0), D3DERR_INVALIDCALL);
                 EXPECT_EQ(texture->UnlockRect(level), D3DERR_INVALIDCALL);
                 EXPECT_EQ(std::make_tuple(texture->width(level), texture->height(level),
                                           texture->levelSize(level), texture->isLocked(level)),
                           std::make_tuple(0u, 0u, std::size_t{0}, false));
                 EXPECT_EQ(texture->levelBytes(level), nullptr);
                 EXPECT_FALSE(texture->adoptLevel(level, PixelBuffer::allocate(4)));
                 texture->keepExactPixels(level, alpha, kHuge);
                 UINT source = 0;
                 EXPECT_EQ(texture->exactPixels(level, &source), nullptr);
                 texture->markWritten(level);
                 texture->exactPixelsRewritten(level);
                 texture->keepBlocksAhead(level, D3DFMT_DXT1, PixelBuffer::allocate(8));
                 EXPECT_TRUE(texture->takeBlocksAhead(level, D3DFMT_DXT1).empty());
             }
         }},
        {"mip filtering from a level past the chain",
         [&] {
             EXPECT_EQ(D3DXFilterTexture(texture, nullptr, 4, D3DX_DEFAULT), D3DERR_INVALIDCALL);
             EXPECT_EQ(D3DXFilterTexture(texture, nullptr, kHuge, D3DX_DEFAULT), D3DERR_INVALIDCALL);
             EXPECT_EQ(D3DXFilterTexture(texture, nullptr, 3, D3DX_DEFAULT),
                       D3D_OK);  // the last: nothing below
         }},
        {"conversion of empty, inverted, negative and oversized bands",
         [&] {
             for (const RECT& rect : {RECT{0, 0, 8, 0}, RECT{0, 4, 8, 2}, RECT{0, -4, 8, 4},
                                      RECT{-1, 0, 7, 4}, RECT{0, 0, INT_MAX, 4}, RECT{0, 0, 8, INT_MAX},
                                      RECT{0, INT_MIN, 8, INT_MAX}, RECT{INT_MIN, INT_MIN, INT_MIN, INT_MIN}})
                 EXPECT_EQ(band(rect), D3DERR_INVALIDCALL) << rect.top << " " << rect.bottom;
         }},
        {"vertex buffers of 0 bytes, too many bytes, and locks past their end",
         [&] {
             IDirect3DVertexBuffer9* buffer = nullptr;
             EXPECT_EQ(device->CreateVertexBuffer(0, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr),
                       D3DERR_INVALIDCALL);
             EXPECT_EQ(device->CreateVertexBuffer(kHuge, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr),
                       D3DERR_OUTOFVIDEOMEMORY);
             ASSERT_EQ(device->CreateVertexBuffer(16, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
             void* data = nullptr;
             for (const auto& [offset, size] :
                  {std::pair{17u, 0u}, {0u, 17u}, {kHuge, 1u}, {1u, kHuge}, {kHuge, kHuge}})
                 EXPECT_EQ(buffer->Lock(offset, size, &data, 0), D3DERR_INVALIDCALL) << offset << " " << size;
             EXPECT_EQ(buffer->Lock(16, 0, &data, 0), D3D_OK);
             EXPECT_EQ(buffer->Unlock(), D3D_OK);
             buffer->Release();
         }},
        {"fonts of negative and largest sizes, adapters that do not exist, a projection into nothing",
         [&] {
             ID3DXFont* font = nullptr;
             ASSERT_EQ(D3DXCreateFontW(device, INT_MIN, kHuge, kHuge, kHuge, 0, 0, 0, 0, 0, nullptr, &font),
                       D3D_OK);
             font->Release();
             D3DDISPLAYMODE mode{};
             EXPECT_EQ(d.direct3D->GetAdapterDisplayMode(kHuge, &mode), D3DERR_INVALIDCALL);
             EXPECT_EQ(D3DXMatrixPerspectiveFovRH(nullptr, 1.0f, 0.0f, 1.0f, 1.0f), nullptr);
             D3DMATRIX matrix{};
             EXPECT_EQ(D3DXMatrixPerspectiveFovRH(&matrix, 0.0f, 0.0f, 0.0f, 0.0f), &matrix);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        c.check();
        // No call changed the record's pixels or its place in the archive.
        ASSERT_EQ(archive.getTextureCount(), 1u);
        EXPECT_EQ(bytesOf(archive.getTexture(0).texture), before);
    }
}

}  // namespace
