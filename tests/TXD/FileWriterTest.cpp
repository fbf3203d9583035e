// The archive file to the byte (the worked DXT1 example, every record kind, both native header
// layouts, round trips through the independent reader), and a save that either replaces the file
// whole or leaves it exactly as it was: write failures at every step and offsets inside existing
// files. FileWriterPosixTest.cpp adds what only POSIX file systems have.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>

#include "ImageService/Direct3D/TestSeams.h"
#include "ImageService/Direct3D/Texture.h"
#include "TXD/FileWriterFixture.h"
#include "TXD/TXDArchive.h"
#include "support/ArchiveReader.h"
#include "support/LogCapture.h"
#include "support/Records.h"
#include "support/TempFolder.h"
#include "support/Textures.h"

namespace {

using ArchiveReader::Bytes;
using namespace ImageService;

std::string hexAt(const Bytes& bytes, std::size_t offset, std::size_t count) {
    std::string out;
    for (std::size_t i = offset; i < offset + count && i < bytes.size(); ++i) {
        char cell[4];
        std::snprintf(cell, sizeof cell, "%02X", bytes[i]);
        out += (out.empty() ? "" : " ") + std::string(cell);
    }
    return out;
}

TEST_F(FileWriterTest, WorkedDxt1ExampleMatchesToTheByte) {
    archive.version = TXD::TXDArchive::kPlatform9Version;
    archive.appendTexture(dxtRecord("brick", 256, 256, 1));
    archive.changed = true;
    LogCapture log;

    ASSERT_TRUE(archive.saveFile(path, 0));
    Bytes file = ArchiveReader::readFile(path);
    ASSERT_EQ(file.size(), 32936u);
    EXPECT_EQ(hexAt(file, 0, 12), "16 00 00 00 9C 80 00 00 FF FF 03 18");
    EXPECT_EQ(hexAt(file, 12, 12), "01 00 00 00 04 00 00 00 FF FF 03 18");
    EXPECT_EQ(hexAt(file, 24, 4), "01 00 00 00");
    EXPECT_EQ(hexAt(file, 28, 12), "15 00 00 00 74 80 00 00 FF FF 03 18");
    EXPECT_EQ(hexAt(file, 40, 12), "01 00 00 00 5C 80 00 00 FF FF 03 18");
    EXPECT_EQ(hexAt(file, 52, 8), "09 00 00 00 00 00 00 00");
    Bytes names(64, 0);
    std::copy_n("brick", 5, names.begin());
    EXPECT_EQ(Bytes(file.begin() + 60, file.begin() + 124), names);
    EXPECT_EQ(hexAt(file, 124, 8), "00 02 00 00 44 58 54 31");
    EXPECT_EQ(hexAt(file, 132, 8), "00 01 00 01 10 01 04 08");
    EXPECT_EQ(hexAt(file, 140, 4), "00 80 00 00");
    EXPECT_EQ(Bytes(file.begin() + 144, file.begin() + 32912), bytesOf(archive.getTexture(0).texture, 0));
    EXPECT_EQ(hexAt(file, 32912, 12), "03 00 00 00 00 00 00 00 FF FF 03 18");
    EXPECT_EQ(hexAt(file, 32924, 12), "03 00 00 00 00 00 00 00 FF FF 03 18");

    EXPECT_FALSE(archive.changed);
    EXPECT_EQ(archive.filePath, path);
    EXPECT_EQ(log.info(),
              std::vector<std::string>{"TXD::TXDArchive::saveFile(250) - Saved a texture archive with 1 "
                                       "textures as: " +
                                       path});
    EXPECT_TRUE(log.errors().empty());

    // Nothing in the archive changes, so a second save writes the same bytes.
    ASSERT_TRUE(archive.saveFile("", 0));
    EXPECT_EQ(ArchiveReader::readFile(path), file);
}

TEST_F(FileWriterTest, EmptyArchiveIsFortyBytes) {
    ASSERT_TRUE(archive.saveFile(path, 0));
    EXPECT_EQ(hexAt(ArchiveReader::readFile(path), 0, 100),
              "16 00 00 00 1C 00 00 00 FF FF 02 0C 01 00 00 00 04 00 00 00 FF FF 02 0C 00 00 00 00 "
              "03 00 00 00 00 00 00 00 FF FF 02 0C");
}

// Every record kind in both header layouts: its format code and flags, and each level it stores. DXT
// records keep their whole chain; the others only level 0, whatever their level count says.
TEST_F(FileWriterTest, EachRecordKindStoresItsFormatFlagsAndLevels) {
    const std::uint32_t nine = TXD::TXDArchive::kPlatform9Version, eight = TXD::TXDArchive::kDefaultVersion;
    const std::uint32_t dxt1 = 0x31545844, dxt3 = 0x33545844;  // "DXT1" and "DXT3" as stored
    TXD::TextureRecord indexed = makeRecord("pal", D3DFMT_A8R8G8B8, 0x2500, 8, 4, 2, 3);
    // Colours held B, G, R, A: red-ish, then green-ish, repeated.
    const std::uint8_t colours[2][4] = {{0x01, 0x02, 0xF0, 0x80}, {0x03, 0xE0, 0x04, 0xFF}};
    for (int p = 0; p < 8; ++p)
        std::copy_n(colours[p % 3 == 1], 4, indexed.texture->levelBytes(0) + p * 4);
    struct Case {
        std::uint32_t version;
        TXD::TextureRecord record;
        std::uint32_t formatCode;
        std::uint8_t flags;
        std::vector<std::size_t> levelSizes;
    };
    const Case cases[] = {
        {nine, dxtRecord("dxt3", 256, 256, 3), dxt3, 9, {65536}},
        {nine, dxtRecord("chain", 256, 64, 1, 9), dxt1, 8, {8192, 2048, 512, 128, 32, 16, 8, 8, 8}},
        {nine, dxtRecord("small1", 2, 2, 1), dxt1, 8, {8}},
        {nine, dxtRecord("small3", 2, 2, 3), dxt3, 9, {16}},
        {nine, makeRecord("argb", D3DFMT_A8R8G8B8, 0x500, 32, 4, 2), 21, 1, {32}},
        {nine, makeRecord("xrgb", D3DFMT_X8R8G8B8, 0x600, 32, 8, 4, 3), 22, 0, {128}},
        {nine, indexed, 41, 1, {8}},
        // The earlier layout: the compression where the later one has a FourCC, alpha in the flags.
        {eight, dxtRecord("plain", 4, 4, 1), 0, 1, {8}},
        {eight, dxtRecord("alpha", 4, 4, 3), 1, 3, {16}},
    };
    for (const std::uint32_t version : {nine, eight}) {
        TXD::TXDArchive layout;
        layout.version = version;
        std::vector<const Case*> rows;
        for (const Case& c : cases) {
            if (c.version == version) {
                layout.appendTexture(c.record);
                rows.push_back(&c);
            }
        }
        const ArchiveReader::Archive parsed = saveAndParse(layout);
        EXPECT_EQ(parsed.stamp, version);
        ASSERT_EQ(parsed.textures.size(), rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const ArchiveReader::Texture& texture = parsed.textures[i];
            const Case& c = *rows[i];
            SCOPED_TRACE(c.record.name);
            EXPECT_EQ(std::make_tuple(texture.platform, texture.formatCode, texture.flags,
                                      texture.rasterFormat, texture.levelCount),
                      std::make_tuple(version == nine ? 9u : 8u, c.formatCode, c.flags, c.record.rasterFormat,
                                      c.record.mipLevels));
            ASSERT_EQ(texture.levels.size(), c.levelSizes.size());
            if (c.record.depth == 8) {  // indices to the colours in order of first appearance
                EXPECT_EQ(hexAt(texture.palette, 0, 8), "F0 02 01 80 04 E0 03 FF");
                EXPECT_EQ(Bytes(texture.palette.begin() + 8, texture.palette.end()), Bytes(1016, 0));
                EXPECT_EQ(texture.levels, std::vector<Bytes>{Bytes({0, 1, 0, 0, 1, 0, 0, 1})});
                continue;
            }
            for (std::size_t level = 0; level < texture.levels.size(); ++level) {
                EXPECT_EQ(texture.levels[level].size(), c.levelSizes[level]) << "level " << level;
                EXPECT_EQ(texture.levels[level], bytesOf(c.record.texture, unsigned(level)))
                    << "level " << level;
            }
        }
    }
}

TEST_F(FileWriterTest, HeaderFieldsNamesAndExcludedRecords) {
    TXD::TextureRecord exact = dxtRecord(std::string(32, 'x'), 8, 4, 1);
    exact.setMaskName("mask");
    exact.filterFlags = 0x1102;
    exact.filterByte2 = 0x33;
    exact.filterByte3 = 0x44;
    archive.appendTexture(exact);
    TXD::TextureRecord skipped = dxtRecord("skipped", 4, 4, 1);
    skipped.excludeFromSave = true;
    archive.appendTexture(skipped);
    archive.appendTexture(dxtRecord("0123456789012345678901234567890123456789", 4, 4, 1));
    LogCapture log;
    ArchiveReader::Archive parsed = saveAndParse();
    ASSERT_EQ(parsed.count, 2u);
    EXPECT_EQ(parsed.end, bytes.size());
    // The log counts every record, written or not.
    EXPECT_NE(log.info().at(0).find("with 3 textures as: "), std::string::npos);

    const ArchiveReader::Texture& first = parsed.textures[0];
    EXPECT_EQ(first.platform, 8u);  // offset 0
    EXPECT_EQ(first.nameField, Bytes(32, 'x'));
    EXPECT_EQ(ArchiveReader::text(first.maskNameField), "mask");
    EXPECT_EQ(hexAt(bytes, first.headerOffset + 4, 4), "02 11 33 44");
    EXPECT_EQ(std::make_tuple(first.width, first.height, first.rasterType),
              std::make_tuple(std::int16_t{8}, std::int16_t{4}, std::uint8_t{4}));
    const std::string cut = "01234567890123456789012345678901";
    EXPECT_EQ(parsed.textures[1].nameField, Bytes(cut.begin(), cut.end()));
    EXPECT_EQ(parsed.textures[1].maskNameField, Bytes(32, 0));
}

TEST_F(FileWriterTest, StoredPathAndPositionStandInForEmptyArguments) {
    archive.appendTexture(dxtRecord("a", 4, 4, 1));
    ASSERT_TRUE(archive.saveFile(path, 16));
    EXPECT_EQ(archive.filePath, path);
    EXPECT_EQ(archive.streamPosition, 16);
    // A missing file gets zeros before the archive; the dictionary size sits at P + 4.
    Bytes file = ArchiveReader::readFile(path);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), Bytes(16, 0));
    EXPECT_EQ(ArchiveReader::u32(file, 20), file.size() - 16 - 12);

    archive.getTexture(0).setName("b");
    archive.changed = true;
    ASSERT_TRUE(archive.saveFile("", 0));
    EXPECT_FALSE(archive.changed);
    ArchiveReader::Archive parsed;
    ASSERT_EQ(ArchiveReader::parse(ArchiveReader::readFile(path), 16, parsed), "");
    EXPECT_EQ(ArchiveReader::text(parsed.textures.at(0).nameField), "b");

    TXD::TXDArchive fresh;
    LogCapture log;
    EXPECT_FALSE(fresh.saveFile("", 0));
    EXPECT_EQ(log.errors(),
              std::vector<std::string>{saveError("159) - Save canceled, stream not open: ", "")});
}

