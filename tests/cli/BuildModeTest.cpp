// Whole dictionaries in one call: --build from a folder or a list file gives, byte for byte, what the
// same --add runs into a new archive give; bad inputs are all named and nothing is written unless
// --keep-going says so; --remove and --rename edit by name and keep every other record.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/ImageFiles.h"
#include "support/Process.h"
#include "support/TempFolder.h"

namespace {

using Strings = std::vector<std::string>;

class BuildMode : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(folder / "art/sub");
        writePng(folder / "art/wall.png", Rgba::pattern(32, 16), false);
        writePng(folder / "art/Leaf.png", Rgba::pattern(16, 16), false);
        writeFile(folder / "art/leaf_alpha.pgm", encodePnm(Rgba::pattern(16, 16, true), '5'));
        writePng(folder / "art/glass.png", Rgba::pattern(8, 8, true));  // its own alpha
        writeJpeg(folder / "art/crate.jpg", Rgba::pattern(16, 32));
        writeFile(folder / "art/notes.txt", "not an image");
        writePng(folder / "art/sub/deeper.png", Rgba::pattern(8, 8));  // folders are not entered
    }
    RunResult run(const Strings& arguments) { return runOnEveryBuild(arguments, folder.path()); }
    // The archive that --add runs, one per argument list, make from nothing.
    std::string added(const std::vector<Strings>& runs) {
        std::filesystem::remove(folder / "added.txd");
        for (Strings arguments : runs) {
            arguments.insert(arguments.begin(), {"--add", "added.txd"});
            EXPECT_EQ(runQuillpack(arguments, folder.path()).exitCode, 0)
                << testing::PrintToString(arguments);
        }
        return readFile(folder / "added.txd");
    }
    TempFolder folder;
};

