// Damaged inputs and a hostile environment, through the built executable: every run ends either with
// exit 0 and a whole archive, or with exit 1, a reason on standard error and the output path as it
// was. Never a crash, a hang or a torn file.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "support/ArchiveReader.h"
#include "support/ImageFiles.h"
#include "support/Process.h"
#include "support/TempFolder.h"

namespace {

const char kOldArchive[] = "the previous archive";

class HostileInput : public ::testing::Test {
protected:
    void SetUp() override { writeFile(folder / "out.txd", kOldArchive); }

    // Checks one finished run against the two outcomes a user may ever see.
    void expectCleanOutcome(const RunResult& result, const std::string& what) {
        std::string output = readFile(folder / "out.txd");
        if (result.exitCode == 0) {
            ArchiveReader::Archive archive;
            ArchiveReader::Bytes bytes(output.begin(), output.end());
            EXPECT_EQ(ArchiveReader::parse(bytes, 0, archive), "") << what;
            EXPECT_EQ(archive.count, 1u) << what;
        } else {
            EXPECT_EQ(result.exitCode, 1) << what << "\n" << result.err;
            EXPECT_FALSE(result.err.empty()) << what;
            EXPECT_EQ(output, kOldArchive) << what;
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            EXPECT_NE(entry.path().filename().string()[0], '.') << what << ": temporary left behind";
        }
    }

    TempFolder folder;
};

TEST_F(HostileInput, EveryPublicTestFileEndsCleanly) {
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(QUILLPACK_TESTDATA_DIR)) {
        if (!entry.is_regular_file())
            continue;
        ++files;
        expectCleanOutcome(
            runQuillpack({entry.path().string(), "out.txd"}, folder.path(), RunLimits{-1, 20, -1}),
            entry.path().string());
        writeFile(folder / "out.txd", kOldArchive);
    }
    EXPECT_GT(files, 500);
}

TEST_F(HostileInput, MutantsOfEveryFormatEndCleanly) {
    Rgba image = Rgba::pattern(32, 32, true);
    writePng(folder / "src.png", image);
    writeBmp(folder / "src.bmp", image);
    writeTga(folder / "src.tga", image);
    writeJpeg(folder / "src.jpg", image);
    std::vector<std::uint8_t> blocks(32 * 32 / 2);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = static_cast<std::uint8_t>(i * 131);
    writeDxt1Dds(folder / "src.dds", 32, 32, blocks);

    std::mt19937 random(20261206);
    for (const char* name : {"src.png", "src.bmp", "src.tga", "src.jpg", "src.dds"}) {
        const std::string original = readFile(folder / name);
        std::vector<std::string> mutants;
        for (int cut = 1; cut <= 24; ++cut)
            mutants.push_back(original.substr(0, original.size() * cut / 25));
        for (int flip = 0; flip < 36; ++flip) {
            std::string mutant = original;
            std::size_t at = random() % std::min<std::size_t>(mutant.size(), flip < 24 ? 64 : mutant.size());
            mutant[at] = static_cast<char>(random() & 0xFF);
            mutants.push_back(mutant);
        }
        for (std::size_t i = 0; i < mutants.size(); ++i) {
            writeFile(folder / "mutant", mutants[i]);
            // The same damaged file as texture and, every other run, as alpha image.
            std::vector<std::string> arguments{"mutant", "out.txd"};
            if (i % 2)
                arguments.push_back("mutant");
            expectCleanOutcome(runQuillpack(arguments, folder.path(), RunLimits{-1, 20, -1}),
                               std::string(name) + " mutant " + std::to_string(i));
            writeFile(folder / "out.txd", kOldArchive);
        }
    }
}

TEST_F(HostileInput, FileSizeLimitFailsTheSaveAndKeepsTheOldFile) {
    writePng(folder / "tex.png", Rgba::pattern(256, 256));
    RunResult result = runQuillpack({"tex.png", "out.txd"}, folder.path(), RunLimits{4096, 60, -1});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Save failed, unable to write: out.txd"), std::string::npos) << result.err;
    expectCleanOutcome(result, "ulimit -f");
}

TEST_F(HostileInput, OutputThatIsAnInputIsRefused) {
    writePng(folder / "tex.png", Rgba::pattern(16, 16));
    writePng(folder / "mask.png", Rgba::pattern(16, 16, true));
    const std::string texture = readFile(folder / "tex.png");
    const std::string mask = readFile(folder / "mask.png");
    for (const auto& arguments : {std::vector<std::string>{"tex.png", "tex.png"},
                                  std::vector<std::string>{"tex.png", "./mask.png", "mask.png"}}) {
        RunResult result = runQuillpack(arguments, folder.path());
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("the output file is an input image"), std::string::npos) << result.err;
    }
    EXPECT_EQ(readFile(folder / "tex.png"), texture);
    EXPECT_EQ(readFile(folder / "mask.png"), mask);
}

TEST_F(HostileInput, KilledMidRunLeavesTheOldFileOrTheNewOneNeverATornOne) {
    writePng(folder / "tex.png", Rgba::pattern(1024, 1024));
    RunResult complete = runQuillpack({"tex.png", "new.txd"}, folder.path());
    ASSERT_EQ(complete.exitCode, 0);
    const std::string finished = readFile(folder / "new.txd");
    std::filesystem::remove(folder / "new.txd");
    for (int delay = 5; delay <= 400; delay += 35) {
        runQuillpack({"tex.png", "out.txd"}, folder.path(), RunLimits{-1, 60, delay});
        std::string output = readFile(folder / "out.txd");
        EXPECT_TRUE(output == kOldArchive || output == finished) << "killed after " << delay << " ms";
        writeFile(folder / "out.txd", kOldArchive);
        // A kill may strand the temporary file of an unfinished save; it never takes the output's name.
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            if (entry.path().filename().string()[0] == '.')
                std::filesystem::remove(entry.path());
        }
    }
}

}  // namespace