TEST_F(FileWriterTest, ReadOnlyArchiveLeavesTheFileAlone) {
    writeFile(path, "keep me");
    archive.appendTexture(dxtRecord("a", 4, 4, 1));
    archive.readOnly = true;
    archive.changed = true;
    LogCapture log;
    EXPECT_FALSE(archive.saveFile(path, 0));
    expectUntouched("keep me");
    EXPECT_EQ(log.errors(), std::vector<std::string>{saveError("152) - Save canceled, file is read only, use "
                                                               "\"turnOffReadOnly()\" to set file attributes",
                                                               "")});
}

TEST_F(FileWriterTest, ThreeByteLevelIsNeverReadPastItsEnd) {
    writeFile(path, "old");
    archive.appendTexture(makeRecord("rgb", D3DFMT_R8G8B8, 0x500, 32, 4, 4));
    archive.changed = true;
    LogCapture log;
    EXPECT_FALSE(archive.saveFile(path, 0));
    expectUntouched("old");
    ASSERT_EQ(log.errors().size(), 1u);
    EXPECT_NE(log.errors()[0].find("unable to read the pixels of texture 0 for: " + path), std::string::npos);
    // A raster format without the 4-byte bits reads 3 bytes a pixel, which such a level holds.
    archive.getTexture(0).rasterFormat = 0x200;
    EXPECT_EQ(saveAndParse().textures.at(0).levels.at(0).size(), 4u * 4 * 3);
}

