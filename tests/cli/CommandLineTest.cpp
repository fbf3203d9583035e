// End-to-end runs of the built executable: what a user types, what they see, what lands on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "support/ArchiveReader.h"
#include "support/ImageFiles.h"
#include "support/Process.h"
#include "support/TempFolder.h"

namespace {

using ArchiveReader::decodeLevel0;
using ArchiveReader::onlyTexture;

const std::string kBanner =
    "---------------------------------------------------------------------------\n"
    "Quillpack - packs an image into a TXD texture dictionary (DXT1, or DXT3 with alpha)\n"
    "Usage and help: quillpack --help\n"
    "---------------------------------------------------------------------------\n";
const std::string kInvalid = "\nInvalid params, unable to continue!\n";
const std::string kUsage =
    "Not enough params passed in, there must be at least two! \n"
    "1. Texture image path \n2. Output file path \n3. Alpha path (Optional)\n\n";

class CommandLine : public ::testing::Test {
protected:
    RunResult run(const std::vector<std::string>& arguments) {
        return runOnEveryBuild(arguments, folder.path());
    }
    bool exists(const std::string& name) { return std::filesystem::exists(folder / name); }
    TempFolder folder;
};

TEST_F(CommandLine, RefusesUnusableArgumentsWithTheirExactLines) {
    writePng(folder / "tex.png", Rgba::pattern(8, 8));
    const std::string longName(600, 'n');
    struct Case {
        std::vector<std::string> arguments;
        std::string lines;
        std::string reason;  // the plain line on standard error
    };
    for (const Case& c :
         {Case{{}, kUsage, "Expected a texture image and an output file, got 0 arguments"},
          Case{{"tex.png"}, kUsage, "Expected a texture image and an output file, got 1 argument"},
          Case{{"missing.png", "out.txd"},
               "Texture file path is invalid: missing.png \n",
               "Texture image (first argument) does not exist: missing.png"},
          Case{{"tex.png", "nowhere/out.txd"},
               "Output folder for the file is not valid: nowhere",
               "Folder of the output file (second argument) does not exist: nowhere"},
          Case{{"tex.png", "out.txd", "mask.png"},
               "Alpha channel file is not valid: mask.png",
               "Alpha image (third argument) does not exist: mask.png"},
          Case{{"", "out.txd"},
               "Texture file path is invalid:  \n",
               "Texture image (first argument) does not exist: "},
          Case{{"tex.png", ""},
               "Output folder for the file is not valid: ",
               "Output file (second argument) is empty"},
          Case{{longName, "out.txd"},
               "Texture file path is invalid: " + longName + " \n",
               "Texture image (first argument) is 600 characters long; paths are limited to 511"}}) {
        RunResult result = run(c.arguments);
        EXPECT_EQ(result.out, kBanner + c.lines + kInvalid);
        EXPECT_NE(result.err.find(c.reason + "\n"), std::string::npos) << result.err;
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
    ArchiveReader::Texture t = onlyTexture(folder / "out.txd");
    EXPECT_EQ(std::make_tuple(ArchiveReader::text(t.nameField), ArchiveReader::text(t.maskNameField),
                              ArchiveReader::fourCC(t), t.rasterFormat, t.flags, t.depth, t.levelCount),
              std::make_tuple(std::string("Wall.Brick"), std::string(), std::string("DXT1"), 0x200u,
                              std::uint8_t{8}, std::uint8_t{16}, std::uint8_t{1}));
    EXPECT_EQ(std::make_pair(t.width, t.height), std::make_pair(std::int16_t{64}, std::int16_t{32}));
    EXPECT_GT(psnr(image, decodeLevel0(t)), 25.0);
}

TEST_F(CommandLine, PacksDxt3WithTheAlphaImagesAlpha) {
    Rgba image = Rgba::pattern(32, 32), mask = Rgba::pattern(32, 32, true);
    writePng(folder / "tex.png", image, false);
    writePng(folder / "mask.png", mask, true);
    for (const auto& arguments : {std::vector<std::string>{"tex.png", "out.txd", "mask.png"},
                                  std::vector<std::string>{"tex.png", "out.txd", "mask.png", "ignored"}}) {
        RunResult result = run(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        ArchiveReader::Texture t = onlyTexture(folder / "out.txd");
        EXPECT_EQ(std::make_tuple(t.rasterFormat, ArchiveReader::fourCC(t), t.flags,
                                  ArchiveReader::text(t.maskNameField)),
                  std::make_tuple(0x300u, std::string("DXT3"), std::uint8_t{9}, std::string("mask")));
        EXPECT_EQ(t.levels.at(0).size(), 1024u);
        Rgba decoded = decodeLevel0(t);
        EXPECT_GT(psnr(image, decoded), 25.0);
        for (std::size_t i = 3; i < decoded.pixels.size(); i += 4)
            ASSERT_LE(std::abs(int(decoded.pixels[i]) - int(mask.pixels[i])), 8) << "pixel " << i / 4;
    }
}

TEST_F(CommandLine, EveryInputFormatPacksAndAnAlphaImageWithoutAlphaMakesItOpaque) {
    Rgba image = Rgba::pattern(16, 16);
    writeBmp(folder / "a.bmp", image);
    writeTga(folder / "b.tga", image);
    writeJpeg(folder / "c.jpg", image);
    for (const char* name : {"a.bmp", "b.tga", "c.jpg"}) {
        RunResult result = run({name, "out.txd"});
        ASSERT_EQ(result.exitCode, 0) << name << ": " << result.err;
        EXPECT_GT(psnr(image, decodeLevel0(onlyTexture(folder / "out.txd"))), 25.0) << name;
    }
    writePng(folder / "tex.png", Rgba::pattern(16, 16, true), true);
    ASSERT_EQ(run({"tex.png", "out.txd", "c.jpg"}).exitCode, 0);
    Rgba decoded = decodeLevel0(onlyTexture(folder / "out.txd"));
    for (std::size_t i = 3; i < decoded.pixels.size(); i += 4)
        ASSERT_EQ(decoded.pixels[i], 255);
}

// Any lossless file of a PNG's pixels packs to the PNG's archive, byte for byte; a 16-bit grey file and
// a Radiance file of the same picture stay within 0.5 dB of it.
TEST_F(CommandLine, LosslessFormatsGiveThePngsArchive) {
    Rgba colour = Rgba::pattern(32, 16), grey = colour;
    for (std::size_t i = 0; i < grey.pixels.size(); i += 4)
        grey.pixels[i + 1] = grey.pixels[i + 2] = grey.pixels[i];
    writePng(folder / "colour.png", colour, false);
    writePng(folder / "grey.png", grey, false);
    writeBmp(folder / "colour.dib", colour);  // a DIB is a BMP file
    struct Case {
        std::string name, bytes, png;
        bool exact;
    };
    for (const Case& c : {Case{"colour.ppm", encodePnm(colour, '6'), "colour.png", true},
                          Case{"colour.pfm", encodePfm(colour), "colour.png", true},
                          Case{"colour.dib", "", "colour.png", true},
                          Case{"grey.pgm", encodePnm(grey, '5'), "grey.png", true},
                          Case{"grey.pgm", encodePnm(grey, '5', 65535), "grey.png", false},
                          Case{"colour.hdr", encodeHdr(colour), "colour.png", false}}) {
        if (!c.bytes.empty())
            writeFile(folder / c.name, c.bytes);
        ASSERT_EQ(run({c.png, "png.txd"}).exitCode, 0);
        RunResult result = run({c.name, "other.txd"});
        ASSERT_EQ(result.exitCode, 0) << c.name << ": " << result.err;
        if (c.exact) {
            EXPECT_EQ(readFile(folder / "other.txd"), readFile(folder / "png.txd")) << c.name;
            continue;
        }
        const Rgba& original = c.png == "grey.png" ? grey : colour;
        const double fromPng = psnr(original, decodeLevel0(onlyTexture(folder / "png.txd")));
        EXPECT_NEAR(psnr(original, decodeLevel0(onlyTexture(folder / "other.txd"))), fromPng, 0.5) << c.name;
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
    EXPECT_EQ(onlyTexture(folder / "out.txd").levels.at(0), blocks);
}

TEST_F(CommandLine, RefusalsExplainOnStandardErrorAndLeaveNoFile) {
    writePng(folder / "wide.png", Rgba::pattern(48, 16));
    writePng(folder / "both.png", Rgba::pattern(48, 12));
    writePng(folder / "tall.png", Rgba::pattern(16, 12));
    writePng(folder / "tex.png", Rgba::pattern(16, 16));
    writePng(folder / "small.png", Rgba::pattern(8, 16));
    writePng(folder / ".png", Rgba::pattern(16, 8));
    std::string png = readFile(folder / "tex.png");
    writeFile(folder / "cut.png", png.substr(0, png.size() / 2));
    png[png.find("IDAT") + 12] ^= 0x55;  // the header reads, the pixels do not
    writeFile(folder / "damaged.png", png);
    png = readFile(folder / "tex.png");
    png[png.find("IEND") - 5] ^= 0x55;  // the last byte of the image data's checksum
    writeFile(folder / "crc.png", png);
    writeFile(folder / "junk.png", "not an image at all");
    writeFile(folder / "keep.txd", "previous archive");
    writeBmp(folder / "huge.bmp", Rgba::pattern(20000, 4));
    writePng(folder / "long.png", Rgba::filled(32768, 4, 1, 2, 3));
    writeJpeg(folder / "high.jpg", Rgba::pattern(4, 16385));
    writeJpeg(folder / "flipped.jpg", Rgba::pattern(64, 64));
    std::string jpeg = readFile(folder / "flipped.jpg");
    for (std::size_t at : {jpeg.size() / 2, jpeg.size() / 2 + 5, jpeg.size() / 2 + 9})
        jpeg[at] = '\xFF';  // three damaged bytes in the entropy data
    writeFile(folder / "flipped.jpg", jpeg);
    writeFile(folder / "anim.gif", "GIF89a\x10\x00\x10\x00");
    writeFile(folder / "layers.psd", "8BPS\x00\x01");

    struct Case {
        std::vector<std::string> arguments;
        std::string reason;
    };
    for (const Case& c :
         {Case{{"wide.png", "keep.txd"}, "Texture width for wide is not a power of two: 48"},
          Case{{"both.png", "keep.txd"}, "Texture width for both is not a power of two: 48"},
          Case{{"tall.png", "keep.txd"}, "Texture height for tall is not a power of two: 12"},
          // Sizes the service cannot hold are named by the size checks, from the true header size.
          Case{{"huge.bmp", "keep.txd"}, "Texture width for huge is not a power of two: 20000"},
          Case{{"long.png", "keep.txd"}, "Texture width for long is too large: 32768"},
          Case{{"high.jpg", "keep.txd"}, "Texture height for high is not a power of two: 16385"},
          // After the log line, the cause the reader found.
          Case{{"junk.png", "keep.txd"},
               "Unable to get information for texture file junk.png: not a PNG, JPEG, BMP, TGA, DDS, PNM, "
               "PFM or HDR image"},
          Case{{"cut.png", "keep.txd"}, "Unable to get information for texture file cut.png: truncated PNG"},
          Case{{"anim.gif", "keep.txd"},
               "texture file anim.gif: not a PNG, JPEG, BMP, TGA, DDS, PNM, PFM or HDR image"},
          Case{{"tex.png", "keep.txd", "layers.psd"}, "alpha file layers.psd: not a PNG, JPEG"},
          Case{{"damaged.png", "keep.txd"}, "Surface copy for new texture failed: damaged PNG"},
          Case{{"crc.png", "keep.txd"}, "Surface copy for new texture failed: PNG chunk CRC mismatch"},
          Case{{"flipped.jpg", "keep.txd"}, "Surface copy for new texture failed: Corrupt JPEG data"},
          Case{{"tex.png", "keep.txd", "small.png"}, "with alpha small because image width is different"},
          Case{{"tex.png", "keep.txd", "junk.png"},
               "Unable to get information for alpha file junk.png: not a PNG, JPEG, BMP, TGA, DDS, PNM, PFM "
               "or HDR image"},
          // An alpha image with an empty name is shown as the texture's name with a suffix.
          Case{{"tex.png", "keep.txd", ".png"},
               "Unable to add the texture tex with alpha tex_a because image height is different"}}) {
        RunResult result = run(c.arguments);
        EXPECT_EQ(result.exitCode, 1) << c.reason;
        EXPECT_EQ(result.out, kBanner + "Unable to create textureFailed to save file: keep.txd");
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << c.reason << " not in: " << result.err;
        // Plain reasons: the log's function names and line numbers stay in the log.
        EXPECT_EQ(result.err.find("::"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("resources"), std::string::npos)
            << "optional resources are no failure reason";
        EXPECT_EQ(readFile(folder / "keep.txd"), "previous archive");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}),
              17);  // no temporary left
}

// The modes read their command lines as the tools people know do, and a misspelt mode keeps the main
// run's console text while standard error says what was meant.
TEST_F(CommandLine, ModesReadTheirCommandLinesAsToolsDo) {
    writePng(folder / "tex.png", Rgba::pattern(8, 8));
    writePng(folder / "odd.png", Rgba::pattern(12, 8));
    writePng(folder / "--dash.png", Rgba::pattern(8, 8));
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;  // the start of standard output
        std::string err;  // the start of standard error
    };
    const std::string help = "Usage:\n  quillpack <texture image> <output.txd> [alpha image]\n";
    for (const Case& c : {
             Case{{"--lsit", "x.txd"},
                  1,
                  kBanner + "Texture file path is invalid: --lsit \n" + kInvalid,
                  "unknown option --lsit; did you mean --list? (quillpack --help)\n"
                  "Texture image (first argument) does not exist: --lsit\n"},
             Case{{"--zzzzzzzz"},
                  1,
                  kBanner + kUsage + kInvalid,
                  "unknown option --zzzzzzzz (quillpack --help)\n"},
             Case{{"-h"}, 0, help, ""},
             Case{{"--help", "anything"}, 0, help, ""},
             Case{{"--add", "a.txd", "tex.png", "--format", "DXT3", "--mipmaps"},
                  0,
                  "Added tex to a.txd (4 levels)\n",
                  ""},
             Case{{"--add", "b.txd", "--format=Dxt1", "tex.png"}, 0, "Added tex to b.txd (1 level)\n", ""},
             Case{{"--add", "c.txd", "--", "--dash.png"}, 0, "Added --dash to c.txd (1 level)\n", ""},
             Case{{"--add", "--mipmap", "d.txd", "tex.png"},
                  1,
                  "",
                  "quillpack: unknown option --mipmap; did you mean --mipmaps? (quillpack --help)\n"},
             Case{{"--add", "d.txd", "tex.png", "--format"}, 1, "", "quillpack: --format needs a value\n"},
             Case{{"--add", "d.txd", "tex.png", "--format", "dxt5"},
                  1,
                  "",
                  "quillpack: --format takes dxt1, dxt3, 32 or 8, not dxt5\n"},
             Case{{"--add", "--mipmaps=yes", "d.txd", "tex.png"},
                  1,
                  "",
                  "quillpack: --mipmaps takes no value\n"},
             Case{{"--add", "d.txd", "odd.png"},
                  1,
                  "",
                  "quillpack: cannot add odd.png (--pow2 resizes it to the nearest powers of two); d.txd was "
                  "left "
                  "untouched\nTexture width for odd is not a power of two: 12\n"},
             Case{{"--list", "--levels", "a.txd"},
                  1,
                  "",
                  "quillpack: --levels is not an option of this mode (quillpack --help)\n"},
         }) {
        RunResult result = run(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << testing::PrintToString(c.arguments) << result.err;
        EXPECT_EQ(result.out.substr(0, c.out.size()), c.out) << testing::PrintToString(c.arguments);
        EXPECT_EQ(result.err.substr(0, c.err.size()), c.err) << testing::PrintToString(c.arguments);
    }
    EXPECT_FALSE(exists("d.txd"));
}

// Windows asks a console program for help with /?; elsewhere "/?" is a path like any other.
TEST_F(CommandLine, SlashQuestionMarkIsHelpOnWindowsOnly) {
    const RunResult onLinux = runQuillpack({"/?"}, folder.path());
    EXPECT_EQ(onLinux.out, kBanner + kUsage + kInvalid);
    const char* windows = std::getenv("QUILLPACK_WINDOWS_EXE");
    if (!windows || !*windows)
        GTEST_SKIP() << "QUILLPACK_WINDOWS_EXE is not set";
    RunResult onWindows = runQuillpack({"/?"}, folder.path(), {}, Build::WindowsUnderWine);
    if (onWindows.out.empty())  // wine now and then fails to start a program on a loaded machine
        onWindows = runQuillpack({"/?"}, folder.path(), {}, Build::WindowsUnderWine);
    EXPECT_EQ(onWindows.exitCode, 0) << onWindows.err;
    EXPECT_EQ(onWindows.out.rfind("Usage:\n  quillpack <texture image> <output.txd> [alpha image]\n", 0), 0u)
        << onWindows.out;
}

TEST_F(CommandLine, PathsAsUsersTypeThem) {
    std::filesystem::create_directories(folder / "sub/dir");
    std::filesystem::create_directories(folder / "caf\xC3\xA9");
    writePng(folder / "tex.png", Rgba::pattern(8, 8));
    writePng(folder / "sub/in.png", Rgba::pattern(8, 8));
    writePng(folder / "caf\xC3\xA9/textur\xC3\xA9.png", Rgba::pattern(8, 8));
    EXPECT_EQ(run({"./tex.png", "out.txd"}).exitCode, 0);
    EXPECT_EQ(run({"tex.png", "sub/dir/out.txd"}).exitCode, 0);
    EXPECT_EQ(run({folder / "tex.png", folder / "abs.txd"}).exitCode, 0);
    // A backslash separates folders wherever a path is used.
    EXPECT_EQ(run({"sub\\in.png", "sub\\dir\\back.txd", "sub\\in.png"}).exitCode, 0);
    RunResult utf8 = run({"caf\xC3\xA9/textur\xC3\xA9.png", "caf\xC3\xA9/sortie.txd"});
    ASSERT_EQ(utf8.exitCode, 0) << utf8.err;
    EXPECT_EQ(ArchiveReader::text(onlyTexture(folder / "caf\xC3\xA9/sortie.txd").nameField),
              "textur\xC3\xA9");
    EXPECT_TRUE(exists("out.txd") && exists("sub/dir/out.txd") && exists("abs.txd") &&
                exists("sub/dir/back.txd"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 5);
}

TEST_F(CommandLine, OutputThatCannotBeWrittenFailsWithoutHarmAndSaysWhy) {
    writePng(folder / "tex.png", Rgba::pattern(8, 8));
    std::filesystem::create_directories(folder / "adir");
    std::filesystem::create_symlink("gone", folder / "dangling");
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    const std::string longName = std::string(300, 'n') + ".txd";
    struct Case {
        std::string output;
        std::string reason;
    };
    for (const Case& c :
         {Case{"adir", "Save canceled, stream not open: adir: not a file to write: a folder"},
          Case{"adir\\", "Save canceled, stream not open: adir\\: not a file to write: a folder"},
          Case{"dangling", "Save canceled, stream not open: dangling: dangling symbolic link"},
          Case{"fifo", "Save canceled, stream not open: fifo: no process is reading the FIFO"},
          Case{longName, "Save canceled, stream not open: " + longName + ": File name too long"},
          Case{"/dev/full", "Save failed, unable to write: /dev/full: No space left on device"}}) {
        RunResult result = runQuillpack({"tex.png", c.output}, folder.path(), RunLimits{-1, 10});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, kBanner + "Failed to save file: " + c.output);
        EXPECT_NE(result.err.find(c.reason + "\n"), std::string::npos) << result.err;
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder / "adir"));
    EXPECT_TRUE(std::filesystem::is_fifo(folder / "fifo"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "dangling"));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 4);
}

}  // namespace
