// A save either replaces the file whole or leaves it exactly as it was: write failures at every
// step, devices, offsets inside existing files, permissions, links, and paths that cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "ImageService/TestSeams.h"
#include "ImageService/Texture.h"
#include "support/ArchiveReader.h"
#include "TXD/TXDArchive.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace {

using ImageService::Operation;
namespace TestSeams = ImageService::TestSeams;

TXD::TextureRecord smallRecord(unsigned side = 8) {
    TXD::TextureRecord record;
    EXPECT_EQ(ImageService::IDirect3DTexture9::create(side, side, 1, 0, ImageService::D3DFMT_DXT1,
                                                      ImageService::D3DPOOL_MANAGED, &record.texture),
              ImageService::D3D_OK);
    for (std::size_t i = 0; i < record.texture->levelSize(0); ++i) {
        record.texture->levelBytes(0)[i] = static_cast<std::uint8_t>(i + 1);
    }
    record.setName("small");
    record.depth = 16;
    record.rasterFormat = 0x200;
    record.width = static_cast<std::int16_t>(side);
    record.height = static_cast<std::int16_t>(side);
    return record;
}

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

std::size_t entries(const TempFolder& folder) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        (void)entry;
        ++count;
    }
    return count;
}

unsigned modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

class FileWriterSafetyTest : public testing::Test {
protected:
    void SetUp() override {
        archive.appendTexture(smallRecord());
        archive.changed = true;
    }
    void TearDown() override { TestSeams::clearFaults(); }

    void expectUntouched(const std::string& before) {
        EXPECT_EQ(readFile(path), before);
        EXPECT_TRUE(archive.changed);
        EXPECT_TRUE(archive.filePath.empty());
        EXPECT_EQ(archive.streamPosition, 0);
    }

    TempFolder folder;
    std::string path = folder / "out.txd";
    TXD::TXDArchive archive;
};

TEST_F(FileWriterSafetyTest, FullDeviceFailsAndStaysADevice) {
    LogCapture log;
    EXPECT_FALSE(archive.saveFile("/dev/full", 0));
    ASSERT_EQ(log.errors().size(), 1u);
    EXPECT_EQ(log.errors()[0], "TXD::TXDArchive::saveFile(245) - Save failed, unable to write: /dev/full");
    EXPECT_TRUE(log.info().empty());
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_TRUE(archive.changed);
    EXPECT_TRUE(archive.filePath.empty());
}

TEST_F(FileWriterSafetyTest, FailureAtEveryStepLeavesThePreviousFile) {
    const std::string before = pattern(5000);
    writeFile(path, before);
    // Step through every write, seek, sync, close and rename of the save until one goes through.
    bool saved = false;
    int step = 0;
    for (; step < 200 && !saved; ++step) {
        TestSeams::clearFaults();
        TestSeams::injectFault(Operation::FileWrite, ImageService::E_FAIL, step);
        LogCapture log;
        saved = archive.saveFile(path, 0);
        if (saved)
            break;
        SCOPED_TRACE("failing step " + std::to_string(step));
        expectUntouched(before);
        EXPECT_EQ(entries(folder), 1u) << "a temporary file was left behind";
        ASSERT_EQ(log.errors().size(), 1u);
        EXPECT_EQ(log.errors()[0], "TXD::TXDArchive::saveFile(245) - Save failed, unable to write: " + path);
    }
    ASSERT_TRUE(saved);
    EXPECT_GT(step, 15);  // headers, counts, patches, sync, close and rename all had their turn
    ArchiveReader::Archive parsed;
    EXPECT_EQ(ArchiveReader::parse(ArchiveReader::readFile(path), 0, parsed), "");
    EXPECT_EQ(entries(folder), 1u);
}

TEST_F(FileWriterSafetyTest, LockFailureLeavesThePreviousFileAndNoLock) {
    writeFile(path, "previous");
    TestSeams::injectFault(Operation::LockRect, ImageService::D3DERR_INVALIDCALL);
    LogCapture log;
    EXPECT_FALSE(archive.saveFile(path, 0));
    expectUntouched("previous");
    EXPECT_EQ(entries(folder), 1u);
    EXPECT_EQ(log.errors().size(), 1u);
    // The level was not left locked: the next save reads it.
    EXPECT_TRUE(archive.saveFile(path, 0));
}

