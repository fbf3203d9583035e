// Palette generation: exact colours in order of first appearance, untouched spare entries, and the
// nearest-entry fallback once 256 colours are taken.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "TXD/TXDArchive.h"
#include "support/LogCapture.h"
#include "support/Textures.h"

namespace {

using Indices = std::vector<std::uint8_t>;
constexpr std::uint32_t kUnwritten = 0xDEADBEEF;

class PaletteTest : public testing::Test {
protected:

    // Adds a depth 8 record whose level 0 holds `colours` (as 0xAARRGGBB values) row by row, and
    // generates its palette.
    void generate(int width, int height, const std::vector<std::uint32_t>& colours,
                  ImageService::D3DFORMAT format = ImageService::D3DFMT_A8R8G8B8) {
        TXD::TextureRecord record;
        record.texture = makeTexture(unsigned(width), unsigned(height), format).release();
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
        indices.assign(std::size_t(width * height), 0xEE);
        archive.generatePalette(palette.data(), std::int32_t(archive.getTextureCount() - 1), indices.data());
    }

    TXD::TXDArchive archive;
    std::array<std::uint32_t, 256> palette{};
    Indices indices;
};

TEST_F(PaletteTest, OneColourAndOneByOne) {
    generate(3, 2, std::vector<std::uint32_t>(6, 0x80112233));
    EXPECT_EQ(palette[0], 0x80112233u);
    EXPECT_EQ(palette[1], kUnwritten);
    EXPECT_EQ(indices, Indices(6, 0));
    generate(1, 1, {0x01020304});
    EXPECT_EQ(palette[0], 0x01020304u);
    EXPECT_EQ(palette[1], kUnwritten);
    EXPECT_EQ(indices, Indices{0});
}

TEST_F(PaletteTest, OrderOfFirstAppearanceAndAlphaCounts) {
    const std::uint32_t a = 0xFF0000FF, b = 0xFF00FF00, c = 0xFFFF0000;
    generate(4, 2, {a, b, a, c, 0x00FF0000, c, 0xFFFF0000, a});
    // The fourth entry differs from c only in alpha.
    EXPECT_EQ(std::vector<std::uint32_t>(palette.begin(), palette.begin() + 5),
              (std::vector<std::uint32_t>{a, b, c, 0x00FF0000u, kUnwritten}));
    EXPECT_EQ(indices, (Indices{0, 1, 0, 2, 3, 2, 2, 0}));
}

TEST_F(PaletteTest, ExactlyTwoHundredFiftySixColours) {
    std::vector<std::uint32_t> colours;
    for (std::uint32_t k = 0; k < 256; ++k)
        colours.push_back(0xFF000000 | (k << 8));
    colours.push_back(colours[255]);
    colours.resize(16 * 17, colours[0]);
    LogCapture log;
    generate(16, 17, colours);
    for (std::size_t k = 0; k < 256; ++k) {
        ASSERT_EQ(palette[k], colours[k]) << k;
        ASSERT_EQ(indices[k], k) << k;
    }
    EXPECT_EQ(indices[256], 255);
    EXPECT_EQ(indices.back(), 0);
    EXPECT_TRUE(log.info().empty());
}

TEST_F(PaletteTest, ColoursBeyondTheFirst256TakeTheNearestEntryWithOneWarning) {
    // Entries 0..127 have red 0, 2, ... 254; entries 128..255 have blue 1, 3, ... 255.
    std::vector<std::uint32_t> colours;
    for (std::uint32_t k = 0; k < 256; ++k)
        colours.push_back(k < 128 ? 0xFF000000 | ((2 * k) << 16) : 0xFF000000 | (2 * (k - 128) + 1));
    const std::uint32_t between = 0xFF030000;  // red 3: as near to red 2 as to red 4
    // Red 100 with green 5; then blue 3 with no alpha, far from every entry.
    colours.insert(colours.end(), {between, 0xFF640500, between, 0x00000003});
    colours.resize(16 * 17, between);
    LogCapture log;
    generate(16, 17, colours);
    for (std::size_t k = 0; k < 256; ++k)
        ASSERT_EQ(palette[k], colours[k]) << k;
    // A tie goes to the lower entry; blue 3 goes to the smallest alpha distance, like all others.
    EXPECT_EQ(Indices(indices.begin() + 256, indices.begin() + 260), (Indices{1, 50, 1, 129}));
    EXPECT_EQ(indices.back(), 1);
    EXPECT_EQ(log.info(), std::vector<std::string>{
                              "TXD::TXDArchive::generatePalette(642) - Palette generation went above 256"});
}

}  // namespace
