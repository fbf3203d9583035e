// Adding textures, merging alpha and building mip chains through the archive's own interface, with
// the failure seam proving that every failure leaves the archive as it was and nothing alive.
#include <gtest/gtest.h>
#include <squish.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "TXD/TXDArchive.h"
#include "support/LogCapture.h"
#include "support/Sanitizers.h"
#include "support/TempFolder.h"
#include "support/Textures.h"

namespace {

using namespace ImageService;

class ArchiveTest : public LeakCheckedDeviceTest {
protected:
    bool add(TXD::TXDArchive& archive, const std::string& image, TXD::TextureFormat format, bool mips = false,
             const std::string& alpha = "", const std::string& alphaName = "") {
        return archive.addTexture(d.device, folder / image, "tex", format, mips,
                                  alpha.empty() ? "" : folder / alpha, alphaName);
    }

    TempFolder folder;
};

TEST_F(ArchiveTest, RecordValuesFollowTheFormatChoice) {
    writePng(folder / "img.png", Rgba::pattern(16, 8));
    writePng(folder / "mask.png", Rgba::pattern(16, 8, true));
    struct Case {
        TXD::TextureFormat format;
        bool alpha;
        std::uint8_t depth, compression;
        std::uint32_t raster;
        D3DFORMAT textureFormat;
    };
    for (const Case& c :
         {Case{TXD::DXT1, false, 16, 1, 0x200, D3DFMT_DXT1}, Case{TXD::DXT1, true, 16, 1, 0x100, D3DFMT_DXT1},
          Case{TXD::DXT3, true, 16, 3, 0x300, D3DFMT_DXT3}, Case{TXD::DXT3, false, 16, 3, 0x300, D3DFMT_DXT3},
          Case{TXD::Bits32, true, 32, 0, 0x500, D3DFMT_A8R8G8B8},
          Case{TXD::Bits32, false, 32, 0, 0x600, D3DFMT_X8R8G8B8},
          Case{TXD::Bits8, true, 8, 0, 0x2500, D3DFMT_A8R8G8B8},
          Case{TXD::Bits8, false, 8, 0, 0x2600, D3DFMT_A8R8G8B8},
          Case{static_cast<TXD::TextureFormat>(9), false, 16, 1, 0, D3DFMT_DXT1}}) {
        TXD::TXDArchive archive;
        LogCapture capture;
        ASSERT_TRUE(
            add(archive, "img.png", c.format, true, c.alpha ? "mask.png" : "", c.alpha ? "mask" : ""));
        ASSERT_EQ(archive.getTextureCount(), 1u);
        const TXD::TextureRecord& record = archive.getTexture(0);
        EXPECT_EQ(record.depth, c.depth);
        EXPECT_EQ(record.compression, c.compression);
        EXPECT_EQ(record.rasterFormat, c.raster);
        EXPECT_EQ(record.texture->format(), c.textureFormat);
        EXPECT_EQ(record.hasAlpha, c.alpha ? 1 : 0);
        EXPECT_EQ(record.maskName, c.alpha ? "mask" : "");
        EXPECT_EQ(std::make_pair(record.width, record.height),
                  std::make_pair(std::int16_t{16}, std::int16_t{8}));
        bool chain = c.format == TXD::DXT1 || c.format == TXD::DXT3;  // the only choices that get mip levels
        EXPECT_EQ(record.mipLevels, chain ? 5 : 1);
        EXPECT_EQ(record.texture->GetLevelCount(), chain ? 5u : 1u);
        EXPECT_TRUE(archive.changed);
        EXPECT_EQ(capture.info()[0], "TXD::TXDArchive::addTexture(2033) - Added texture to archive: tex");
        EXPECT_TRUE(capture.errors().empty());
    }
}

TEST_F(ArchiveTest, AlphaMergeTakesOnlyTheAlphaByte) {
    Rgba colour = Rgba::filled(4, 4, 51, 34, 17, 128);
    Rgba alpha = Rgba::filled(4, 4, 204, 187, 170, 127);
    alpha.at(0, 0)[3] = 0;
    alpha.at(3, 3)[3] = 255;
    writePng(folder / "colour.png", colour);
    writePng(folder / "alpha.png", alpha);
    TXD::TXDArchive archive;
    ASSERT_TRUE(add(archive, "colour.png", TXD::Bits32, false, "alpha.png", "alpha"));
    std::vector<std::uint8_t> bytes = bytesOf(archive.getTexture(0).texture);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 4, bytes.begin() + 8),
              (std::vector<std::uint8_t>{17, 34, 51, 127}));
    EXPECT_EQ(bytes[3], 0);
    EXPECT_EQ(bytes[15 * 4 + 3], 255);
}

