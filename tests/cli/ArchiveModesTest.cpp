// The archive modes end to end: four --add runs build one dictionary that the tests' own reader
// parses, --list shows it, --extract gives the decoded pixels, a second --add of a name replaces
// only that record, refusals leave files alone, and hostile names never escape the folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "Cli/Modes.h"
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

TEST_F(ArchiveModes, RefusalsExitOneAndLeaveFilesAlone) {
    writePng(folder / "wall.png", Rgba::pattern(8, 8));
    writeFile(folder / "notes.txd", "not a dictionary");
    struct Case {
        std::vector<std::string> arguments;
        const char* reason;
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
    };
    for (const Case& c : cases) {
        RunResult result = run(c.arguments);
        EXPECT_EQ(result.exitCode, 1) << c.reason;
        EXPECT_NE(result.err.find(std::string("quillpack: ") + c.reason), std::string::npos) << result.err;
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