TEST_F(BuildMode, FolderAndListGiveTheBytesOfTheSameAdds) {
    writeFile(folder / "art/list.txt",
              "# textures for the props\n"
              "\n"
              "wall.png --format 32   # comment after the words\n"
              "  'Leaf.png' leaf_alpha.pgm --name leaf --mask-name leaf_m\n"
              "\"crate.jpg\" --format=DXT3\r\n"
              "sub/deeper.png --mipmaps\n");
    std::filesystem::copy(folder / "art/wall.png", folder / "art/sub/with space.png");
    writeFile(folder / "art/spaces.txt", "\"sub/with space.png\" --name spaced\n");
    struct Case {
        Strings arguments;
        std::vector<Strings> adds;
        std::string out;
    };
    const Case cases[] = {
        // Bytewise order: capitals first; the mask belongs to Leaf whatever the case.
        {{"--build", "out.txd", "art"},
         {{"art/Leaf.png", "art/leaf_alpha.pgm"}, {"art/crate.jpg"}, {"art/glass.png"}, {"art/wall.png"}},
         "Built out.txd: 4 textures\n"},
        // Options anywhere, in any case, as every texture's default.
        {{"--build", "out.txd", "art", "--format", "DxT1", "--format", "8", "-q"},
         {{"--format", "8", "art/Leaf.png", "art/leaf_alpha.pgm"},
          {"--format", "8", "art/crate.jpg"},
          {"--format", "8", "art/glass.png"},
          {"--format", "8", "art/wall.png"}},
         ""},
        {{"--build", "out.txd", "art/list.txt", "--mipmaps"},
         {{"--mipmaps", "--format", "32", "art/wall.png"},
          {"--mipmaps", "--name", "leaf", "--mask-name", "leaf_m", "art/Leaf.png", "art/leaf_alpha.pgm"},
          {"--mipmaps", "--format", "dxt3", "art/crate.jpg"},
          {"--mipmaps", "art/sub/deeper.png"}},
         "Built out.txd: 4 textures\n"},
        {{"--build", "out.txd", "art/spaces.txt"},
         {{"--name", "spaced", "art/sub/with space.png"}},
         "Built out.txd: 1 texture\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        std::filesystem::remove(folder / "out.txd");
        RunResult built = run(c.arguments);
        ASSERT_EQ(built.exitCode, 0) << built.err;
        EXPECT_EQ(built.out, c.out);
        EXPECT_EQ(built.err, "");
        EXPECT_TRUE(readFile(folder / "out.txd") == added(c.adds))
            << "the archive differs from the --add runs'";
    }
}

TEST_F(BuildMode, EveryBadInputIsNamedAndNothingIsWrittenUnlessKeepGoing) {
    writePng(folder / "art/odd.png", Rgba::pattern(24, 16));
    writeFile(folder / "art/broken.png", readFile(folder / "art/wall.png").substr(0, 60));
    writePng(folder / "art/wall_mask.png", Rgba::pattern(32, 16, true));
    writePng(folder / "art/wall_alpha.png", Rgba::pattern(32, 16, true));
    writePng(folder / "art/" + std::string(40, 'x') + ".png", Rgba::pattern(8, 8));
    writeFile(folder / "keep.txd", "old archive");
    const Strings wanted = {
        "quillpack: wall.png: two alpha images, wall_alpha.png and wall_mask.png",
        "quillpack: broken.png: cannot add art/broken.png",
        "quillpack: odd.png: cannot add art/odd.png (--pow2 resizes it to the nearest powers of two)",
        "Texture width for odd is not a power of two: 24",
        "quillpack: " + std::string(40, 'x') + ".png: the texture name " + std::string(40, 'x') +
            " is 40 bytes",
    };
    RunResult refused = run({"--build", "keep.txd", "art"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "");
    for (const std::string& line : wanted)
        EXPECT_NE(refused.err.find(line), std::string::npos) << line << "\nnot in:\n" << refused.err;
    EXPECT_NE(refused.err.find("4 of 7 inputs could not be packed; keep.txd was left untouched"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(readFile(folder / "keep.txd"), "old archive");

    RunResult kept = run({"--build", "keep.txd", "art", "--keep-going"});
    EXPECT_EQ(kept.exitCode, 1);
    EXPECT_EQ(kept.out, "Built keep.txd: 3 textures\n");
    EXPECT_TRUE(readFile(folder / "keep.txd") ==
                added({{"art/Leaf.png", "art/leaf_alpha.pgm"}, {"art/crate.jpg"}, {"art/glass.png"}}));
}

TEST_F(BuildMode, RefusalsOfTheWholeBuild) {
    writeFile(folder / "bad.txt", "wall.png 'open quote\nart/wall.png --frmat 8\nart/wall.png a b\n");
    writeFile(folder / "twice.txt", "art/wall.png\nart/crate.jpg --name WALL\n");
    writeFile(folder / "list.txt", "art/wall.png\n");
    std::filesystem::create_directory(folder / "empty");
    struct Case {
        Strings arguments;
        Strings reasons;
    };
    const Case cases[] = {
        {{"--build", "out.txd", "bad.txt"},
         {"bad.txt:1: a quote is not closed", "bad.txt:2: unknown option --frmat; did you mean --format?",
          "bad.txt:3: a line holds an image, an optional alpha image and options"}},
        {{"--build", "out.txd", "twice.txt"},
         {"the texture name WALL is also the name of twice.txt:1 art/wall.png"}},
        {{"--build", "out.txd", "empty"}, {"no images in empty; out.txd was left untouched"}},
        {{"--build", "out.txd", "missing"}, {"missing is neither a folder nor a list file"}},
        {{"--build", "art/wall.png", "art"}, {"art/wall.png is one of the images to pack"}},
        {{"--build", "list.txt", "list.txt"}, {"list.txt is the list file to read"}},
        {{"--build", "out.txd"}, {"--build takes an archive and a folder or list file"}},
        {{"--build", "out.txd", "art", "--name", "x"}, {"--name is not an option of this mode"}},
    };
    for (const Case& c : cases) {
        RunResult result = run(c.arguments);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        for (const std::string& reason : c.reasons)
            EXPECT_NE(result.err.find(reason), std::string::npos) << reason << "\nnot in:\n" << result.err;
        EXPECT_FALSE(std::filesystem::exists(folder / "out.txd"));
    }
    EXPECT_EQ(readFile(folder / "list.txt"), "art/wall.png\n");
}

TEST_F(BuildMode, RemoveAndRenameKeepEveryOtherRecord) {
    ASSERT_EQ(run({"--build", "art.txd", "art"}).exitCode, 0);
    const std::string before = readFile(folder / "art.txd");
    struct Case {
        Strings arguments;
        int exitCode;
        std::string out;            // or the reason on standard error
        std::vector<Strings> adds;  // the archive it leaves, as --add runs; empty: unchanged
    };
    const Case cases[] = {
        {{"--remove", "art.txd", "GLASS", "crate"},
         0,
         "Removed GLASS from art.txd\nRemoved crate from art.txd\n",
         {{"art/Leaf.png", "art/leaf_alpha.pgm"}, {"art/wall.png"}}},
        {{"--rename", "art.txd", "wall", "brick"},
         0,
         "Renamed wall to brick in art.txd\n",
         {{"art/Leaf.png", "art/leaf_alpha.pgm"},
          {"art/crate.jpg"},
          {"art/glass.png"},
          {"--name", "brick", "art/wall.png"}}},
        {{"--remove", "art.txd", "glass", "nothere", "gone"},
         1,
         "no texture named nothere, gone in the archive",
         {}},
        {{"--rename", "art.txd", "wall", "leaf"}, 1, "a texture named Leaf is already in the archive", {}},
        {{"--rename", "art.txd", "wall", std::string(32, 'w')},
         1,
         "is 32 bytes long; the file holds at most 31",
         {}},
        {{"--rename", "art.txd", "nothere", "x"}, 1, "no texture named nothere in the archive", {}},
        {{"--remove", "art.txd"}, 1, "--remove takes an archive and the names to take out", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        writeFile(folder / "art.txd", before);
        expectOutcome(run(c.arguments), c.exitCode, c.out);
        EXPECT_TRUE(readFile(folder / "art.txd") == (c.adds.empty() ? before : added(c.adds)));
    }
}

}  // namespace