// Wide enough for the merge to run in several bands of rows: colour is still compressed once, from
// the exact pixels, so the blocks and the mip chain match those of the merged image packed directly.
// Two bands of 8 MB each at least: 8192 x 512 pixels. Under the sanitizers the colour is one per 4x4
// block, which the encoder settles at once; the bands, the merge and the exact pixels are the same.
TEST_F(ArchiveTest, BandByBandAlphaMergeEqualsPackingTheMergedImage) {
    Rgba colour = Rgba::pattern(8192, 512), alpha = Rgba::pattern(8192, 512, true);
    if (kUnderSanitizers) {
        for (std::uint32_t y = 0; y < colour.height; ++y) {
            for (std::uint32_t x = 0; x < colour.width; ++x)
                std::copy_n(colour.at(x & ~3u, y & ~3u), 3, colour.at(x, y));
        }
    }
    Rgba merged = colour;
    for (std::size_t i = 3; i < merged.pixels.size(); i += 4)
        merged.pixels[i] = alpha.pixels[i];
    writeTga(folder / "colour.tga", colour);  // TGA: quick to write at this size
    writeTga(folder / "alpha.tga", alpha);
    writeTga(folder / "merged.tga", merged);
    TXD::TXDArchive archive;
    ASSERT_TRUE(add(archive, "colour.tga", TXD::DXT3, true, "alpha.tga", "alpha"));
    ASSERT_TRUE(add(archive, "merged.tga", TXD::DXT3, true));
    for (UINT level = 0; level < archive.getTexture(1).texture->GetLevelCount(); ++level) {
        EXPECT_TRUE(bytesOf(archive.getTexture(0).texture, level) ==
                    bytesOf(archive.getTexture(1).texture, level))
            << "level " << level;
    }
}

TEST_F(ArchiveTest, AlphaMergeRefusesBadRequests) {
    writePng(folder / "img.png", Rgba::pattern(256, 256));
    writePng(folder / "other.png", Rgba::pattern(512, 256));
    TXD::TXDArchive archive;
    ASSERT_TRUE(add(archive, "img.png", TXD::DXT3));
    archive.changed = false;
    std::vector<std::uint8_t> before = bytesOf(archive.getTexture(0).texture);
    LogCapture capture;
    EXPECT_FALSE(archive.addAlphaChannelFromFile(-1, d.device, folder / "img.png"));
    EXPECT_FALSE(archive.addAlphaChannelFromFile(1, d.device, folder / "img.png"));
    EXPECT_FALSE(archive.addAlphaChannelFromFile(0, d.device, folder / "missing.png"));
    EXPECT_FALSE(archive.addAlphaChannelFromFile(0, d.device, folder / "other.png"));
    const std::string prefix = "TXD::TXDArchive::addAlphaChannelFromFile";
    EXPECT_EQ(capture.errors(),
              (std::vector<std::string>{
                  prefix + "(979) - Texture index -1 is outside list of textures 1",
                  prefix + "(979) - Texture index 1 is outside list of textures 1",
                  prefix + "(985) - Alpha path is not valid: " + folder / "missing.png",
                  prefix + "(1011) - Unable to add the alpha channel, the source texture is 256x512 and the "
                           "destination texture is 256x256"}));
    EXPECT_FALSE(archive.changed);
    EXPECT_EQ(bytesOf(archive.getTexture(0).texture), before);
}

