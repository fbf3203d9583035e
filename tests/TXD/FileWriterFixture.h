// The archive and file a save test works on, shared by the portable file writer tests and the
// POSIX-only ones.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ImageService/Direct3D/TestSeams.h"
#include "TXD/TXDArchive.h"
#include "support/ArchiveReader.h"
#include "support/Records.h"
#include "support/TempFolder.h"

inline std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

class FileWriterTest : public testing::Test {
protected:
    void TearDown() override { ImageService::TestSeams::clearFaults(); }

    // Saves, parses and returns the archive written at `position`.
    ArchiveReader::Archive saveAndParse(std::int32_t position = 0) { return saveAndParse(archive, position); }
    ArchiveReader::Archive saveAndParse(TXD::TXDArchive& from, std::int32_t position = 0) {
        EXPECT_TRUE(from.saveFile(path, position));
        bytes = ArchiveReader::readFile(path);
        ArchiveReader::Archive parsed;
        EXPECT_EQ(ArchiveReader::parse(bytes, static_cast<std::size_t>(position), parsed), "");
        return parsed;
    }
    // A failed save leaves the file, the archive's state and the folder as they were.
    void expectUntouched(const std::string& before, std::size_t entries = 1) {
        EXPECT_EQ(readFile(path), before);
        EXPECT_TRUE(archive.changed);
        EXPECT_TRUE(archive.filePath.empty());
        EXPECT_EQ(archive.streamPosition, 0);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), long(entries))
            << "a temporary file was left behind";
    }
    std::string saveError(const std::string& reason, const std::string& target) {
        return std::string("TXD::TXDArchive::saveFile(") + reason + target;
    }

    TempFolder folder;
    std::string path = folder / "out.txd";
    TXD::TXDArchive archive;
    ArchiveReader::Bytes bytes;
};

class FileWriterSafetyTest : public FileWriterTest {
protected:
    void SetUp() override {
        archive.appendTexture(dxtRecord("small", 8, 8, 1));
        archive.changed = true;
    }
};
