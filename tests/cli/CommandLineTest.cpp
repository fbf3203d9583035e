// End-to-end runs of the built executable: what a user types, what they see, what lands on disk.
#include <gtest/gtest.h>
#include <squish.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "support/ImageFiles.h"
#include "support/Process.h"
#include "support/TempFolder.h"

namespace {

const std::string kBanner =
    "---------------------------------------------------------------------------\n"
    "Quillpack - packs an image into a TXD texture dictionary (DXT1, or DXT3 with alpha)\n"
    "Usage and help: see README.md beside the program's source\n"
    "---------------------------------------------------------------------------\n";
const std::string kInvalid = "\nInvalid params, unable to continue!\n";
const std::string kUsage =
    "Not enough params passed in, there must be at least two! \n"
    "1. Texture image path \n2. Output file path \n3. Alpha path (Optional)\n\n";

std::uint32_t u32(const std::string& bytes, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}
std::uint16_t u16(const std::string& bytes, std::size_t at) {
    std::uint16_t v;
    std::memcpy(&v, bytes.data() + at, 2);
    return v;
}

// The fields of a one-texture archive, read at their fixed offsets.
struct SingleTexture {
    std::string name, maskName, code;
    std::uint32_t raster = 0, levelSize = 0;
    std::uint16_t width = 0, height = 0;
    std::uint8_t depth = 0, levels = 0, flags = 0;
    std::string blocks;
};

SingleTexture readSingleTexture(const std::string& file) {
    SingleTexture t;
    EXPECT_GE(file.size(), 156u);
    if (file.size() < 156)
        return t;
    EXPECT_EQ(u32(file, 0), 0x16u);
    EXPECT_EQ(u32(file, 4) + 12, file.size());
    EXPECT_EQ(u32(file, 24), 1u);
    t.name = std::string(file.c_str() + 60, strnlen(file.c_str() + 60, 32));
    t.maskName = std::string(file.c_str() + 92, strnlen(file.c_str() + 92, 32));
    t.raster = u32(file, 124);
    t.code = file.substr(128, 4);
    t.width = u16(file, 132);
    t.height = u16(file, 134);
    t.depth = static_cast<std::uint8_t>(file[136]);
    t.levels = static_cast<std::uint8_t>(file[137]);
    t.flags = static_cast<std::uint8_t>(file[139]);
    t.levelSize = u32(file, 140);
    t.blocks = file.substr(144, t.levelSize);
    return t;
}

Rgba decodeBlocks(const SingleTexture& t) {
    Rgba image{t.width, t.height, std::vector<std::uint8_t>(std::size_t(t.width) * t.height * 4)};
    squish::DecompressImage(image.pixels.data(), t.width, t.height, t.blocks.data(),
                            t.code == "DXT1" ? squish::kDxt1 : squish::kDxt3);
    return image;
}

class CommandLine : public ::testing::Test {
protected:
    TempFolder folder;
    RunResult run(const std::vector<std::string>& arguments) {
        return runQuillpack(arguments, folder.path());
    }
    bool exists(const std::string& name) { return std::filesystem::exists(folder / name); }
};

TEST_F(CommandLine, RefusesUnusableArgumentsWithTheirExactLines) {
    writePng(folder / "tex.png", Rgba::pattern(8, 8));
    struct Case {
        std::vector<std::string> arguments;
        std::string lines;
    };
    for (const Case& c :
         {Case{{}, kUsage}, Case{{"tex.png"}, kUsage},
          Case{{"missing.png", "out.txd"}, "Texture file path is invalid: missing.png \n"},
          Case{{"tex.png", "nowhere/out.txd"}, "Output folder for the file is not valid: nowhere"},
          Case{{"tex.png", "out.txd", "mask.png"}, "Alpha channel file is not valid: mask.png"},
          Case{{"", "out.txd"}, "Texture file path is invalid:  \n"}}) {
        RunResult result = run(c.arguments);
        EXPECT_EQ(result.out, kBanner + c.lines + kInvalid);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_FALSE(exists("out.txd"));
    }
}

TEST_F(CommandLine, PacksDxt1WithoutAlphaImage) {
    Rgba image = Rgba::pattern(64, 32);
    writePng(folder / "Wall.Brick.png", image, false);
    RunResult result = run({"Wall.Brick.png", "out.txd"});
    EXPECT_EQ(result.out, kBanner + "Texture file saved as: out.txd");
    EXPECT_EQ(result.err, "");
    ASSERT_EQ(result.exitCode, 0);

    std::string file = readFile(folder / "out.txd");
    ASSERT_EQ(file.size(), 12u + 12 + 4 + 12 + 12 + 88 + 4 + 1024 + 12 + 12);
    SingleTexture t = readSingleTexture(file);
    EXPECT_EQ(t.name, "Wall.Brick");
    EXPECT_EQ(t.maskName, "");
    EXPECT_EQ(t.raster, 0x200u);
    EXPECT_EQ(t.code, "DXT1");
    EXPECT_EQ(t.flags, 8);
    EXPECT_EQ(t.depth, 16);
    EXPECT_EQ(t.levels, 1);
    EXPECT_EQ(t.width, 64);
    EXPECT_EQ(t.height, 32);
    EXPECT_GT(psnr(decodeBlocks(t), image), 25.0);
}

TEST_F(CommandLine, PacksDxt3WithTheAlphaImagesAlpha) {
    Rgba image = Rgba::pattern(32, 32);
    Rgba mask = Rgba::pattern(32, 32, true);
    writePng(folder / "tex.png", image, false);
    writePng(folder / "mask.png", mask, true);
    for (const auto& arguments : {std::vector<std::string>{"tex.png", "out.txd", "mask.png"},
                                  std::vector<std::string>{"tex.png", "out.txd", "mask.png", "ignored"}}) {
        RunResult result = run(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        SingleTexture t = readSingleTexture(readFile(folder / "out.txd"));
        EXPECT_EQ(t.raster, 0x300u);
        EXPECT_EQ(t.code, "DXT3");
        EXPECT_EQ(t.flags, 9);
        EXPECT_EQ(t.maskName, "mask");
        EXPECT_EQ(t.levelSize, 1024u);
        Rgba decoded = decodeBlocks(t);
        EXPECT_GT(psnr(decoded, image), 25.0);
        for (std::size_t i = 3; i < decoded.pixels.size(); i += 4) {
            ASSERT_LE(std::abs(int(decoded.pixels[i]) - int(mask.pixels[i])), 8) << "pixel " << i / 4;
        }
    }
}

TEST_F(CommandLine, AlphaImageWithoutAlphaMakesTheTextureOpaque) {
    writePng(folder / "tex.png", Rgba::pattern(16, 16), true);
    writeJpeg(folder / "mask.jpg", Rgba::pattern(16, 16));
    ASSERT_EQ(run({"tex.png", "out.txd", "mask.jpg"}).exitCode, 0);
    Rgba decoded = decodeBlocks(readSingleTexture(readFile(folder / "out.txd")));
    for (std::size_t i = 3; i < decoded.pixels.size(); i += 4)
        ASSERT_EQ(decoded.pixels[i], 255);
}

TEST_F(CommandLine, EveryInputFormatPacks) {
    Rgba image = Rgba::pattern(16, 16);
    writeBmp(folder / "a.bmp", image);
    writeTga(folder / "b.tga", image);
    writeJpeg(folder / "c.jpg", image);
    for (const char* name : {"a.bmp", "b.tga", "c.jpg"}) {
        RunResult result = run({name, "out.txd"});
        ASSERT_EQ(result.exitCode, 0) << name << ": " << result.err;
        EXPECT_GT(psnr(decodeBlocks(readSingleTexture(readFile(folder / "out.txd"))), image), 25.0) << name;
    }
}

TEST_F(CommandLine, Dxt1DdsKeepsItsBlocksExactly) {
    std::vector<std::uint8_t> blocks(8 * 4);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = static_cast<std::uint8_t>(i * 37 + 11);
    // Four-colour mode in every block: colour 0 above colour 1.
    for (std::size_t b = 0; b < 4; ++b) {
        blocks[b * 8 + 1] = 0xF0;
        blocks[b * 8 + 3] = 0x10;
    }
    writeDxt1Dds(folder / "in.dds", 8, 8, blocks);
    ASSERT_EQ(run({"in.dds", "out.txd"}).exitCode, 0);
    EXPECT_EQ(readSingleTexture(readFile(folder / "out.txd")).blocks,
              std::string(reinterpret_cast<char*>(blocks.data()), blocks.size()));
}

TEST_F(CommandLine, RefusalsExplainOnStandardErrorAndLeaveNoFile) {
    writePng(folder / "wide.png", Rgba::pattern(48, 16));
    writePng(folder / "both.png", Rgba::pattern(48, 12));
    writePng(folder / "tall.png", Rgba::pattern(16, 12));
    writePng(folder / "tex.png", Rgba::pattern(16, 16));
    writePng(folder / "small.png", Rgba::pattern(8, 16));
    std::string png = readFile(folder / "tex.png");
    writeFile(folder / "cut.png", png.substr(0, png.size() / 2));
    std::string damaged = png;
    damaged[damaged.find("IDAT") + 12] ^= 0x55;  // the header reads, the pixels do not
    writeFile(folder / "damaged.png", damaged);
    writeFile(folder / "junk.png", "not an image at all");
    writeFile(folder / "keep.txd", "previous archive");

    struct Case {
        std::vector<std::string> arguments;
        std::string reason;
    };
    for (const Case& c :
         {Case{{"wide.png", "keep.txd"}, "Texture width for wide is not a power of two: 48"},
          Case{{"both.png", "keep.txd"}, "Texture width for both is not a power of two: 48"},
          Case{{"tall.png", "keep.txd"}, "Texture height for tall is not a power of two: 12"},
          Case{{"junk.png", "keep.txd"}, "Unable to get information for texture file junk.png"},
          Case{{"cut.png", "keep.txd"}, "Unable to get information for texture file cut.png"},
          Case{{"damaged.png", "keep.txd"},
               "TXD::TXDArchive::addTexture(2021) - Surface copy for new texture failed"},
          Case{{"tex.png", "keep.txd", "small.png"}, "with alpha small because image width is different"},
          Case{{"tex.png", "keep.txd", "junk.png"}, "Unable to get information for alpha file junk.png"}}) {
        RunResult result = run(c.arguments);
        EXPECT_EQ(result.exitCode, 1) << c.reason;
        EXPECT_EQ(result.out, kBanner + "Unable to create textureFailed to save file: keep.txd");
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << c.reason << " not in: " << result.err;
        EXPECT_EQ(result.err.find("resources"), std::string::npos)
            << "optional resources are no failure reason";
        EXPECT_EQ(readFile(folder / "keep.txd"), "previous archive");
    }
    std::size_t entries = std::distance(std::filesystem::directory_iterator(folder.path()), {});
    EXPECT_EQ(entries, 9u);  // nothing new, no temporary left behind
}

TEST_F(CommandLine, EmptyAlphaNameIsShownAsTheTextureNameWithSuffix) {
    writePng(folder / "tex.png", Rgba::pattern(16, 16));
    writePng(folder / ".png", Rgba::pattern(16, 8));
    RunResult result = run({"tex.png", "out.txd", ".png"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(
        result.err.find("Unable to add the texture tex with alpha tex_a because image height is different"),
        std::string::npos)
        << result.err;
}

TEST_F(CommandLine, PathsAsUsersTypeThem) {
    std::filesystem::create_directories(folder / "sub/dir");
    std::filesystem::create_directories(folder / "caf\xC3\xA9");
    writePng(folder / "tex.png", Rgba::pattern(8, 8));
    writePng(folder / "caf\xC3\xA9/textur\xC3\xA9.png", Rgba::pattern(8, 8));
    EXPECT_EQ(run({"./tex.png", "out.txd"}).exitCode, 0);
    EXPECT_EQ(run({"tex.png", "sub/dir/out.txd"}).exitCode, 0);
    EXPECT_EQ(run({folder / "tex.png", folder / "abs.txd"}).exitCode, 0);
    RunResult utf8 = run({"caf\xC3\xA9/textur\xC3\xA9.png", "caf\xC3\xA9/sortie.txd"});
    ASSERT_EQ(utf8.exitCode, 0) << utf8.err;
    EXPECT_EQ(readSingleTexture(readFile(folder / "caf\xC3\xA9/sortie.txd")).name, "textur\xC3\xA9");
    EXPECT_TRUE(exists("out.txd") && exists("sub/dir/out.txd") && exists("abs.txd"));
}

TEST_F(CommandLine, OutputThatCannotBeWrittenFailsWithoutHarm) {
    writePng(folder / "tex.png", Rgba::pattern(8, 8));
    std::filesystem::create_directories(folder / "adir");
    RunResult toFolder = run({"tex.png", "adir"});
    EXPECT_EQ(toFolder.exitCode, 1);
    EXPECT_EQ(toFolder.out, kBanner + "Failed to save file: adir");
    EXPECT_TRUE(std::filesystem::is_directory(folder / "adir"));

    RunResult toFull = run({"tex.png", "/dev/full"});
    EXPECT_EQ(toFull.exitCode, 1);
    EXPECT_NE(toFull.err.find("/dev/full"), std::string::npos);
    struct stat info;
    ASSERT_EQ(stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

}  // namespace