TEST_F(ArchiveTest, MipChainsHaveEveryLevel) {
    writePng(folder / "wide.png", Rgba::pattern(256, 64));
    Rgba tiny = Rgba::filled(2, 2, 0, 0, 0);
    std::memcpy(tiny.at(0, 0), "\xF8\x00\x00\xFF", 4);
    std::memcpy(tiny.at(1, 0), "\x00\xFC\x00\xFF", 4);
    std::memcpy(tiny.at(0, 1), "\x00\x00\xF8\xFF", 4);
    std::memcpy(tiny.at(1, 1), "\xF8\xFC\xF8\xFF", 4);
    writePng(folder / "tiny.png", tiny);
    writePng(folder / "one.png", Rgba::filled(1, 1, 10, 20, 30));

    TXD::TXDArchive archive;
    ASSERT_TRUE(add(archive, "wide.png", TXD::DXT3, true));
    ASSERT_TRUE(add(archive, "tiny.png", TXD::DXT1, true));
    ASSERT_TRUE(add(archive, "one.png", TXD::DXT1, true));
    EXPECT_EQ(archive.getTexture(0).mipLevels, 9);
    ASSERT_EQ(archive.getTexture(0).texture->GetLevelCount(), 9u);
    EXPECT_EQ(archive.getTexture(0).texture->width(8), 1u);
    EXPECT_EQ(archive.getTexture(2).mipLevels, 1);

    // Level 1 of the 2x2 image is one pixel: the mean (124, 126, 124) within block precision.
    std::vector<std::uint8_t> block = bytesOf(archive.getTexture(1).texture, 1);
    std::uint8_t rgba[16 * 4];
    squish::Decompress(rgba, block.data(), squish::kDxt1);
    EXPECT_NEAR(rgba[0], 124, 5);
    EXPECT_NEAR(rgba[1], 126, 3);
    EXPECT_NEAR(rgba[2], 124, 5);
}

TEST_F(ArchiveTest, MipGenerationRefusals) {
    writePng(folder / "img.png", Rgba::pattern(8, 8));
    TXD::TXDArchive archive;
    ASSERT_TRUE(add(archive, "img.png", TXD::Bits32));
    archive.changed = false;
    LogCapture capture;
    EXPECT_FALSE(archive.generateMipMaps(-1, d.device));
    EXPECT_FALSE(archive.generateMipMaps(1, d.device));
    EXPECT_FALSE(archive.generateMipMaps(0, d.device));
    EXPECT_EQ(capture.info(),
              std::vector<std::string>{"TXD::TXDArchive::generateMipMaps(1518) - You can't generate "
                                       "MipMap's on an 8bit or 32bit texture"});
    EXPECT_EQ(capture.errors().size(), 2u);
    EXPECT_EQ(archive.getTexture(0).mipLevels, 1);
    EXPECT_FALSE(archive.changed);
}

TEST_F(ArchiveTest, EveryFailureLeavesTheArchiveAsItWas) {
    writePng(folder / "img.png", Rgba::pattern(16, 16));
    writePng(folder / "mask.png", Rgba::pattern(16, 16, true));
    struct Case {
        Operation operation;
        int skip;
        bool mips;
        const char* lastError;
    };
    const char* kCopy = "TXD::TXDArchive::addTexture(2021) - Surface copy for new texture failed";
    for (const Case& c : {
             Case{Operation::D3DXGetImageInfoFromFile, 0, false, "get information for texture file"},
             Case{Operation::D3DXGetImageInfoFromFile, 1, false, "Unable to get information for alpha file"},
             Case{Operation::D3DXCreateTexture, 0, false, "(2011) - Unable to create new texture"},
             Case{Operation::D3DXCreateTextureFromFile, 0, false, kCopy},
             Case{Operation::LoadSurfaceFromSurface, 0, false, kCopy},
             Case{Operation::GetSurfaceLevel, 0, false, kCopy},
             Case{Operation::GetSurfaceLevel, 1, false, kCopy},
             // Inside the merge: the alpha file's header is read for the third time, then textures are made.
             Case{Operation::D3DXGetImageInfoFromFile, 2, false, "unable to get Image Information"},
             Case{Operation::D3DXCreateTextureFromFile, 1, false, "alpha texture load failed"},
             Case{Operation::D3DXCreateTexture, 1, false, "create alpha value texture failed"},
             Case{Operation::LoadSurfaceFromSurface, 1, false, "Surface copy of source alpha"},
             Case{Operation::D3DXCreateTexture, 2, false, "create mixer texture failed"},
             Case{Operation::LoadSurfaceFromSurface, 2, false, "onto the mixer texture"},
             Case{Operation::LockRect, 0, false, "Unable to lock the textures for the alpha merge"},
             Case{Operation::LockRect, 1, false, "Unable to lock the textures for the alpha merge"},
             Case{Operation::LoadSurfaceFromSurface, 3, false, "Unable to copy the mixer onto the source"},
             // The mip chain, after a successful merge.
             Case{Operation::GetLevelDesc, 0, true, "(1524)"},
             Case{Operation::CreateTexture, 0, true, "Failed to create texture for MipMap generation"},
             Case{Operation::GetSurfaceLevel, 8, true, "(1541)"},
             Case{Operation::LoadSurfaceFromSurface, 4, true, "(1549)"},
             Case{Operation::FilterTexture, 0, true, "(1556)"},
         }) {
        SCOPED_TRACE(c.lastError);
        TXD::TXDArchive archive;
        writePng(folder / "first.png", Rgba::pattern(4, 4));
        ASSERT_TRUE(add(archive, "first.png", TXD::DXT1));
        archive.changed = false;
        std::size_t live = TestSeams::liveObjectCount();
        LogCapture capture;
        TestSeams::injectFault(c.operation, D3DERR_INVALIDCALL, c.skip);
        EXPECT_FALSE(add(archive, "img.png", TXD::DXT3, c.mips, "mask.png", "mask"));
        TestSeams::clearFaults();
        EXPECT_EQ(archive.getTextureCount(), 1u);
        EXPECT_FALSE(archive.changed);
        EXPECT_EQ(TestSeams::liveObjectCount(), live);
        ASSERT_FALSE(capture.errors().empty());
        EXPECT_NE(capture.errors().back().find(c.lastError), std::string::npos) << capture.errors().back();
        for (const std::string& line : capture.info())
            EXPECT_EQ(line.find("Added texture"), std::string::npos) << "the record was rolled back";
    }
}

