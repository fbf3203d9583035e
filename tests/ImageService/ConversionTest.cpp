// Whole-surface conversion: exact bytes for every pair of uncompressed formats, block formats in and
// out, the untouched copy of same-format levels, and each refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageService/D3DX/PixelFormats.h"
#include "support/TempFolder.h"
#include "support/Textures.h"

namespace ImageService {
namespace {

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

class ConversionTest : public LeakCheckedTest {};

TEST_F(ConversionTest, EveryUncompressedPairMovesTheBytesItShould) {
    constexpr D3DFORMAT kFormats[] = {D3DFMT_R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A8B8G8R8};
    std::uint8_t pattern[6][4];
    for (int i = 0; i < 24; ++i)
        pattern[i / 4][i % 4] = static_cast<std::uint8_t>((i / 4) * 41 + (i % 4) * 7 + 3);
    for (D3DFORMAT from : kFormats) {
        TextureRef source = makeTexture(3, 2, from);
        std::vector<std::uint8_t> written;
        for (const auto& pixel : pattern) {
            auto bytes = pixelBytes(from, pixel, 0x77);
            written.insert(written.end(), bytes.begin(), bytes.end());
        }
        std::memcpy(source->levelBytes(0), written.data(), written.size());
        const bool sourceHasAlpha = from == D3DFMT_A8R8G8B8 || from == D3DFMT_A8B8G8R8;
        for (D3DFORMAT to : kFormats) {
            TextureRef destination = makeTexture(3, 2, to);
            ASSERT_EQ(convert(destination.get(), source.get()), D3D_OK);
            std::vector<std::uint8_t> expected;
            for (const auto& pixel : pattern) {
                const std::uint8_t read[4] = {pixel[0], pixel[1], pixel[2],
                                              sourceHasAlpha ? pixel[3] : std::uint8_t(255)};
                auto bytes = pixelBytes(to, read);
                expected.insert(expected.end(), bytes.begin(), bytes.end());
            }
            // The same format is copied as it is, unused byte included.
            EXPECT_EQ(bytesOf(destination.get()), from == to ? written : expected) << from << " to " << to;
        }
    }
}

TEST_F(ConversionTest, BlockFormatsCompressAndDecodeAtAnySize) {
    // A colour that 5-6-5 holds (R 0x84, G 0x28, B 0xF7) at alpha 255 comes back exactly.
    for (D3DFORMAT block : {D3DFMT_DXT1, D3DFMT_DXT3, D3DFMT_DXT5}) {
        for (UINT side : {1u, 2u, 5u}) {
            TextureRef source = makeTexture(side, side, D3DFMT_A8R8G8B8),
                       compressed = makeTexture(side, side, block);
            TextureRef back = makeTexture(side, side, D3DFMT_A8B8G8R8);
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
    TextureRef source = makeTexture(8, 8, D3DFMT_DXT1), destination = makeTexture(8, 8, D3DFMT_DXT1);
    for (std::size_t i = 0; i < source->levelSize(0); ++i)
        source->levelBytes(0)[i] = static_cast<std::uint8_t>(i * 37 + 11);
    ASSERT_EQ(convert(destination.get(), source.get(), D3DX_DEFAULT), D3D_OK);
    EXPECT_EQ(bytesOf(destination.get()), bytesOf(source.get()));
    ASSERT_EQ(convert(source.get(), source.get()), D3D_OK);
    EXPECT_EQ(bytesOf(source.get()), bytesOf(destination.get()));
}

TEST_F(ConversionTest, RefusesWhatItCannotDoAndLeavesTheDestination) {
    TextureRef source = makeTexture(4, 4, D3DFMT_A8R8G8B8), destination = makeTexture(4, 4, D3DFMT_DXT1);
    TextureRef wider = makeTexture(8, 4, D3DFMT_DXT1);
    IDirect3DSurface9 *to = nullptr, *from = nullptr;
    destination->GetSurfaceLevel(0, &to);
    source->GetSurfaceLevel(0, &from);
    Ref<IDirect3DSurface9> ownTo(to), ownFrom(from);
    // Rectangles may only be whole-width bands of rows, on rows of blocks for a block level, with the
    // same number of rows on both sides.
    const RECT narrow{0, 0, 2, 4}, offBlocks{0, 1, 4, 3}, shorter{0, 0, 4, 2};
    const std::uint8_t palette[1024] = {};
    auto load = [](IDirect3DSurface9* to, const void* toPalette, const RECT* toRect, IDirect3DSurface9* from,
                   const void* fromPalette, const RECT* fromRect) {
        return D3DXLoadSurfaceFromSurface(to, toPalette, toRect, from, fromPalette, fromRect, 1, 0);
    };
    EXPECT_EQ(load(nullptr, nullptr, nullptr, from, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(load(to, nullptr, nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(load(to, palette, nullptr, from, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(load(to, nullptr, nullptr, from, palette, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(load(to, nullptr, &narrow, from, nullptr, &narrow), D3DERR_INVALIDCALL);
    EXPECT_EQ(load(to, nullptr, &offBlocks, from, nullptr, &offBlocks), D3DERR_INVALIDCALL);
    EXPECT_EQ(load(to, nullptr, nullptr, from, nullptr, &shorter), D3DERR_INVALIDCALL);
    EXPECT_EQ(convert(wider.get(), source.get(), D3DX_FILTER_NONE), D3DERR_INVALIDCALL);
    EXPECT_EQ(convert(wider.get(), source.get(), D3DX_FILTER_BOX),
              D3DERR_INVALIDCALL);  // resizing: ResampleTest
    // A locked level on either side.
    D3DLOCKED_RECT locked;
    ASSERT_EQ(source->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(convert(destination.get(), source.get()), D3DERR_INVALIDCALL);
    source->UnlockRect(0);
    ASSERT_EQ(destination->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(convert(destination.get(), source.get()), D3DERR_INVALIDCALL);
    destination->UnlockRect(0);
    // An injected fault returns its code and leaves nothing behind.
    std::memset(source->levelBytes(0), 0x80, source->levelSize(0));
    const std::size_t live = TestSeams::liveObjectCount();
    TestSeams::injectFault(Operation::LoadSurfaceFromSurface, E_OUTOFMEMORY);
    EXPECT_EQ(load(to, nullptr, nullptr, from, nullptr, nullptr), E_OUTOFMEMORY);
    EXPECT_EQ(TestSeams::liveObjectCount(), live);
    EXPECT_EQ(bytesOf(destination.get()), std::vector<std::uint8_t>(8, 0));
    EXPECT_EQ(load(to, nullptr, nullptr, from, nullptr, nullptr), D3D_OK);
}

// The PNG with its (single) image data chunk cut to half, CRC mended: it fails in the middle of
// its rows, not at the header checks.
std::string withImageDataCut(const std::string& png) {
    const std::size_t at = png.find("IDAT") - 4;
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
        length = length << 8 | static_cast<std::uint8_t>(png[at + i]);
    std::string out = png.substr(0, at + 8 + length / 2) + "crc." + png.substr(at + 12 + length);
    const std::uint32_t half = length / 2, crc = pngCrc(out, at + 4, 4 + half);
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<char>(half >> (24 - 8 * i));
        out[at + 8 + half + i] = static_cast<char>(crc >> (24 - 8 * i));
    }
    return out;
}

// A file loaded right after a block texture of its size was made is compressed while it decodes;
// the conversion then hands over those blocks, which must be exactly what converting gives, and
// only while the pixels are as decoded.
class CompressAhead : public LeakCheckedDeviceTest {};

TEST_F(CompressAhead, BlocksMadeWhileAFileDecodesAreTheConversionsUntilThePixelsChange) {
    TempFolder folder;
    const std::string path = folder / "tall.png", cut = folder / "cut.png";
    const Rgba image = Rgba::pattern(64, 1024, true);  // enough bands to be worth other cores
    writePng(path, image);
    writeFile(cut, withImageDataCut(readFile(path)));
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT3}) {
        // Made through the device, as the tool does, so that the next file load compresses ahead.
        auto blockTexture = [&] {
            IDirect3DTexture9* made = nullptr;
            EXPECT_EQ(D3DXCreateTexture(d.device, 64, 1024, 1, 0, format, D3DPOOL_MANAGED, &made), D3D_OK);
            return TextureRef(made);
        };
        for (bool written : {false, true}) {
            TextureRef blocks = blockTexture();
            IDirect3DTexture9* loaded = nullptr;
            ASSERT_EQ(D3DXCreateTextureFromFileW(d.device, widen(path).c_str(), &loaded), D3D_OK);
            TextureRef source(loaded);
            if (written) {
                D3DLOCKED_RECT locked;
                ASSERT_EQ(source->LockRect(0, &locked, nullptr, 0), D3D_OK);
                std::memset(static_cast<std::uint8_t*>(locked.pBits) + 4096, 90, 4096);
                source->UnlockRect(0);
            }
            TextureRef expected = makeTexture(64, 1024, format);
            ASSERT_TRUE(convertLevel(source->format(), source->levelBytes(0), format, expected->levelBytes(0),
                                     64, 1024, 0));
            ASSERT_EQ(convert(blocks.get(), source.get()), D3D_OK);
            EXPECT_EQ(bytesOf(blocks.get()), bytesOf(expected.get()))
                << format << (written ? " written" : "");
        }
        // A file that fails halfway stops the compression begun on its rows.
        TextureRef blocks = blockTexture();
        IDirect3DTexture9* loaded = nullptr;
        EXPECT_NE(D3DXCreateTextureFromFileW(d.device, widen(cut).c_str(), &loaded), D3D_OK);
        EXPECT_EQ(loaded, nullptr);
    }
}

}  // namespace
}  // namespace ImageService
