// Damaged inputs and a hostile environment, through the built executable: every run ends either with
// exit 0 and a whole archive, or with exit 1, a reason on standard error and the output path as it
// was. Never a crash, a hang or a torn file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "support/ArchiveReader.h"
#include "support/ImageFiles.h"
#include "support/Process.h"
#include "support/Sanitizers.h"
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

// Under the sanitizers every other file goes through the tool; the fuzz replays still read every one
// in process there.
TEST_F(HostileInput, EveryPublicTestFileEndsCleanly) {
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(QUILLPACK_TESTDATA_DIR)) {
        if (!entry.is_regular_file())
            continue;
        if (++files % 2 == 0 && kUnderSanitizers)
            continue;
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
    writeFile(folder / "src.ppm", encodePnm(image, '7'));
    writeFile(folder / "src.pfm", encodePfm(image));
    writeFile(folder / "src.hdr", encodeHdr(image));

    std::mt19937 random(20261206);
    for (const char* name :
         {"src.png", "src.bmp", "src.tga", "src.jpg", "src.dds", "src.ppm", "src.pfm", "src.hdr"}) {
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

TEST_F(HostileInput, OutputThatIsAnInputIsRefused) {
    writePng(folder / "tex.png", Rgba::pattern(16, 16));
    writePng(folder / "mask.png", Rgba::pattern(16, 16, true));
    const std::string texture = readFile(folder / "tex.png");
    const std::string mask = readFile(folder / "mask.png");
    for (const auto& arguments : {std::vector<std::string>{"tex.png", "tex.png"},
                                  std::vector<std::string>{"tex.png", "./mask.png", "mask.png"}}) {
        RunResult result = runOnEveryBuild(arguments, folder.path());
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("the output file is an input image"), std::string::npos) << result.err;
    }
    EXPECT_EQ(readFile(folder / "tex.png"), texture);
    EXPECT_EQ(readFile(folder / "mask.png"), mask);
}

// Inputs that are no regular file, a file size limit, and a standard output that is closed or full:
// each run fails with its reason, keeps the old archive and leaves no temporary.
TEST_F(HostileInput, UnusableInputsAndOutputsFailWithTheirReason) {
    writePng(folder / "tex.png", Rgba::pattern(16, 16));
    writePng(folder / "large.png", Rgba::pattern(256, 256));  // its archive is larger than 4 KiB
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(folder / "adir");
    const RunLimits quick{-1, 10};  // opening a FIFO for reading would wait for a writer: a hang fails
    const RunLimits closedPipe{-1, 20, -1, 9, StandardOutput::ClosedPipe};
    struct Case {
        std::vector<std::string> arguments;
        RunLimits limits;
        std::string reason;
    };
    for (const Case& c :
         {Case{{"fifo", "out.txd"}, quick, "texture file fifo: not a regular file: a FIFO\n"},
          Case{{"tex.png", "out.txd", "fifo"}, quick, "alpha file fifo: not a regular file: a FIFO\n"},
          Case{{"adir", "out.txd"}, quick, "texture file adir: not a regular file: a folder\n"},
          Case{{"/dev/zero", "out.txd"},
               quick,
               "texture file /dev/zero: not a regular file: a character device\n"},
          Case{{"large.png", "out.txd"}, RunLimits{4096, 60, -1}, "Save failed, unable to write: out.txd"},
          Case{{"tex.png", "new.txd"}, closedPipe, "Unable to write to standard output: Broken pipe\n"},
          Case{{"tex.png", "new.txd"},
               RunLimits{-1, 20, -1, 9, StandardOutput::Full},
               "Unable to write to standard output: No space left on device\n"},
          Case{{"tex.png", "/dev/stdout"},
               closedPipe,
               "Save failed, unable to write: /dev/stdout: Broken pipe\n"}}) {
        RunResult result = runQuillpack(c.arguments, folder.path(), c.limits);
        EXPECT_EQ(result.exitCode, 1) << c.reason;
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
        expectCleanOutcome(result, c.reason);
    }
    // An odd resource only switches its feature off.
    std::filesystem::create_directories(folder / "resources/textures");
    ASSERT_EQ(mkfifo((folder / "resources/textures/texture.dds").c_str(), 0600), 0);
    EXPECT_EQ(runQuillpack({"tex.png", "out.txd"}, folder.path(), quick).exitCode, 0);
}

TEST_F(HostileInput, OutputIsWrittenByWhatItIsNotByItsName) {
    writePng(folder / "tex.png", Rgba::pattern(64, 64));
    ASSERT_EQ(runQuillpack({"tex.png", "fresh.txd"}, folder.path()).exitCode, 0);
    const std::string archive = readFile(folder / "fresh.txd");
    // A regular file behind /proc is replaced whole: no stale tail of the longer old file stays.
    writeFile(folder / "out.txd", std::string(100000, 'x'));
    RunResult viaProc = runQuillpack({"tex.png", "/proc/self/cwd/out.txd"}, folder.path());
    EXPECT_EQ(viaProc.exitCode, 0) << viaProc.err;
    EXPECT_EQ(readFile(folder / "out.txd"), archive);

    // Standard output as the output, redirected to a file or a pipe: it carries the archive alone,
    // and the console text moves to standard error.
    for (StandardOutput kind : {StandardOutput::File, StandardOutput::Pipe}) {
        RunResult result =
            runQuillpack({"tex.png", "/dev/stdout"}, folder.path(), RunLimits{-1, 20, -1, 9, kind});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(result.out == archive) << "standard output holds " << result.out.size() << " bytes";
        EXPECT_NE(result.err.find("Texture file saved as: /dev/stdout"), std::string::npos);
    }
    writeFile(folder / "out.txd", kOldArchive);
}

TEST_F(HostileInput, KilledMidRunLeavesTheOldFileOrTheNewOneNeverATornOne) {
    writePng(folder / "tex.png", Rgba::pattern(1024, 1024));
    RunResult complete = runQuillpack({"tex.png", "new.txd"}, folder.path());
    ASSERT_EQ(complete.exitCode, 0);
    const std::string finished = readFile(folder / "new.txd");
    std::filesystem::remove(folder / "new.txd");
    for (int signal : {SIGKILL, SIGTERM, SIGINT, SIGHUP}) {
        for (int delay = 5; delay <= 400; delay += 65) {
            RunResult result =
                runQuillpack({"tex.png", "out.txd"}, folder.path(), RunLimits{-1, 60, delay, signal});
            std::string output = readFile(folder / "out.txd");
            SCOPED_TRACE("signal " + std::to_string(signal) + " after " + std::to_string(delay) + " ms");
            EXPECT_TRUE(output == kOldArchive || output == finished);
            EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 128 + signal) << result.exitCode;
            writeFile(folder / "out.txd", kOldArchive);
            // Only SIGKILL may strand the temporary file of an unfinished save; it never takes the
            // output's name.
            for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
                if (entry.path().filename().string()[0] != '.')
                    continue;
                EXPECT_EQ(signal, SIGKILL) << "temporary left behind";
                std::filesystem::remove(entry.path());
            }
        }
    }
}

}  // namespace