TEST_F(FileWriterSafetyTest, FailureAtEveryStepLeavesThePreviousFile) {
    const std::string before = pattern(5000);
    writeFile(path, before);
    // Step through every write, seek, sync, close and rename of the save until one goes through.
    int step = 0;
    for (; step < 200; ++step) {
        TestSeams::clearFaults();
        TestSeams::injectFault(Operation::FileWrite, E_FAIL, step);
        LogCapture log;
        if (archive.saveFile(path, 0))
            break;
        SCOPED_TRACE("failing step " + std::to_string(step));
        expectUntouched(before);
        EXPECT_EQ(log.errors(),
                  std::vector<std::string>{saveError("245) - Save failed, unable to write: ", path)});
    }
    EXPECT_GT(step, 15);  // headers, counts, patches, sync, close and rename all had their turn
    ASSERT_LT(step, 200);
    ArchiveReader::Archive parsed;
    EXPECT_EQ(ArchiveReader::parse(ArchiveReader::readFile(path), 0, parsed), "");
}

TEST_F(FileWriterSafetyTest, LockFailureLeavesThePreviousFileAndNoLock) {
    writeFile(path, "previous");
    TestSeams::injectFault(Operation::LockRect, D3DERR_INVALIDCALL);
    LogCapture log;
    EXPECT_FALSE(archive.saveFile(path, 0));
    expectUntouched("previous");
    EXPECT_EQ(log.errors().size(), 1u);
    // The level was not left locked: the next save reads it.
    EXPECT_TRUE(archive.saveFile(path, 0));
}