// The dictionary modes' paths (the image's own alpha decided from its pixels first, a grey mask turned
// into alpha) fail as cleanly as the classic one.
TEST_F(ArchiveTest, OptionPathsFailWithoutLeftovers) {
    writePng(folder / "rgba.png", Rgba::pattern(16, 16, true));
    writePng(folder / "rgb.png", Rgba::pattern(16, 16), false);
    writeFile(folder / "grey.pgm", encodePnm(Rgba::pattern(16, 16), '5'));
    TXD::AddOptions options;
    options.keepImageAlpha = options.dxt3ForAlpha = options.greyMasks = options.resizeToPowerOfTwo = true;
    writePng(folder / "npot.png", Rgba::pattern(24, 12), false);
    writeFile(folder / "npot.pgm", encodePnm(Rgba::pattern(24, 12), '5'));
    struct Case {
        const char* image;
        const char* mask;
        Operation operation;
        int skip;
        const char* lastError;
    };
    for (const Case& c : {
             Case{"rgba.png", "", Operation::D3DXCreateTextureFromFile, 0, "(2021) - Surface copy"},
             Case{"rgba.png", "", Operation::D3DXCreateTexture, 0, "(2011) - Unable to create new texture"},
             Case{"rgba.png", "", Operation::LoadSurfaceFromSurface, 0, "(2021) - Surface copy"},
             Case{"rgb.png", "grey.pgm", Operation::D3DXCreateTextureFromFile, 1,
                  "alpha texture load failed"},
             Case{"rgb.png", "grey.pgm", Operation::LoadSurfaceFromSurface, 1, "alpha texture load failed"},
             Case{"rgb.png", "grey.pgm", Operation::D3DXCreateTexture, 1,
                  "create alpha value texture failed"},
             Case{"npot.png", "", Operation::D3DXCreateTexture, 0, "(2011) - Unable to create new texture"},
             Case{"npot.png", "", Operation::LoadSurfaceFromSurface, 0,
                  "Unable to resize texture tex from 24x12 to 32x16"},
             Case{"npot.png", "npot.pgm", Operation::D3DXCreateTextureFromFile, 1,
                  "alpha texture load failed"},
             Case{"npot.png", "npot.pgm", Operation::LockRect, 0, "lock the textures for the alpha merge"},
         }) {
        SCOPED_TRACE(c.lastError);
        TXD::TXDArchive archive;
        const std::size_t live = TestSeams::liveObjectCount();
        LogCapture capture;
        TestSeams::injectFault(c.operation, D3DERR_INVALIDCALL, c.skip);
        EXPECT_FALSE(archive.addTexture(d.device, folder / c.image, "tex", TXD::DXT1, false,
                                        *c.mask ? folder / c.mask : "", *c.mask ? "mask" : "", options));
        TestSeams::clearFaults();
        EXPECT_EQ(archive.getTextureCount(), 0u);
        EXPECT_EQ(TestSeams::liveObjectCount(), live);
        ASSERT_FALSE(capture.errors().empty());
        EXPECT_NE(capture.errors().back().find(c.lastError), std::string::npos) << capture.errors().back();
    }
}

