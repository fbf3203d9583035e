// Palette generation: exact colours in order of first appearance, untouched spare entries, and the
// nearest-entry fallback once 256 colours are taken.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "ImageService/TestSeams.h"
#include "ImageService/Texture.h"
#include "TXD/TXDArchive.h"
#include "support/LogCapture.h"

namespace {

constexpr std::uint32_t kUnwritten = 0xDEADBEEF;
const std::string kAbove256 = "TXD::TXDArchive::generatePalette(642) - Palette generation went above 256";

class PaletteTest : public testing::Test {
protected:
    void TearDown() override { ImageService::TestSeams::clearFaults(); }

    // Builds a depth 8 record whose level 0 holds `colours` (as 0xAARRGGBB values) row by row.
    void image(int width, int height, const std::vector<std::uint32_t>& colours,
               ImageService::D3DFORMAT format = ImageService::D3DFMT_A8R8G8B8) {
        TXD::TextureRecord record;
        ASSERT_EQ(ImageService::IDirect3DTexture9::create(static_cast<unsigned>(width),
                                                          static_cast<unsigned>(height), 1, 0, format,
                                                          ImageService::D3DPOOL_MANAGED, &record.texture),
                  ImageService::D3D_OK);
        std::uint8_t* bytes = record.texture->levelBytes(0);
        for (std::size_t p = 0; p < colours.size() && (p + 1) * 4 <= record.texture->levelSize(0); ++p) {
            for (int b = 0; b < 4; ++b)
                bytes[p * 4 + b] = static_cast<std::uint8_t>(colours[p] >> (8 * b));
        }
        record.depth = 8;
        record.compression = 0;
        record.rasterFormat = 0x2500;
        record.width = static_cast<std::int16_t>(width);
        record.height = static_cast<std::int16_t>(height);
        archive.appendTexture(record);
        palette.fill(kUnwritten);
        indices.assign(static_cast<std::size_t>(width * height), 0xEE);
    }

    void generate() { archive.generatePalette(palette.data(), index, indices.data()); }

    TXD::TXDArchive archive;
    std::array<std::uint32_t, 256> palette{};
    std::vector<std::uint8_t> indices;
    const std::int32_t index = 0;
};

TEST_F(PaletteTest, SingleColour) {
    image(3, 2, std::vector<std::uint32_t>(6, 0x80112233));
    generate();
    EXPECT_EQ(palette[0], 0x80112233u);
    EXPECT_EQ(palette[1], kUnwritten);
    EXPECT_EQ(indices, std::vector<std::uint8_t>(6, 0));

    image(1, 1, {0x01020304});
    archive.generatePalette(palette.data(), 1, indices.data());
    EXPECT_EQ(palette[0], 0x01020304u);
    EXPECT_EQ(palette[1], kUnwritten);
    EXPECT_EQ(indices, std::vector<std::uint8_t>{0});
}

TEST_F(PaletteTest, OrderOfFirstAppearanceAndAlphaCounts) {
    const std::uint32_t a = 0xFF0000FF, b = 0xFF00FF00, c = 0xFFFF0000;
    image(4, 2, {a, b, a, c, 0x00FF0000, c, 0xFFFF0000, a});
    generate();
    EXPECT_EQ(palette[0], a);
    EXPECT_EQ(palette[1], b);
    EXPECT_EQ(palette[2], c);
    EXPECT_EQ(palette[3], 0x00FF0000u);  // differs from c only in alpha
    EXPECT_EQ(palette[4], kUnwritten);
    EXPECT_EQ(indices, (std::vector<std::uint8_t>{0, 1, 0, 2, 3, 2, 2, 0}));
}

TEST_F(PaletteTest, ExactlyTwoHundredFiftySixColours) {
    std::vector<std::uint32_t> colours;
    for (std::uint32_t k = 0; k < 256; ++k)
        colours.push_back(0xFF000000 | (k << 8));
    const std::uint32_t first = colours[0], last = colours[255];
    colours.push_back(last);
    colours.resize(16 * 17, first);
    image(16, 17, colours);
    LogCapture log;
    generate();
    for (std::size_t k = 0; k < 256; ++k) {
        ASSERT_EQ(palette[k], colours[k]) << k;
        ASSERT_EQ(indices[k], k) << k;
    }
    EXPECT_EQ(indices[256], 255);
    EXPECT_EQ(indices.back(), 0);
    EXPECT_TRUE(log.info().empty());
}

TEST_F(PaletteTest, ColoursBeyondTheFirst256TakeTheNearestEntry) {
    // Entries 0..127 have red 0, 2, ... 254; entries 128..255 have blue 1, 3, ... 255.
    std::vector<std::uint32_t> colours;
    for (std::uint32_t k = 0; k < 128; ++k)
        colours.push_back(0xFF000000 | ((2 * k) << 16));
    for (std::uint32_t k = 0; k < 128; ++k)
        colours.push_back(0xFF000000 | (2 * k + 1));
    const std::uint32_t between = 0xFF030000;     // red 3: as near to red 2 as to red 4
    const std::uint32_t nearRed100 = 0xFF640500;  // red 100, green 5
    const std::uint32_t faintBlue = 0x00000003;   // blue 3 with no alpha: far from every entry
    colours.insert(colours.end(), {between, nearRed100, between, faintBlue});
    colours.resize(16 * 17, between);
    image(16, 17, colours);
    LogCapture log;
    generate();

    for (std::size_t k = 0; k < 256; ++k)
        ASSERT_EQ(palette[k], colours[k]) << k;
    EXPECT_EQ(indices[256], 1);   // tie between entries 1 and 2 goes to the lower
    EXPECT_EQ(indices[257], 50);  // red 100
    EXPECT_EQ(indices[258], 1);
    EXPECT_EQ(indices[259], 129);  // blue 3 at the smallest alpha distance, like all others
    EXPECT_EQ(indices.back(), 1);
    ASSERT_EQ(log.info().size(), 1u);
    EXPECT_EQ(log.info()[0], kAbove256);
}

TEST_F(PaletteTest, UnreadableLevelGivesZeroIndicesAndAnError) {
    // Three bytes a pixel: reading four would run past the level.
    image(4, 4, {}, ImageService::D3DFMT_R8G8B8);
    LogCapture log;
    generate();
    EXPECT_EQ(indices, std::vector<std::uint8_t>(16, 0));
    EXPECT_EQ(palette[0], kUnwritten);
    EXPECT_EQ(log.errors().size(), 1u);

    image(2, 2, {1, 2, 3, 4});
    ImageService::TestSeams::injectFault(ImageService::Operation::LockRect, ImageService::E_FAIL);
    archive.generatePalette(palette.data(), 1, indices.data());
    EXPECT_EQ(indices, std::vector<std::uint8_t>(4, 0));
    EXPECT_EQ(log.errors().size(), 2u);
    archive.generatePalette(palette.data(), 1, indices.data());  // and the level was not left locked
    EXPECT_EQ(indices, (std::vector<std::uint8_t>{0, 1, 2, 3}));
}

}  // namespace
