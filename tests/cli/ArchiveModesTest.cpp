// The archive modes end to end: four --add runs build one dictionary that the tests' own reader
// parses, --list shows it, --extract gives the decoded pixels, a second --add of a name replaces
// only that record, refusals leave files alone, and hostile names never escape the folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "Cli/Modes.h"
#include "ImageService/Quantise/Quantise.h"
#include "Platform/FaultSeam.h"
#include "TXD/TXDArchive.h"
#include "support/ArchiveReader.h"
#include "support/ImageFiles.h"
#include "support/Process.h"
#include "support/Records.h"
#include "support/TempFolder.h"

namespace {

using ArchiveReader::Bytes;

// The bytes of each texture native chunk, header to extension.
std::vector<Bytes> nativeChunks(const std::string& path) {
    const Bytes file = ArchiveReader::readFile(path);
    ArchiveReader::Archive archive;
    EXPECT_EQ(ArchiveReader::parse(file, 0, archive), "");
    std::vector<Bytes> chunks;
    for (const auto& texture : archive.textures) {
        auto start = file.begin() + std::ptrdiff_t(texture.headerOffset - 24);
        chunks.emplace_back(start, start + std::ptrdiff_t(texture.structSize + 36));
    }
    return chunks;
}

// Level 0 as R, G, B, A from the file alone: blocks decoded by libsquish, 32-bit pixels held B, G, R
// and a fourth byte (alpha, or unused for the 888 raster), palette entries R, G, B, A.
Rgba expectedPixels(const ArchiveReader::Texture& texture) {
    if (texture.depth == 16)
        return ArchiveReader::decodeLevel0(texture);
    Rgba image{std::uint32_t(texture.width), std::uint32_t(texture.height), {}};
    const Bytes& data = texture.levels.at(0);
    for (std::size_t p = 0; p < std::size_t(texture.width) * std::size_t(texture.height); ++p) {
        if (texture.depth == 8) {
            const std::uint8_t* entry = &texture.palette.at(std::size_t(data[p]) * 4);
            image.pixels.insert(image.pixels.end(), entry, entry + 4);
        } else {
            const bool opaque = (texture.rasterFormat & 0xF00) == 0x600;
            image.pixels.insert(image.pixels.end(), {data[p * 4 + 2], data[p * 4 + 1], data[p * 4],
                                                     opaque ? std::uint8_t(255) : data[p * 4 + 3]});
        }
    }
    return image;
}

class ArchiveModes : public testing::Test {
protected:
    RunResult run(const std::vector<std::string>& arguments) {
        return runQuillpack(arguments, folder.path());
    }
    TempFolder folder;
};

TEST_F(ArchiveModes, FourAddsListExtractAndReplaceInPlace) {
    writeJpeg(folder / "photo.jpg", Rgba::pattern(64, 32));
    writeTga(folder / "leaf.tga", Rgba::pattern(32, 32));
    writePng(folder / "leaf_a.png", Rgba::pattern(32, 32, true));
    writePng(folder / "wall.png", Rgba::pattern(16, 16), false);
    Rgba sign = Rgba::filled(8, 8, 200, 20, 20);
    *sign.at(3, 3) = 7;
    writePng(folder / "sign.png", sign, false);

    const std::vector<std::vector<std::string>> adds = {
        {"--add", "art.txd", "photo.jpg"},
        {"--add", "art.txd", "leaf.tga", "leaf_a.png"},
        {"--add", "--format", "32", "--mipmaps", "art.txd", "wall.png"},
        {"--add", "--format", "8", "art.txd", "sign.png"}};
    for (const auto& arguments : adds) {
        RunResult result = run(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
    const std::string path = folder / "art.txd";
    ArchiveReader::Archive archive;
    ASSERT_EQ(ArchiveReader::parse(ArchiveReader::readFile(path), 0, archive), "");
    ASSERT_EQ(archive.textures.size(), 4u);
    EXPECT_EQ(archive.stamp, 0x1803FFFFu);
    struct Expected {
        const char* name;
        const char* mask;
        std::uint8_t depth;
        std::uint32_t rasterFormat, formatCode;
        std::uint8_t levels;
    };
    const Expected expected[] = {{"photo", "", 16, 0x200, 0x31545844, 1},
                                 {"leaf", "leaf_a", 16, 0x300, 0x33545844, 1},
                                 {"wall", "", 32, 0x600, 22, 1},
                                 {"sign", "", 8, 0x2600, 41, 1}};
    for (std::size_t i = 0; i < 4; ++i) {
        const ArchiveReader::Texture& texture = archive.textures[i];
        EXPECT_EQ(
            std::make_tuple(ArchiveReader::text(texture.nameField),
                            ArchiveReader::text(texture.maskNameField), texture.depth, texture.rasterFormat,
                            texture.formatCode, texture.levelCount),
            std::make_tuple(std::string(expected[i].name), std::string(expected[i].mask), expected[i].depth,
                            expected[i].rasterFormat, expected[i].formatCode, expected[i].levels));
    }

    RunResult listed = run({"--list", "art.txd"});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(listed.out,
              "index\tname\tmask\tformat\twidth\theight\tlevels\talpha\tbytes\n"
              "0\tphoto\t\tdxt1\t64\t32\t1\tno\t1024\n"
              "1\tleaf\tleaf_a\tdxt3\t32\t32\t1\tyes\t1024\n"
              "2\twall\t\t32\t16\t16\t1\tno\t1024\n"
              "3\tsign\t\t8\t8\t8\t1\tno\t1088\n");

    RunResult extracted = run({"--extract", "art.txd", "out"});
    ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_EQ(extracted.out, "out/photo.png\nout/leaf.png\nout/wall.png\nout/sign.png\n");
    for (std::size_t i = 0; i < 4; ++i) {
        const Rgba png = readPng(folder / ("out/" + std::string(expected[i].name) + ".png"));
        const Rgba want = expectedPixels(archive.textures[i]);
        EXPECT_EQ(std::tie(png.width, png.height), std::tie(want.width, want.height)) << expected[i].name;
        EXPECT_TRUE(png.pixels == want.pixels) << expected[i].name;
    }

    // The library reads back what the tool wrote, to the byte.
    TXD::TXDArchive loaded;
    ASSERT_TRUE(loaded.loadFile(path));
    ASSERT_TRUE(loaded.saveFile(folder / "again.txd", 0));
    EXPECT_EQ(readFile(folder / "again.txd"), readFile(path));

    const std::vector<Bytes> before = nativeChunks(path);
    std::filesystem::create_directory(folder / "other");
    writePng(folder / "other/WALL.png", Rgba::pattern(8, 8), false);
    RunResult replaced = run({"--add", "art.txd", "other/WALL.png"});
    EXPECT_EQ(replaced.out, "Replaced WALL in art.txd (1 level)\n");
    const std::vector<Bytes> after = nativeChunks(path);
    ASSERT_EQ(after.size(), 4u);
    for (std::size_t i : {0, 1, 3})
        EXPECT_TRUE(after[i] == before[i]) << "record " << i;
    EXPECT_FALSE(after[2] == before[2]);
}

// What is stored is what was asked: an image's own alpha is kept and declared in every format, a grey
// mask (no alpha channel) gives its grey level, a mask with alpha gives that alpha, an opaque image
// stays DXT1 without alpha; --list says what the records hold, and --extract gives the pixels back.
TEST_F(ArchiveModes, AlphaIsKeptDeclaredAndListedInEveryFormat) {
    const Rgba colours = Rgba::pattern(16, 16);
    const Rgba withAlpha = Rgba::pattern(16, 16, true);
    writePng(folder / "rgba.png", withAlpha);
    writePng(folder / "opaque_rgba.png", colours);  // an alpha channel, every pixel opaque
    writePng(folder / "rgb.png", colours, false);
    writeFile(folder / "grey.pgm", encodePnm(withAlpha, '5'));  // grey level = withAlpha's red
    writeBmp(folder / "colour_mask.bmp", withAlpha);            // RGB, no alpha channel
    writePng(folder / "alpha_mask.png", withAlpha);             // its alpha, not its colour, counts

    const auto keep = [](std::uint8_t a) { return a; };
    const auto fourBits = [](std::uint8_t a) { return std::uint8_t((a + 8) / 17 * 17); };
    const auto oneBit = [](std::uint8_t a) { return std::uint8_t(a < 128 ? 0 : 255); };
    const auto opaque = [](std::uint8_t) { return std::uint8_t(255); };
    const auto ownAlpha = [&](std::size_t p) { return withAlpha.pixels[p * 4 + 3]; };
    const auto greyLevel = [&](std::size_t p) { return withAlpha.pixels[p * 4]; };
    const auto luma = [&](std::size_t p) {
        const std::uint8_t* c = &withAlpha.pixels[p * 4];
        return std::uint8_t((299 * c[0] + 587 * c[1] + 114 * c[2] + 500) / 1000);
    };
    struct Case {
        std::vector<std::string> options, images;
        const char* listed;  // format to alpha columns
        std::uint32_t rasterFormat;
        std::function<std::uint8_t(std::size_t)> source;
        std::function<std::uint8_t(std::uint8_t)> stored;
        bool warns;  // alpha cut to one bit
    };
    const Case cases[] = {
        {{}, {"rgba.png"}, "dxt3\t16\t16\t1\tyes", 0x300, ownAlpha, fourBits, false},
        {{"--format", "dxt1"}, {"rgba.png"}, "dxt1\t16\t16\t1\tyes", 0x100, ownAlpha, oneBit, true},
        {{"--format", "32"}, {"rgba.png"}, "32\t16\t16\t1\tyes", 0x500, ownAlpha, keep, false},
        {{"--format", "8"}, {"rgba.png"}, "8\t16\t16\t1\tyes", 0x2500, ownAlpha, keep, false},
        {{}, {"opaque_rgba.png"}, "dxt1\t16\t16\t1\tno", 0x200, ownAlpha, opaque, false},
        {{"--format", "32"}, {"opaque_rgba.png"}, "32\t16\t16\t1\tno", 0x600, ownAlpha, opaque, false},
        {{}, {"rgb.png", "grey.pgm"}, "dxt3\t16\t16\t1\tyes", 0x300, greyLevel, fourBits, false},
        {{"--format", "32"}, {"rgb.png", "colour_mask.bmp"}, "32\t16\t16\t1\tyes", 0x500, luma, keep, false},
        {{"--format", "32"},
         {"rgb.png", "alpha_mask.png"},
         "32\t16\t16\t1\tyes",
         0x500,
         ownAlpha,
         keep,
         false},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(folder / "one.txd");
        std::filesystem::remove_all(folder / "out");
        std::vector<std::string> arguments = {"--add", "--name", "t"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.push_back("one.txd");
        arguments.insert(arguments.end(), c.images.begin(), c.images.end());
        const std::string label = testing::PrintToString(arguments);
        RunResult added = run(arguments);
        ASSERT_EQ(added.exitCode, 0) << label << added.err;
        EXPECT_EQ(added.err.find("DXT1 keeps one bit") != std::string::npos, c.warns) << label << added.err;

        RunResult listed = run({"--list", "one.txd"});
        EXPECT_NE(listed.out.find(std::string("\t") + c.listed + "\t"), std::string::npos)
            << label << listed.out;
        ArchiveReader::Archive archive;
        ASSERT_EQ(ArchiveReader::parse(ArchiveReader::readFile(folder / "one.txd"), 0, archive), "");
        EXPECT_EQ(archive.textures.at(0).rasterFormat, c.rasterFormat) << label;

        ASSERT_EQ(run({"--extract", "one.txd", "out"}).exitCode, 0) << label;
        const Rgba png = readPng(folder / "out/t.png");
        ASSERT_EQ(png.pixels.size(), withAlpha.pixels.size()) << label;
        std::size_t wrong = 0;
        for (std::size_t p = 0; p < 16 * 16; ++p)
            wrong += png.pixels[p * 4 + 3] != c.stored(c.source(p));
        EXPECT_EQ(wrong, 0u) << label;
    }
}

// --pow2 resizes an image whose sides are not powers of two, and its alpha image with it, to the
// nearest powers of two; the pixels are the resampler's (a flat colour stays flat, a mask's halves stay
// halves away from their edge).
TEST_F(ArchiveModes, Pow2ResizesTheImageAndItsMaskTogether) {
    writePng(folder / "flat.png", Rgba::filled(300, 200, 200, 50, 50), false);
    Rgba mask = Rgba::filled(300, 200, 0, 0, 0);
    for (std::uint32_t y = 0; y < 200; ++y)
        for (std::uint32_t x = 150; x < 300; ++x)
            *mask.at(x, y) = 255;
    writeFile(folder / "flat_mask.pgm", encodePnm(mask, '5'));
    writePng(folder / "square.png", Rgba::filled(16, 16, 1, 2, 3), false);
    struct Case {
        std::vector<std::string> arguments;
        const char* listed;
    };
    const Case cases[] = {
        {{"--add", "--pow2", "--format", "32", "p.txd", "flat.png"}, "\t32\t256\t256\t1\tno\t"},
        {{"--add", "p.txd", "flat.png", "flat_mask.pgm", "--pow2", "--format=32"},
         "\t32\t256\t256\t1\tyes\t"},
        {{"--add", "--pow2", "p.txd", "square.png", "--name", "flat"}, "\tdxt1\t16\t16\t1\tno\t"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(folder / "p.txd");
        std::filesystem::remove_all(folder / "out");
        RunResult added = run(c.arguments);
        ASSERT_EQ(added.exitCode, 0) << added.err;
        EXPECT_NE(run({"--list", "p.txd"}).out.find(c.listed), std::string::npos) << c.listed;
        ASSERT_EQ(run({"--extract", "p.txd", "out"}).exitCode, 0);
        const Rgba png = readPng(folder / "out/flat.png");
        const bool masked = c.arguments.size() > 4 && c.arguments[3] == "flat_mask.pgm";
        const bool flat = c.arguments.back() != "flat";
        for (std::uint32_t y = 0; y < png.height; y += 5) {
            for (std::uint32_t x = 0; x < png.width; x += 5) {
                const std::uint8_t* p = &png.pixels[(std::size_t(y) * png.width + x) * 4];
                if (flat) {
                    ASSERT_EQ(std::vector<int>(p, p + 3), (std::vector<int>{200, 50, 50})) << x << "," << y;
                }
                if (masked && (x < 120 || x > 136)) {
                    ASSERT_EQ(p[3], x < 128 ? 0 : 255) << x << "," << y;
                }
            }
        }
    }
}

// The main run keeps its result and its console text, and says on standard error what it did not
// keep: the alpha cut to one bit, a mask that holds no alpha channel.
TEST_F(ArchiveModes, MainRunWarnsWithoutChangingItsOutput) {
    writePng(folder / "rgba.png", Rgba::pattern(16, 16, true));
    writePng(folder / "rgb.png", Rgba::pattern(16, 16), false);
    writeFile(folder / "grey.pgm", encodePnm(Rgba::pattern(16, 16, true), '5'));
    struct Case {
        std::vector<std::string> arguments;
        const char* warning;
    };
    const Case cases[] = {
        {{"rgba.png", "a.txd"},
         "Warning: The texture image rgba.png has partly transparent pixels, and DXT1 keeps one bit of "
         "alpha"},
        {{"rgb.png", "b.txd", "grey.pgm"},
         "Warning: The alpha image grey.pgm holds no alpha channel, so the texture is fully opaque"},
        {{"rgb.png", "c.txd"}, nullptr},
    };
    for (const Case& c : cases) {
        RunResult result = run(c.arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out.substr(result.out.rfind('\n') + 1), "Texture file saved as: " + c.arguments[1]);
        if (c.warning)
            EXPECT_EQ(result.err.rfind(c.warning, 0), 0u) << result.err;
        else
            EXPECT_EQ(result.err, "");
    }
    // The mask without alpha leaves the texture as opaque as no mask would, in DXT3.
    ArchiveReader::Archive archive;
    ASSERT_EQ(ArchiveReader::parse(ArchiveReader::readFile(folder / "b.txd"), 0, archive), "");
    const Rgba decoded = ArchiveReader::decodeLevel0(archive.textures.at(0));
    for (std::size_t p = 0; p < 16 * 16; ++p)
        ASSERT_EQ(decoded.pixels[p * 4 + 3], 255) << p;
}

// More colours than a palette holds: --format 8 stores the colours the quantiser chose (diffused with
// --dither), exactly what the library gives for the decoded image, and the palette keeps them all.
TEST_F(ArchiveModes, EightBitRecordsStoreTheQuantisedImage) {
    const Rgba image = Rgba::pattern(64, 64);
    writePng(folder / "photo.png", image, false);
    std::vector<std::uint8_t> plain;
    for (bool dither : {false, true}) {
        SCOPED_TRACE(dither ? "dithered" : "plain");
        std::vector<std::string> arguments = {"--add", "--format", "8", "art.txd", "photo.png"};
        if (dither)
            arguments.insert(arguments.begin() + 1, "--dither");
        std::filesystem::remove(folder / "art.txd");
        RunResult result = run(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        ArchiveReader::Archive archive;
        ASSERT_EQ(ArchiveReader::parse(ArchiveReader::readFile(folder / "art.txd"), 0, archive), "");
        ASSERT_EQ(archive.textures.size(), 1u);
        const Rgba stored = expectedPixels(archive.textures[0]);

        // The library on the decoded image: B, G, R, A in, compared as R, G, B, A.
        std::vector<std::uint8_t> pixels = image.pixels;
        for (std::size_t i = 0; i < pixels.size(); i += 4)
            std::swap(pixels[i], pixels[i + 2]);
        ImageService::Quantise::Options options;
        options.dither = dither;
        ASSERT_TRUE(ImageService::Quantise::reduceColours(pixels.data(), image.width, image.height, options));
        std::vector<std::uint8_t> expected = pixels;
        for (std::size_t i = 0; i < expected.size(); i += 4)
            std::swap(expected[i], expected[i + 2]);
        EXPECT_TRUE(stored.pixels == expected);
        EXPECT_GT(psnr(image, stored), 30.0);
        if (!dither)
            plain = stored.pixels;
        else
            EXPECT_FALSE(stored.pixels == plain);
    }
}

TEST_F(ArchiveModes, RefusalsExitOneAndLeaveFilesAlone) {
    const std::string kLongName = "vehicle_wheel_rim_chrome_variant_A_diffuse";
    writePng(folder / "wall.png", Rgba::pattern(8, 8));
    for (const std::string& name : {kLongName, std::string(32, 'n'), std::string()})
        writePng(folder / (name + ".png"), Rgba::pattern(8, 8));
    writeFile(folder / "notes.txd", "not a dictionary");
    struct Case {
        std::vector<std::string> arguments;
        std::string reason;
    };
    const Case cases[] = {
        {{"--add", "notes.txd", "wall.png"}, "notes.txd is not a texture dictionary; it was left untouched"},
        {{"--add", "--format", "16", "new.txd", "wall.png"}, "--format takes dxt1, dxt3, 32 or 8, not 16"},
        {{"--add", "--mipmap", "new.txd", "wall.png"}, "unknown option --mipmap"},
        {{"--add", "new.txd"}, "--add takes an archive, an image and an optional alpha image"},
        {{"--add", "new.txd", "missing.png"}, "cannot add missing.png; new.txd was left untouched"},
        {{"--list", "notes.txd"}, "cannot list notes.txd"},
        {{"--list"}, "--list takes one archive"},
        {{"--extract", "missing.txd", "out"}, "cannot extract missing.txd"},
        {{"--add", "new.txd", kLongName + ".png"},
         "the texture name " + kLongName +
             " is 42 bytes long; the file holds at most 31: choose a shorter one with --name <name>; new.txd "
             "was left untouched"},
        {{"--add", "new.txd", std::string(32, 'n') + ".png"}, "is 32 bytes long; the file holds at most 31"},
        {{"--add", "new.txd", "wall.png", kLongName + ".png"},
         "the mask name " + kLongName +
             " is 42 bytes long; the file holds at most 31: choose a shorter one "
             "with --mask-name <name>"},
        {{"--add", "new.txd", ".png"},
         "the texture name made from .png is empty; give one with --name <name>"},
        {{"--add", "--name", "", "new.txd", "wall.png"}, "the texture name is empty; give one with --name"},
        {{"--add", "new.txd", "wall.png", ""},
         "the alpha image argument is empty; new.txd was left untouched"},
    };
    for (const Case& c : cases) {
        RunResult result = run(c.arguments);
        EXPECT_EQ(result.exitCode, 1) << c.reason;
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
    }
    EXPECT_EQ(readFile(folder / "notes.txd"), "not a dictionary");
    EXPECT_FALSE(std::filesystem::exists(folder / "new.txd"));
    EXPECT_FALSE(std::filesystem::exists(folder / "out"));

    RunResult help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* mode : {"--add", "--list", "--extract", "--version", "<texture image> <output.txd>"})
        EXPECT_NE(help.out.find(mode), std::string::npos) << mode;
    RunResult version = run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("quillpack ", 0), 0u);
}

// Names are stored whole: two long file names given their own names stay two textures, a name of 31
// bytes fits, and only really equal names (letters in either case) replace.
TEST_F(ArchiveModes, NamesThatFitAreStoredWhole) {
    const std::string fits(31, 'f');
    for (const std::string& name : {std::string("vehicle_wheel_rim_chrome_variant_A_diffuse"),
                                    std::string("vehicle_wheel_rim_chrome_variant_B_diffuse"), fits,
                                    std::string("Wall"), std::string("wall")})
        writePng(folder / (name + ".png"), Rgba::pattern(8, 8));
    struct Case {
        std::vector<std::string> arguments;
        std::string out;
    };
    const Case cases[] = {
        {{"--name", "rim_A", "n.txd", "vehicle_wheel_rim_chrome_variant_A_diffuse.png"},
         "Added rim_A to n.txd"},
        {{"--name", "rim_B", "n.txd", "vehicle_wheel_rim_chrome_variant_B_diffuse.png"},
         "Added rim_B to n.txd"},
        {{"n.txd", fits + ".png"}, "Added " + fits + " to n.txd"},
        {{"--mask-name", "m", "n.txd", "Wall.png", "wall.png"}, "Added Wall to n.txd"},
        {{"n.txd", "wall.png"}, "Replaced wall in n.txd"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {"--add"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        RunResult result = run(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out.rfind(c.out, 0), 0u) << result.out;
    }
    EXPECT_EQ(run({"--list", "n.txd"}).out,
              "index\tname\tmask\tformat\twidth\theight\tlevels\talpha\tbytes\n"
              "0\trim_A\t\tdxt1\t8\t8\t1\tno\t32\n"
              "1\trim_B\t\tdxt1\t8\t8\t1\tno\t32\n"
              "2\t" +
                  fits +
                  "\t\tdxt1\t8\t8\t1\tno\t32\n"
                  "3\twall\t\tdxt1\t8\t8\t1\tno\t32\n");
}

// Bytes after the dictionary (another program's data in the same file) are listed past and kept: an
// --add rewrites the dictionary and puts them back right after it.
TEST_F(ArchiveModes, BytesAfterTheDictionaryAreKept) {
    writePng(folder / "wall.png", Rgba::pattern(8, 8));
    writePng(folder / "sky.png", Rgba::pattern(16, 8));
    ASSERT_EQ(run({"--add", "art.txd", "wall.png"}).exitCode, 0);
    const std::string tail = std::string("not a dictionary\0\x16", 18) + std::string(3000, 'x');
    writeFile(folder / "art.txd", readFile(folder / "art.txd") + tail);
    EXPECT_EQ(run({"--list", "art.txd"}).exitCode, 0);
    for (const char* image : {"sky.png", "wall.png"}) {
        RunResult added = run({"--add", "art.txd", image});
        ASSERT_EQ(added.exitCode, 0) << added.err;
        const ArchiveReader::Bytes file = ArchiveReader::readFile(folder / "art.txd");
        ArchiveReader::Archive archive;
        ASSERT_EQ(ArchiveReader::parse(file, 0, archive), "");
        EXPECT_EQ(archive.count, 2u);
        EXPECT_TRUE(std::string(file.begin() + std::ptrdiff_t(archive.end), file.end()) == tail) << image;
    }
}

// The alpha column tells whether the stored pixels carry alpha: a DXT1 texture made with an alpha image
// says so in its flags byte (9), and the listing reads that without a look at the blocks.
TEST_F(ArchiveModes, ListShowsTheAlphaOfTheStoredPixels) {
    writePng(folder / "opaque.png", Rgba::pattern(16, 16), false);
    Rgba mask = Rgba::filled(16, 16, 0, 0, 0, 255);
    *(mask.at(5, 5) + 3) = 0;
    writePng(folder / "mask.png", mask);
    for (const auto& arguments :
         {std::vector<std::string>{"--add", "--format", "dxt1", "art.txd", "opaque.png"},
          std::vector<std::string>{"--add", "--format", "dxt1", "art.txd", "cut.png", "mask.png"},
          std::vector<std::string>{"--add", "--format", "32", "art.txd", "deep.png", "mask.png"}}) {
        if (arguments.size() == 6)
            std::filesystem::copy_file(folder / "opaque.png", folder / arguments[4],
                                       std::filesystem::copy_options::overwrite_existing);
        ASSERT_EQ(run(arguments).exitCode, 0) << arguments[4];
    }
    ArchiveReader::Archive archive;
    ASSERT_EQ(ArchiveReader::parse(ArchiveReader::readFile(folder / "art.txd"), 0, archive), "");
    EXPECT_EQ(archive.textures.at(0).flags, 8);
    EXPECT_EQ(archive.textures.at(1).flags, 9);
    RunResult listed = run({"--list", "art.txd"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out,
              "index\tname\tmask\tformat\twidth\theight\tlevels\talpha\tbytes\n"
              "0\topaque\t\tdxt1\t16\t16\t1\tno\t128\n"
              "1\tcut\tmask\tdxt1\t16\t16\t1\tyes\t128\n"
              "2\tdeep\tmask\t32\t16\t16\t1\tyes\t1024\n");
}

// Text that never arrives is a failure of every mode, as of the main run: exit 1 and the reason, even
// where the mode's work itself (a save, the files extracted) was done.
TEST_F(ArchiveModes, LostStandardOutputFailsEveryMode) {
    writePng(folder / "wall.png", Rgba::pattern(8, 8));
    ASSERT_EQ(run({"--add", "art.txd", "wall.png"}).exitCode, 0);
    struct Lost {
        StandardOutput kind;
        const char* reason;
    };
    const Lost losses[] = {{StandardOutput::Full, "No space left on device"},
                           {StandardOutput::ClosedPipe, "Broken pipe"},
                           {StandardOutput::Closed, "Bad file descriptor"}};
    const std::vector<std::vector<std::string>> modes = {{"--list", "art.txd"},
                                                         {"--extract", "art.txd", "out"},
                                                         {"--add", "art.txd", "wall.png"},
                                                         {"--help"},
                                                         {"--version"}};
    for (const Lost& lost : losses) {
        for (const auto& arguments : modes) {
            SCOPED_TRACE(arguments[0] + " " + lost.reason);
            RunResult result = runQuillpack(arguments, folder.path(), RunLimits{-1, 20, -1, 9, lost.kind});
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_NE(result.err.find(std::string("Unable to write to standard output: ") + lost.reason),
                      std::string::npos)
                << result.err;
        }
    }
    // The work was done all the same, and nothing landed in the files opened in standard output's place.
    EXPECT_EQ(readPng(folder / "out/wall.png").width, 8u);
    ArchiveReader::Archive archive;
    EXPECT_EQ(ArchiveReader::parse(ArchiveReader::readFile(folder / "art.txd"), 0, archive), "");
}

// --extract takes only the textures named (as --add finds names), and with --levels every mip level
// beside level 0's file: "<name>.1.png", ... under the name level 0 got.
TEST_F(ArchiveModes, ExtractChoosesTexturesAndLevels) {
    writePng(folder / "wall.png", Rgba::pattern(16, 8), false);
    writePng(folder / "sky.png", Rgba::pattern(8, 8), false);
    ASSERT_EQ(run({"--add", "--mipmaps", "art.txd", "wall.png"}).exitCode, 0);
    ASSERT_EQ(run({"--add", "art.txd", "sky.png"}).exitCode, 0);
    std::filesystem::create_directories(folder / "d/wall.png");  // a folder takes that name
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;
        std::vector<std::pair<std::string, std::uint32_t>> widths;  // files written and their widths
    };
    const Case cases[] = {
        {{"--extract", "art.txd", "a", "SKY"}, 0, "a/sky.png\n", {{"a/sky.png", 8}}},
        {{"--extract", "art.txd", "b", "--levels"},
         0,
         "b/wall.png\nb/wall.1.png\nb/wall.2.png\nb/wall.3.png\nb/wall.4.png\nb/sky.png\n",
         {{"b/wall.png", 16}, {"b/wall.1.png", 8}, {"b/wall.4.png", 1}, {"b/sky.png", 8}}},
        {{"--extract", "--levels", "art.txd", "d", "wall"},
         0,
         "d/wall-1.png\nd/wall-1.1.png\nd/wall-1.2.png\nd/wall-1.3.png\nd/wall-1.4.png\n",
         {{"d/wall-1.2.png", 4}}},
        {{"--extract", "art.txd", "c", "sky", "cloud", "sun"},
         1,
         "no texture named cloud, sun in art.txd",
         {}},
    };
    for (const Case& c : cases) {
        expectOutcome(run(c.arguments), c.exitCode, c.out);
        for (const auto& [file, width] : c.widths)
            EXPECT_EQ(readPng(folder / file).width, width) << file;
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "c"));
}

TEST_F(ArchiveModes, HostileNamesStayInsideTheFolder) {
    TXD::TXDArchive archive;
    for (const char* name : {"../escape", "a/b\\c", "C:drive", "ctl\x01\x1f", "", "CON", "same", "SAME",
                             ".hidden", "taken", "self"})
        archive.appendTexture(dxtRecord(name, 4, 4, 1));
    std::filesystem::create_directory(folder / "out");
    writeFile(folder / "victim", "keep");
    std::filesystem::create_symlink(folder / "victim", folder / "out/taken.png");
    ASSERT_TRUE(archive.saveFile(folder / "out/self.png", 0));

    RunResult result = run({"--extract", "out/self.png", "out"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> names = {"_._escape.png", "a_b_c.png",   "C_drive.png", "ctl__.png",
                                            "unnamed.png",   "_CON.png",    "same.png",    "SAME-1.png",
                                            "_hidden.png",   "taken-1.png", "self-1.png"};
    std::string lines;
    for (const std::string& name : names)
        lines += "out/" + name + "\n";
    EXPECT_EQ(result.out, lines);
    std::set<std::string> present;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "out"))
        present.insert(entry.path().filename().string());
    std::set<std::string> wanted(names.begin(), names.end());
    wanted.insert({"taken.png", "self.png"});
    EXPECT_EQ(present, wanted);
    EXPECT_EQ(readFile(folder / "victim"), "keep");
    EXPECT_EQ(readPng(folder / "out/_._escape.png").width, 4u);
}

// Two extractions side by side into one folder that neither found: whichever makes it, both use it,
// and a name one of them takes first passes the other to the next name or to replacing that file.
TEST_F(ArchiveModes, TwoExtractionsIntoOneNewFolderBothSucceed) {
    TXD::TXDArchive archive;
    for (const char* name : {"a", "b", "c"})
        archive.appendTexture(dxtRecord(name, 4, 4, 1));
    ASSERT_TRUE(archive.saveFile(folder / "art.txd", 0));
    for (int pair = 0; pair < 20; ++pair) {
        const std::string target = "new" + std::to_string(pair) + "/deeper";
        RunResult first, second;
        std::thread rival([&] { second = run({"--extract", "art.txd", target}); });
        first = run({"--extract", "art.txd", target});
        rival.join();
        SCOPED_TRACE("pair " + std::to_string(pair));
        EXPECT_EQ(std::tie(first.exitCode, first.err), std::tie(second.exitCode, second.err));
        EXPECT_EQ(first.exitCode, 0) << first.err;
        for (const auto& entry : std::filesystem::directory_iterator(folder / target))
            EXPECT_EQ(readPng(entry.path().string()).width, 4u) << entry.path();
    }
}

// A rival process acting at the worst moment, each file written and synced but not yet named: a link
// planted under the name, a folder put there, a file swapped for a link, the folder itself moved and
// replaced by a link. The bytes stay in the folder that was opened, never pass through a link, and a
// name taken meanwhile passes to the next one.
TEST_F(ArchiveModes, RivalAtTheLastMomentNeverRedirectsTheBytes) {
    namespace fs = std::filesystem;
    TXD::TXDArchive archive;
    for (const char* name : {"victim", "dir", "swapped", "moved"})
        archive.appendTexture(dxtRecord(name, 4, 4, 1));
    ASSERT_TRUE(archive.saveFile(folder / "art.txd", 0));
    fs::create_directories(folder / "outside");
    fs::create_directories(folder / "out");
    writeFile(folder / "outside/victim.png", "keep");
    writeFile(folder / "outside/swapped.png", "keep");
    writeFile(folder / "out/swapped.png", "an earlier extraction");

    std::vector<std::string> moments;
    FaultSeam::onMoment(FaultSeam::Moment::BeforePlacing, [&](const std::string& name) {
        moments.push_back(name);
        std::error_code ignored;
        if (name == "victim.png")
            fs::create_symlink("../outside/victim.png", folder / "out/victim.png");
        if (name == "dir.png")
            fs::create_directory(folder / "out/dir.png");
        if (name == "swapped.png") {
            fs::remove(folder / "out/swapped.png");
            fs::create_symlink("../outside/swapped.png", folder / "out/swapped.png");
        }
        if (name == "moved.png") {
            fs::rename(folder / "out", folder / "out-moved");
            fs::create_directory_symlink("outside", folder / "out");
        }
    });
    const int status = Cli::runExtract({folder / "art.txd", folder / "out"});
    FaultSeam::clearFaults();
    ASSERT_EQ(status, 0);
    EXPECT_EQ(moments, (std::vector<std::string>{"victim.png", "victim-1.png", "dir.png", "dir-1.png",
                                                 "swapped.png", "moved.png"}));
    EXPECT_EQ(readFile(folder / "outside/victim.png"), "keep");
    EXPECT_EQ(readFile(folder / "outside/swapped.png"), "keep");
    std::set<std::string> outside;
    for (const auto& entry : fs::directory_iterator(folder / "outside"))
        outside.insert(entry.path().filename().string());
    EXPECT_EQ(outside, (std::set<std::string>{"victim.png", "swapped.png"}));
    // Everything landed in the opened folder: the planted link and folder stand, the swapped-in link
    // was replaced by the file itself, and no temporary is left.
    std::set<std::string> opened;
    for (const auto& entry : fs::directory_iterator(folder / "out-moved"))
        opened.insert(entry.path().filename().string());
    EXPECT_EQ(opened, (std::set<std::string>{"victim.png", "victim-1.png", "dir.png", "dir-1.png",
                                             "swapped.png", "moved.png"}));
    EXPECT_TRUE(fs::is_symlink(folder / "out-moved/victim.png"));
    EXPECT_FALSE(fs::is_symlink(folder / "out-moved/swapped.png"));
    for (const char* name : {"victim-1.png", "dir-1.png", "swapped.png", "moved.png"})
        EXPECT_EQ(readPng(folder / ("out-moved/" + std::string(name))).width, 4u) << name;
}

}  // namespace