// An 8-bit record's level 0 comes down to the colours a palette holds, so the save's exact palette
// loses none; a failure on the way takes the record out like any other.
TEST_F(ArchiveTest, EightBitRecordsHoldAtMost256Colours) {
    const Rgba image = Rgba::pattern(64, 64);
    writePng(folder / "img.png", image);
    auto colours = [](const std::vector<std::uint8_t>& bytes) {
        std::set<std::uint32_t> seen;
        for (std::size_t i = 0; i < bytes.size(); i += 4)
            seen.insert(std::uint32_t(bytes[i]) | bytes[i + 1] << 8 | bytes[i + 2] << 16 |
                        std::uint32_t(bytes[i + 3]) << 24);
        return seen.size();
    };
    TXD::TXDArchive archive;
    LogCapture capture;
    ASSERT_TRUE(add(archive, "img.png", TXD::Bits32));
    ASSERT_GT(colours(bytesOf(archive.getTexture(0).texture)), 256u);
    ASSERT_TRUE(add(archive, "img.png", TXD::Bits8));
    EXPECT_LE(colours(bytesOf(archive.getTexture(1).texture)), 256u);
    EXPECT_GT(psnr(image, rgbaOf(archive.getTexture(1).texture)), 30.0);
    EXPECT_TRUE(capture.errors().empty());

    // The line on standard error carries the quantiser's cause; a failed lock has none to add.
    struct Case {
        Operation operation;
        const char* cause;
    };
    for (const Case& c : {Case{Operation::QuantiseMemory, "not enough memory to reduce the colours"},
                          Case{Operation::LockRect, ""}}) {
        SCOPED_TRACE(c.cause);
        archive.changed = false;
        std::size_t live = TestSeams::liveObjectCount();
        LogCapture failure;
        TestSeams::injectFault(c.operation, E_OUTOFMEMORY);
        EXPECT_FALSE(add(archive, "img.png", TXD::Bits8));
        TestSeams::clearFaults();
        EXPECT_EQ(archive.getTextureCount(), 2u);
        EXPECT_FALSE(archive.changed);
        EXPECT_EQ(TestSeams::liveObjectCount(), live);
        EXPECT_EQ(failure.errors(),
                  std::vector<std::string>{"TXD::TXDArchive::addTexture(2046) - Unable to "
                                           "reduce the colours of texture tex to a palette"});
        EXPECT_EQ(MessageLog::getInstance()->errorCauses().back(), c.cause);
        EXPECT_TRUE(failure.info().empty());
    }
}

TEST_F(ArchiveTest, CreationErrorsAreNamed) {
    writePng(folder / "img.png", Rgba::pattern(4, 4));
    struct Case {
        HRESULT code;
        const char* line;
    };
    for (const Case& c :
         {Case{D3DERR_OUTOFVIDEOMEMORY, "(98) - Out of video memory when trying to creating texture tex"},
          Case{D3DERR_INVALIDDEVICE, "(104) - Invalid device when trying to creating texture tex"},
          Case{D3DERR_INVALIDCALL, "(92) - Invalid call when trying to creating texture tex"},
          Case{E_OUTOFMEMORY, "(110) - Unable to create texture tex"}}) {
        TXD::TXDArchive archive;
        LogCapture capture;
        TestSeams::injectFault(Operation::D3DXCreateTexture, c.code);
        EXPECT_FALSE(add(archive, "img.png", TXD::DXT1));
        ASSERT_EQ(capture.errors().size(), 2u);
        EXPECT_EQ(capture.errors()[0], std::string("TXD::logTextureCreateError") + c.line);
    }
}

TEST(MipLevels, ChainLengths) {
    EXPECT_EQ(TXD::calculateMipLevels(256, 256), 9);
    EXPECT_EQ(TXD::calculateMipLevels(256, 64), 9);
    EXPECT_EQ(TXD::calculateMipLevels(1024, 16), 11);
    EXPECT_EQ(TXD::calculateMipLevels(1, 1), 1);
    EXPECT_EQ(TXD::calculateMipLevels(0, 0), 0);
    EXPECT_EQ(TXD::calculateMipLevels(16384, 1), 15);
}

}  // namespace
