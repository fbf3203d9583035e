// Saves onto what only POSIX file systems have: devices, permission bits and the umask, symbolic
// links, FIFOs and read-only folders. The save either replaces the file whole or refuses and leaves it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "TXD/FileWriterFixture.h"
#include "support/LogCapture.h"

namespace {

unsigned modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

TEST_F(FileWriterSafetyTest, FullDeviceFailsAndStaysADevice) {
    LogCapture log;
    EXPECT_FALSE(archive.saveFile("/dev/full", 0));
    EXPECT_EQ(log.errors(),
              std::vector<std::string>{saveError("245) - Save failed, unable to write: ", "/dev/full")});
    EXPECT_TRUE(log.info().empty());
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_TRUE(archive.changed);
    EXPECT_TRUE(archive.filePath.empty());
}

TEST_F(FileWriterSafetyTest, PermissionsAndLinksSurvive) {
    writeFile(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(archive.saveFile(path, 0));
    EXPECT_EQ(modeOf(path), 0640u);

    const mode_t previous = ::umask(027);
    const bool saved = archive.saveFile(folder / "new.txd", 0);
    ::umask(previous);
    ASSERT_TRUE(saved);
    EXPECT_EQ(modeOf(folder / "new.txd"), 0640u);

    std::filesystem::create_symlink("new.txd", folder / "link.txd");
    ASSERT_TRUE(archive.saveFile(folder / "link.txd", 0));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.txd"));
    ArchiveReader::Archive parsed;
    EXPECT_EQ(ArchiveReader::parse(ArchiveReader::readFile(folder / "new.txd"), 0, parsed), "");
}

TEST_F(FileWriterSafetyTest, PathsThatCannotBeOpenedAreRefused) {
    std::filesystem::create_directory(folder / "sub");
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    // A percent sign in the path must come out literally.
    for (const std::string& target :
         {folder / "missing/out.txd", folder / "sub", folder / "pipe", folder / "missing%s%n/out.txd"}) {
        LogCapture log;
        EXPECT_FALSE(archive.saveFile(target, 0));
        EXPECT_EQ(log.errors(),
                  std::vector<std::string>{saveError("159) - Save canceled, stream not open: ", target)});
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder / "sub"));
    EXPECT_TRUE(std::filesystem::is_fifo(folder / "pipe"));
    expectUntouched("", 2);
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
    const std::string line = saveError("159) - Save canceled, stream not open: ", path);
    EXPECT_EQ(log.errors(), std::vector<std::string>({line, line}));
}

}  // namespace
