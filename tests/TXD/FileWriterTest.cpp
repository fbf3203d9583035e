// The archive file to the byte: the worked DXT1 example, the sizes of every record kind, both native
// header layouts, and round trips through the independent reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ImageService/Texture.h"
#include "support/ArchiveReader.h"
#include "TXD/TXDArchive.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace {

using ArchiveReader::Bytes;
using ImageService::D3DFORMAT;

ImageService::IDirect3DTexture9* makeTexture(D3DFORMAT format, unsigned width, unsigned height,
                                             unsigned levels) {
    ImageService::IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(ImageService::IDirect3DTexture9::create(width, height, levels, 0, format,
                                                      ImageService::D3DPOOL_MANAGED, &texture),
              ImageService::D3D_OK);
    for (unsigned level = 0; texture && level < texture->GetLevelCount(); ++level) {
        std::uint8_t* bytes = texture->levelBytes(level);
        for (std::size_t i = 0; i < texture->levelSize(level); ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 31 + level * 7 + 1);
        }
    }
    return texture;
}

TXD::TextureRecord dxtRecord(const std::string& name, int width, int height, int compression,
                             int levels = 1) {
    TXD::TextureRecord record;
    record.texture = makeTexture(compression == 1 ? ImageService::D3DFMT_DXT1 : ImageService::D3DFMT_DXT3,
                                 static_cast<unsigned>(width), static_cast<unsigned>(height),
                                 static_cast<unsigned>(levels));
    record.setName(name);
    record.depth = 16;
    record.compression = static_cast<std::uint8_t>(compression);
    record.rasterFormat = compression == 1 ? 0x200 : 0x300;
    record.hasAlpha = compression == 1 ? 0 : 1;
    record.width = static_cast<std::int16_t>(width);
    record.height = static_cast<std::int16_t>(height);
    record.mipLevels = static_cast<std::uint8_t>(levels);
    return record;
}

std::string hexAt(const Bytes& bytes, std::size_t offset, std::size_t count) {
    std::string out;
    for (std::size_t i = offset; i < offset + count && i < bytes.size(); ++i) {
        char cell[4];
        std::snprintf(cell, sizeof cell, "%02X", bytes[i]);
        out += (out.empty() ? "" : " ") + std::string(cell);
    }
    return out;
}

Bytes levelOf(ImageService::IDirect3DTexture9* texture, unsigned level) {
    return Bytes(texture->levelBytes(level), texture->levelBytes(level) + texture->levelSize(level));
}

class FileWriterTest : public testing::Test {
protected:
    // Saves, parses and returns the archive written at `position`.
    ArchiveReader::Archive saveAndParse(std::int32_t position = 0) {
        EXPECT_TRUE(archive.saveFile(path, position));
        bytes = ArchiveReader::readFile(path);
        ArchiveReader::Archive parsed;
        EXPECT_EQ(ArchiveReader::parse(bytes, static_cast<std::size_t>(position), parsed), "");
        return parsed;
    }