// A dictionary inside a larger file: a save at a position past 0, or back to where the archive was
// loaded from, replaces the dictionary that stands there and keeps every other byte, those after it
// moved to follow the new one; where no dictionary stands, the new one is put in and nothing is lost.
// A save of another archive at position 0 writes the file anew.
TEST_F(FileWriterSafetyTest, DictionaryInsideALargerFileKeepsTheRest) {
    TXD::TXDArchive other;
    for (const char* name : {"a", "b", "c"})
        other.appendTexture(dxtRecord(name, 16, 16, 1));
    const std::string scratch = folder / "other.txd";
    ASSERT_TRUE(other.saveFile(scratch, 0));
    const std::string three = readFile(scratch);
    std::filesystem::remove(scratch);
    const std::string before = pattern(700), after = std::string("trailing bytes") + pattern(300);
    struct Case {
        const char* what;
        std::string file;
        std::int32_t position;
        bool loadFirst;          // load from the file at the position, then save back there
        std::string head, tail;  // what the new file must hold around the new dictionary
    };
    const Case cases[] = {
        {"no dictionary at the position", pattern(20000), 1000, false, pattern(1000),
         pattern(20000).substr(1000)},
        {"the file ends before the position", "short", 64, false, "short" + std::string(59, '\0'), ""},
        {"dictionary between other bytes", before + three + after, 700, false, before, after},
        {"loaded from between other bytes", before + three + after, 700, true, before, after},
        {"loaded from the start, bytes after", three + after, 0, true, "", after},
        {"another archive at the start", three + after, 0, false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(path);
        writeFile(path, c.file);
        TXD::TXDArchive archive;
        if (c.loadFirst) {
            ASSERT_TRUE(archive.loadFile(path, c.position));
            ASSERT_TRUE(archive.removeTexture(1));
        } else {
            archive.appendTexture(dxtRecord("new", 8, 8, 1));
        }
        ASSERT_TRUE(archive.saveFile(c.loadFirst ? "" : path, c.position));
        const std::string saved = readFile(path);
        ArchiveReader::Archive parsed;
        ASSERT_EQ(
            ArchiveReader::parse(ArchiveReader::Bytes(saved.begin(), saved.end()), c.head.size(), parsed),
            "");
        EXPECT_EQ(parsed.count, c.loadFirst ? 2u : 1u);
        EXPECT_TRUE(saved.substr(0, c.head.size()) == c.head);
        EXPECT_TRUE(saved.substr(parsed.end) == c.tail) << saved.size() - parsed.end << " bytes after";
    }

    // A failed save at an offset is all-or-nothing too.
    const std::string kept = readFile(path);
    archive.changed = true;
    TestSeams::injectFault(Operation::FileWrite, E_FAIL, 3);
    EXPECT_FALSE(archive.saveFile(path, 2000));
    EXPECT_EQ(readFile(path), kept);
    EXPECT_EQ(archive.streamPosition, 0);
}

}  // namespace