TEST_F(FileWriterSafetyTest, OffsetInsideAnExistingFileKeepsTheRest) {
    const std::string before = pattern(20000);
    writeFile(path, before);
    ASSERT_TRUE(archive.saveFile(path, 1000));
    EXPECT_EQ(archive.streamPosition, 1000);
    const std::string after = readFile(path);
    ASSERT_EQ(after.size(), before.size());
    ArchiveReader::Archive parsed;
    ASSERT_EQ(ArchiveReader::parse(ArchiveReader::readFile(path), 1000, parsed), "");
    EXPECT_EQ(after.substr(0, 1000), before.substr(0, 1000));
    EXPECT_EQ(after.substr(parsed.end), before.substr(parsed.end));

    // A failed save at an offset is all-or-nothing too.
    archive.changed = true;
    TestSeams::injectFault(Operation::FileWrite, ImageService::E_FAIL, 3);
    EXPECT_FALSE(archive.saveFile(path, 2000));
    EXPECT_EQ(readFile(path), after);
    EXPECT_EQ(archive.streamPosition, 1000);
    EXPECT_EQ(entries(folder), 1u);
}

TEST_F(FileWriterSafetyTest, PermissionsSurviveAndNewFilesFollowTheUmask) {
    writeFile(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(archive.saveFile(path, 0));
    EXPECT_EQ(modeOf(path), 0640u);

    const mode_t previous = ::umask(027);
    const bool saved = archive.saveFile(folder / "new.txd", 0);
    ::umask(previous);
    ASSERT_TRUE(saved);
    EXPECT_EQ(modeOf(folder / "new.txd"), 0640u);
}

TEST_F(FileWriterSafetyTest, SymlinkedFileIsReplacedThroughTheLink) {
    writeFile(folder / "real.txd", "old");
    std::filesystem::create_symlink("real.txd", path);
    ASSERT_TRUE(archive.saveFile(path, 0));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    ArchiveReader::Archive parsed;
    EXPECT_EQ(ArchiveReader::parse(ArchiveReader::readFile(folder / "real.txd"), 0, parsed), "");
    EXPECT_EQ(archive.filePath, path);
}

TEST_F(FileWriterSafetyTest, PathsThatCannotBeOpenedAreRefused) {
    std::filesystem::create_directory(folder / "sub");
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    // A percent sign in the path must come out literally.
    const std::string refused[] = {folder / "missing/out.txd", folder / "sub", folder / "pipe",
                                   folder / "missing%s%n/out.txd"};
    for (const std::string& target : refused) {
        SCOPED_TRACE(target);
        LogCapture log;
        EXPECT_FALSE(archive.saveFile(target, 0));
        ASSERT_EQ(log.errors().size(), 1u);
        EXPECT_EQ(log.errors()[0],
                  "TXD::TXDArchive::saveFile(159) - Save canceled, stream not open: " + target);
        EXPECT_TRUE(archive.changed);
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder / "sub"));
    EXPECT_TRUE(std::filesystem::is_fifo(folder / "pipe"));
    EXPECT_EQ(entries(folder), 2u);
}

TEST_F(FileWriterSafetyTest, ReadOnlyFolderOrFileRefusesAndKeepsTheFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not bind the superuser";
    writeFile(path, "old");
    ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
    LogCapture log;
    EXPECT_FALSE(archive.saveFile(path, 0));
    ::chmod(folder.path().c_str(), 0755);

    // Renaming over a file the user may not write would sidestep its protection.
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(archive.saveFile(path, 0));
    expectUntouched("old");
    EXPECT_EQ(entries(folder), 1u);
    ASSERT_EQ(log.errors().size(), 2u);
    EXPECT_EQ(log.errors()[0], "TXD::TXDArchive::saveFile(159) - Save canceled, stream not open: " + path);
    EXPECT_EQ(log.errors()[1], log.errors()[0]);
}

}  // namespace