    TempFolder folder;
    std::string path = folder / "out.txd";
    TXD::TXDArchive archive;
    Bytes bytes;
};

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
    EXPECT_EQ(Bytes(file.begin() + 60, file.begin() + 92),
              Bytes({'b', 'r', 'i', 'c', 'k', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                     0,   0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(file.begin() + 92, file.begin() + 124), Bytes(32, 0));
    EXPECT_EQ(hexAt(file, 124, 8), "00 02 00 00 44 58 54 31");
    EXPECT_EQ(hexAt(file, 132, 8), "00 01 00 01 10 01 04 08");
    EXPECT_EQ(hexAt(file, 140, 4), "00 80 00 00");
    EXPECT_EQ(Bytes(file.begin() + 144, file.begin() + 32912), levelOf(archive.getTexture(0).texture, 0));
    EXPECT_EQ(hexAt(file, 32912, 12), "03 00 00 00 00 00 00 00 FF FF 03 18");
    EXPECT_EQ(hexAt(file, 32924, 12), "03 00 00 00 00 00 00 00 FF FF 03 18");

    EXPECT_FALSE(archive.changed);
    EXPECT_EQ(archive.filePath, path);
    ASSERT_EQ(log.info().size(), 1u);
    EXPECT_EQ(log.info()[0],
              "TXD::TXDArchive::saveFile(250) - Saved a texture archive with 1 textures as: " + path);
    EXPECT_TRUE(log.errors().empty());

    // Nothing in the archive changes, so a second save writes the same bytes.
    ASSERT_TRUE(archive.saveFile("", 0));
    EXPECT_EQ(ArchiveReader::readFile(path), file);
}

TEST_F(FileWriterTest, EmptyArchiveIsFortyBytes) {
    ASSERT_TRUE(archive.saveFile(path, 0));
    EXPECT_EQ(hexAt(ArchiveReader::readFile(path), 0, 100),
              "16 00 00 00 1C 00 00 00 FF FF 02 0C "
              "01 00 00 00 04 00 00 00 FF FF 02 0C 00 00 00 00 "
              "03 00 00 00 00 00 00 00 FF FF 02 0C");
}

TEST_F(FileWriterTest, CompressedLevelSizes) {
    archive.version = TXD::TXDArchive::kPlatform9Version;
    archive.appendTexture(dxtRecord("dxt3", 256, 256, 3));
    archive.appendTexture(dxtRecord("chain", 256, 64, 1, 9));
    archive.appendTexture(dxtRecord("small1", 2, 2, 1));
    archive.appendTexture(dxtRecord("small3", 2, 2, 3));
    ArchiveReader::Archive parsed = saveAndParse();
    ASSERT_EQ(parsed.textures.size(), 4u);

    const ArchiveReader::Texture& dxt3 = parsed.textures[0];
    EXPECT_EQ(hexAt(bytes, dxt3.headerOffset + 76, 4), "44 58 54 33");
    EXPECT_EQ(dxt3.flags, 9);
    EXPECT_EQ(dxt3.rasterFormat, 0x300u);
    ASSERT_EQ(dxt3.levels.size(), 1u);
    EXPECT_EQ(dxt3.levels[0].size(), 65536u);

    const ArchiveReader::Texture& chain = parsed.textures[1];
    EXPECT_EQ(chain.levelCount, 9);
    const std::size_t expected[] = {8192, 2048, 512, 128, 32, 16, 8, 8, 8};
    ASSERT_EQ(chain.levels.size(), 9u);
    for (unsigned level = 0; level < 9; ++level) {
        EXPECT_EQ(chain.levels[level].size(), expected[level]) << "level " << level;
        EXPECT_EQ(chain.levels[level], levelOf(archive.getTexture(1).texture, level)) << "level " << level;
    }
    EXPECT_EQ(parsed.textures[2].levels[0].size(), 8u);
    EXPECT_EQ(parsed.textures[3].levels[0].size(), 16u);
}

TEST_F(FileWriterTest, Platform8HeaderUsesAlphaAndRawCompression) {
    archive.appendTexture(dxtRecord("plain", 4, 4, 1));
    archive.appendTexture(dxtRecord("alpha", 4, 4, 3));
    ArchiveReader::Archive parsed = saveAndParse();
    ASSERT_EQ(parsed.textures.size(), 2u);
    EXPECT_EQ(parsed.stamp, TXD::TXDArchive::kDefaultVersion);
    EXPECT_EQ(parsed.textures[0].platform, 8u);
    EXPECT_EQ(parsed.textures[0].formatCode, 0u);
    EXPECT_EQ(parsed.textures[0].flags, 1);
    EXPECT_EQ(parsed.textures[1].formatCode, 1u);
    EXPECT_EQ(parsed.textures[1].flags, 3);
}

TEST_F(FileWriterTest, HeaderFieldsAndNames) {
    TXD::TextureRecord exact = dxtRecord(std::string(32, 'x'), 8, 4, 1);
    exact.setMaskName("mask");
    exact.filterFlags = 0x1102;
    exact.filterByte2 = 0x33;
    exact.filterByte3 = 0x44;
    archive.appendTexture(exact);
    archive.appendTexture(dxtRecord("0123456789012345678901234567890123456789", 4, 4, 1));
    archive.appendTexture(dxtRecord(std::string("ab\0cd", 5), 4, 4, 1));
    ArchiveReader::Archive parsed = saveAndParse();
    ASSERT_EQ(parsed.textures.size(), 3u);

    const ArchiveReader::Texture& first = parsed.textures[0];
    EXPECT_EQ(first.nameField, Bytes(32, 'x'));
    EXPECT_EQ(ArchiveReader::text(first.maskNameField), "mask");
    EXPECT_EQ(hexAt(bytes, first.headerOffset + 4, 4), "02 11 33 44");
    EXPECT_EQ(first.width, 8);
    EXPECT_EQ(first.height, 4);
    EXPECT_EQ(first.rasterType, 4);
    const std::string cut = "01234567890123456789012345678901";
    EXPECT_EQ(parsed.textures[1].nameField, Bytes(cut.begin(), cut.end()));
    EXPECT_EQ(parsed.textures[1].maskNameField, Bytes(32, 0));
    // Whatever follows the first zero byte is written as zeros.
    Bytes embedded(32, 0);
    embedded[0] = 'a';
    embedded[1] = 'b';
    EXPECT_EQ(parsed.textures[2].nameField, embedded);
}

TEST_F(FileWriterTest, ExcludedRecordsAreNeitherWrittenNorCounted) {
    archive.appendTexture(dxtRecord("kept1", 4, 4, 1));
    TXD::TextureRecord skipped = dxtRecord("skipped", 4, 4, 1);
    skipped.excludeFromSave = true;
    archive.appendTexture(skipped);
    archive.appendTexture(dxtRecord("kept2", 4, 4, 3));
    LogCapture log;
    ArchiveReader::Archive parsed = saveAndParse();
    ASSERT_EQ(parsed.count, 2u);
    EXPECT_EQ(ArchiveReader::text(parsed.textures[0].nameField), "kept1");
    EXPECT_EQ(ArchiveReader::text(parsed.textures[1].nameField), "kept2");
    EXPECT_EQ(parsed.end, bytes.size());
    ASSERT_EQ(log.info().size(), 1u);
    EXPECT_NE(log.info()[0].find("with 3 textures as: "), std::string::npos);
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
    file = ArchiveReader::readFile(path);
    ArchiveReader::Archive parsed;
    ASSERT_EQ(ArchiveReader::parse(file, 16, parsed), "");
    EXPECT_EQ(ArchiveReader::text(parsed.textures.at(0).nameField), "b");

    TXD::TXDArchive fresh;
    LogCapture log;
    EXPECT_FALSE(fresh.saveFile("", 0));
    ASSERT_EQ(log.errors().size(), 1u);
    EXPECT_EQ(log.errors()[0], "TXD::TXDArchive::saveFile(159) - Save canceled, stream not open: ");
}

TEST_F(FileWriterTest, ReadOnlyArchiveLeavesTheFileAlone) {
    writeFile(path, "keep me");
    archive.appendTexture(dxtRecord("a", 4, 4, 1));
    archive.readOnly = true;
    archive.changed = true;
    LogCapture log;
    EXPECT_FALSE(archive.saveFile(path, 0));
    EXPECT_EQ(readFile(path), "keep me");
    EXPECT_TRUE(archive.changed);
    EXPECT_TRUE(archive.filePath.empty());
    ASSERT_EQ(log.errors().size(), 1u);
    EXPECT_EQ(
        log.errors()[0],
        "TXD::TXDArchive::saveFile(152) - Save canceled, file is read only, use \"turnOffReadOnly()\" to set "
        "file attributes");
}

TXD::TextureRecord pixelRecord(D3DFORMAT format, std::uint32_t raster, std::uint8_t depth, int width,
                               int height, int levels = 1) {
    TXD::TextureRecord record;
    record.texture = makeTexture(format, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                 static_cast<unsigned>(levels));
    record.setName("pixels");
    record.depth = depth;
    record.compression = 0;
    record.rasterFormat = raster;
    record.hasAlpha = (raster & 0xF00) == 0x500 ? 1 : 0;
    record.width = static_cast<std::int16_t>(width);
    record.height = static_cast<std::int16_t>(height);
    record.mipLevels = static_cast<std::uint8_t>(levels);
    return record;
}

TEST_F(FileWriterTest, ThirtyTwoBitRecordsCarryLevelZeroAsHeld) {
    archive.version = TXD::TXDArchive::kPlatform9Version;
    archive.appendTexture(pixelRecord(ImageService::D3DFMT_A8R8G8B8, 0x500, 32, 4, 2));
    archive.appendTexture(pixelRecord(ImageService::D3DFMT_X8R8G8B8, 0x600, 32, 8, 4, 3));
    ArchiveReader::Archive parsed = saveAndParse();
    ASSERT_EQ(parsed.textures.size(), 2u);

    EXPECT_EQ(parsed.textures[0].formatCode, 21u);
    EXPECT_EQ(parsed.textures[0].flags, 1);
    EXPECT_EQ(parsed.textures[0].structSize, 88u + 4 + 4 * 2 * 4);
    EXPECT_EQ(parsed.textures[0].levels.at(0), levelOf(archive.getTexture(0).texture, 0));

    // Only level 0, whatever the level count says.
    EXPECT_EQ(parsed.textures[1].formatCode, 22u);
    EXPECT_EQ(parsed.textures[1].flags, 0);
    EXPECT_EQ(parsed.textures[1].levelCount, 3);
    ASSERT_EQ(parsed.textures[1].levels.size(), 1u);
    EXPECT_EQ(parsed.textures[1].levels[0], levelOf(archive.getTexture(1).texture, 0));
}

TEST_F(FileWriterTest, ThreeByteLevelIsNeverReadPastItsEnd) {
    writeFile(path, "old");
    archive.appendTexture(pixelRecord(ImageService::D3DFMT_R8G8B8, 0x500, 32, 4, 4));
    LogCapture log;
    EXPECT_FALSE(archive.saveFile(path, 0));
    EXPECT_EQ(readFile(path), "old");
    ASSERT_EQ(log.errors().size(), 1u);
    EXPECT_NE(log.errors()[0].find("unable to read the pixels of texture 0 for: " + path), std::string::npos);

    // A raster format without the 4-byte bits reads 3 bytes a pixel, which such a level holds.
    archive.getTexture(0).rasterFormat = 0x200;
    ArchiveReader::Archive parsed = saveAndParse();
    EXPECT_EQ(parsed.textures.at(0).levels.at(0).size(), 4u * 4 * 3);
}

TEST_F(FileWriterTest, EightBitRecordWritesPaletteAndIndices) {
    archive.version = TXD::TXDArchive::kPlatform9Version;
    TXD::TextureRecord record = pixelRecord(ImageService::D3DFMT_A8R8G8B8, 0x2500, 8, 4, 2, 3);
    // Colours held B, G, R, A: red-ish, then green-ish, repeated.
    const std::uint8_t red[4] = {0x01, 0x02, 0xF0, 0x80};
    const std::uint8_t green[4] = {0x03, 0xE0, 0x04, 0xFF};
    for (int p = 0; p < 8; ++p) {
        std::copy(p % 3 == 1 ? green : red, (p % 3 == 1 ? green : red) + 4,
                  record.texture->levelBytes(0) + p * 4);
    }
    archive.appendTexture(record);
    ArchiveReader::Archive parsed = saveAndParse();
    const ArchiveReader::Texture& texture = parsed.textures.at(0);

    EXPECT_EQ(texture.formatCode, 41u);
    EXPECT_EQ(texture.flags, 1);
    EXPECT_EQ(texture.structSize, 88u + 1028 + 8);
    EXPECT_EQ(hexAt(texture.palette, 0, 8), "F0 02 01 80 04 E0 03 FF");
    EXPECT_EQ(Bytes(texture.palette.begin() + 8, texture.palette.end()), Bytes(1016, 0));
    ASSERT_EQ(texture.levels.size(), 1u);
    EXPECT_EQ(texture.levels[0], Bytes({0, 1, 0, 0, 1, 0, 0, 1}));
}

}  // namespace
