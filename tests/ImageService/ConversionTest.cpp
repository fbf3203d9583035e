// Whole-surface conversion: exact bytes for every pair of uncompressed formats, block formats in and
// out, the untouched copy of same-format levels, and each refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "ImageService/D3DX.h"
#include "ImageService/PixelFormats.h"
#include "ImageService/TestSeams.h"

namespace ImageService {
namespace {

struct Releaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using Ref = std::unique_ptr<T, Releaser>;

Ref<IDirect3DTexture9> makeTexture(UINT width, UINT height, D3DFORMAT format) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(IDirect3DTexture9::create(width, height, 1, 0, format, D3DPOOL_MANAGED, &texture), D3D_OK);
    return Ref<IDirect3DTexture9>(texture);
}

Ref<IDirect3DSurface9> level0(IDirect3DTexture9* texture) {
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
    return Ref<IDirect3DSurface9>(surface);
}

HRESULT convert(IDirect3DTexture9* to, IDirect3DTexture9* from, DWORD filter = D3DX_FILTER_NONE,
                DWORD colorKey = 0) {
    auto destination = level0(to);
    auto source = level0(from);
    return D3DXLoadSurfaceFromSurface(destination.get(), nullptr, nullptr, source.get(), nullptr, nullptr,
                                      filter, colorKey);
}

std::vector<std::uint8_t> bytesOf(IDirect3DTexture9* texture) {
    return {texture->levelBytes(0), texture->levelBytes(0) + texture->levelSize(0)};
}

// The byte order each format stores, written out independently of the code under test. X8R8G8B8's
// unused byte reads back as 255 and is given `filler` when the test writes a source itself.
std::vector<std::uint8_t> pixelBytes(D3DFORMAT format, const std::uint8_t* rgba, std::uint8_t filler = 255) {
    const std::uint8_t r = rgba[0], g = rgba[1], b = rgba[2], a = rgba[3];
    switch (format) {
        case D3DFMT_R8G8B8:
            return {b, g, r};
        case D3DFMT_A8R8G8B8:
            return {b, g, r, a};
        case D3DFMT_X8R8G8B8:
            return {b, g, r, filler};
        default:
            return {r, g, b, a};
    }
}

constexpr D3DFORMAT kPixelFormats[] = {D3DFMT_R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A8B8G8R8};

class ConversionTest : public ::testing::Test {
protected:
    void TearDown() override { TestSeams::clearFaults(); }
};

TEST_F(ConversionTest, EveryUncompressedPairMovesTheBytesItShould) {
    constexpr UINT kWidth = 3, kHeight = 2;
    std::uint8_t pattern[kWidth * kHeight][4];
    for (int i = 0; i < 6; ++i) {
        for (int c = 0; c < 4; ++c)
            pattern[i][c] = static_cast<std::uint8_t>(i * 41 + c * 7 + 3);
    }
    for (D3DFORMAT from : kPixelFormats) {
        auto source = makeTexture(kWidth, kHeight, from);
        std::vector<std::uint8_t> written;
        for (const auto& pixel : pattern) {
            auto bytes = pixelBytes(from, pixel, 0x77);
            written.insert(written.end(), bytes.begin(), bytes.end());
        }
        std::memcpy(source->levelBytes(0), written.data(), written.size());
        const bool sourceHasAlpha = from == D3DFMT_A8R8G8B8 || from == D3DFMT_A8B8G8R8;
        for (D3DFORMAT to : kPixelFormats) {
            auto destination = makeTexture(kWidth, kHeight, to);
            ASSERT_EQ(convert(destination.get(), source.get()), D3D_OK);
            std::vector<std::uint8_t> expected;
            for (const auto& pixel : pattern) {
                const std::uint8_t read[4] = {pixel[0], pixel[1], pixel[2],
                                              sourceHasAlpha ? pixel[3] : std::uint8_t(255)};
                auto bytes = pixelBytes(to, read);
                expected.insert(expected.end(), bytes.begin(), bytes.end());
            }
            // The same format is copied as it is, unused byte included.
            if (from == to)
                expected = written;
            EXPECT_EQ(bytesOf(destination.get()), expected) << "from " << from << " to " << to;
        }
    }
}

TEST_F(ConversionTest, BlockFormatsCompressAndDecodeAtAnySize) {
    // A colour that 5-6-5 holds (R 0x84, G 0x28, B 0xF7) at alpha 255 comes back exactly.
    for (D3DFORMAT block : {D3DFMT_DXT1, D3DFMT_DXT3, D3DFMT_DXT5}) {
        for (UINT side : {1u, 2u, 5u}) {
            auto source = makeTexture(side, side, D3DFMT_A8R8G8B8);
            auto compressed = makeTexture(side, side, block);
            auto back = makeTexture(side, side, D3DFMT_A8B8G8R8);
            std::vector<std::uint8_t> expected;
            for (UINT i = 0; i < side * side; ++i) {
                std::memcpy(source->levelBytes(0) + 4 * i, "\xF7\x28\x84\xFF", 4);
                expected.insert(expected.end(), {0x84, 0x28, 0xF7, 0xFF});
            }
            ASSERT_EQ(convert(compressed.get(), source.get()), D3D_OK);
            ASSERT_EQ(convert(back.get(), compressed.get()), D3D_OK);
            EXPECT_EQ(bytesOf(back.get()), expected) << block << " " << side << "x" << side;
        }
    }
}

TEST_F(ConversionTest, SameFormatCopiesBlocksUntouched) {
    // Arbitrary bytes are no encoder's output, so only a plain copy can reproduce them.
    auto source = makeTexture(8, 8, D3DFMT_DXT1);
    for (std::size_t i = 0; i < source->levelSize(0); ++i)
        source->levelBytes(0)[i] = static_cast<std::uint8_t>(i * 37 + 11);
    auto destination = makeTexture(8, 8, D3DFMT_DXT1);
    ASSERT_EQ(convert(destination.get(), source.get(), D3DX_DEFAULT), D3D_OK);
    EXPECT_EQ(bytesOf(destination.get()), bytesOf(source.get()));
    ASSERT_EQ(convert(source.get(), source.get()), D3D_OK);
    EXPECT_EQ(bytesOf(source.get()), bytesOf(destination.get()));
}

TEST_F(ConversionTest, ColorKeyBecomesTransparentBlackEvenInPlace) {
    auto texture = makeTexture(2, 1, D3DFMT_A8R8G8B8);
    const std::uint8_t bytes[] = {0x30, 0x20, 0x10, 0xFF, 0x31, 0x20, 0x10, 0xFF};  // B, G, R, A
    std::memcpy(texture->levelBytes(0), bytes, sizeof bytes);
    ASSERT_EQ(convert(texture.get(), texture.get(), D3DX_FILTER_NONE, 0xFF102030), D3D_OK);
    EXPECT_EQ(bytesOf(texture.get()), std::vector<std::uint8_t>({0, 0, 0, 0, 0x31, 0x20, 0x10, 0xFF}));
}

TEST_F(ConversionTest, RefusesWhatItCannotDo) {
    auto source = makeTexture(4, 4, D3DFMT_A8R8G8B8);
    auto destination = makeTexture(4, 4, D3DFMT_DXT1);
    auto wider = makeTexture(8, 4, D3DFMT_DXT1);
    auto to = level0(destination.get());
    auto from = level0(source.get());
    const RECT rect{0, 0, 4, 4};
    const std::uint8_t palette[1024] = {};
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(nullptr, nullptr, nullptr, from.get(), nullptr, nullptr, 1, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(to.get(), nullptr, nullptr, nullptr, nullptr, nullptr, 1, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(to.get(), palette, nullptr, from.get(), nullptr, nullptr, 1, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(to.get(), nullptr, nullptr, from.get(), palette, nullptr, 1, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(to.get(), nullptr, &rect, from.get(), nullptr, nullptr, 1, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(to.get(), nullptr, nullptr, from.get(), nullptr, &rect, 1, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(convert(wider.get(), source.get(), D3DX_FILTER_NONE), D3DERR_INVALIDCALL);
    EXPECT_EQ(convert(wider.get(), source.get(), D3DX_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(bytesOf(destination.get()), std::vector<std::uint8_t>(8, 0));
}

TEST_F(ConversionTest, RefusesALockedLevel) {
    auto source = makeTexture(4, 4, D3DFMT_A8R8G8B8);
    auto destination = makeTexture(4, 4, D3DFMT_DXT1);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(source->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(convert(destination.get(), source.get()), D3DERR_INVALIDCALL);
    source->UnlockRect(0);
    ASSERT_EQ(destination->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(convert(destination.get(), source.get()), D3DERR_INVALIDCALL);
    destination->UnlockRect(0);
}

TEST_F(ConversionTest, InjectedFaultReturnsItsCodeAndLeavesNothingBehind) {
    auto source = makeTexture(4, 4, D3DFMT_A8R8G8B8);
    std::memset(source->levelBytes(0), 0x80, source->levelSize(0));
    auto destination = makeTexture(4, 4, D3DFMT_DXT3);
    auto to = level0(destination.get());
    auto from = level0(source.get());
    const std::size_t live = TestSeams::liveObjectCount();
    TestSeams::injectFault(Operation::LoadSurfaceFromSurface, E_OUTOFMEMORY);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(to.get(), nullptr, nullptr, from.get(), nullptr, nullptr, 1, 0),
              E_OUTOFMEMORY);
    EXPECT_EQ(TestSeams::liveObjectCount(), live);
    EXPECT_EQ(bytesOf(destination.get()), std::vector<std::uint8_t>(16, 0));
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(to.get(), nullptr, nullptr, from.get(), nullptr, nullptr, 1, 0),
              D3D_OK);
}

}  // namespace
}  // namespace ImageService
