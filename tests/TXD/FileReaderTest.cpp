// Loading dictionaries back: every record kind of both header layouts saves again to the identical
// bytes, hostile files are refused with their reason and no change to the archive, and records are
// found, replaced and removed by name without disturbing the others.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>

#include "TXD/TXDArchive.h"
#include "support/ArchiveReader.h"
#include "support/LogCapture.h"
#include "support/Records.h"
#include "support/TempFolder.h"

namespace {

using namespace ImageService;

void putU32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<char>(value >> (8 * i));
}
std::uint32_t getU32(const std::string& bytes, std::size_t at) {
    return ArchiveReader::u32(ArchiveReader::Bytes(bytes.begin(), bytes.end()), at);
}

// Every record kind the writer makes: DXT1 and DXT3 with levels, names of every length, filter
// bytes, both 32-bit layouts and both palettised ones.
void fillEveryKind(TXD::TXDArchive& archive) {
    archive.appendTexture(dxtRecord("Plain", 16, 8, 1));
    TXD::TextureRecord masked = dxtRecord(std::string(32, 'n'), 8, 8, 3, 4);
    masked.setMaskName("masked_a");
    masked.filterFlags = 0x1102;
    masked.filterByte2 = 0x33;
    masked.filterByte3 = 0x44;
    archive.appendTexture(masked);
    TXD::TextureRecord chain = dxtRecord("chain", 16, 4, 1, 5);
    chain.rasterFormat = 0x100;
    chain.hasAlpha = 1;
    archive.appendTexture(chain);
    archive.appendTexture(makeRecord("argb", D3DFMT_A8R8G8B8, 0x500, 32, 4, 2));
    archive.appendTexture(makeRecord("xrgb", D3DFMT_X8R8G8B8, 0x600, 32, 8, 4, 3));
    archive.appendTexture(makeRecord("pal", D3DFMT_A8R8G8B8, 0x2500, 8, 4, 2));
    archive.appendTexture(makeRecord("pal-opaque", D3DFMT_A8R8G8B8, 0x2600, 8, 2, 2));
}

void expectSameRecord(const TXD::TextureRecord& loaded, const TXD::TextureRecord& made) {
    EXPECT_EQ(loaded.name, made.name);
    EXPECT_EQ(loaded.nameHash, made.nameHash);
    EXPECT_EQ(loaded.maskName, made.maskName);
    EXPECT_EQ(std::tie(loaded.rasterFormat, loaded.width, loaded.height, loaded.depth, loaded.mipLevels,
                       loaded.compression, loaded.hasAlpha),
              std::tie(made.rasterFormat, made.width, made.height, made.depth, made.mipLevels,
                       made.compression, made.hasAlpha))
        << made.name;
    EXPECT_EQ(std::tie(loaded.filterFlags, loaded.filterByte2, loaded.filterByte3),
              std::tie(made.filterFlags, made.filterByte2, made.filterByte3));
    const unsigned levels = made.depth == 16 ? made.mipLevels : 1;
    ASSERT_EQ(loaded.texture->GetLevelCount(), levels);
    for (unsigned level = 0; level < levels; ++level)
        EXPECT_EQ(bytesOf(loaded.texture, level), bytesOf(made.texture, level)) << made.name << " " << level;
}

class FileReaderTest : public testing::Test {
protected:
    // Writes `bytes` and loads them into `archive`, which holds one record beforehand so that a refusal
    // can be seen to leave it alone.
    bool load(const std::string& bytes, std::int32_t position = 0) {
        // A fresh file each time: truncating one that holds data makes the file system flush it.
        std::filesystem::remove(path);
        writeFile(path, bytes);
        return archive.loadFile(path, position);
    }
    void prepareArchive() {
        archive.appendTexture(dxtRecord("before", 4, 4, 1));
        archive.filePath = "earlier.txd";
        archive.changed = true;
    }
    void expectUnchanged() {
        ASSERT_EQ(archive.getTextureCount(), 1u);
        EXPECT_EQ(archive.getTexture(0).name, "before");
        EXPECT_EQ(archive.version, TXD::TXDArchive::kDefaultVersion);
        EXPECT_EQ(archive.filePath, "earlier.txd");
        EXPECT_TRUE(archive.changed);
    }
    std::string saved(TXD::TXDArchive& from, std::int32_t position = 0) {
        std::string other = folder / "saved.txd";
        std::filesystem::remove(other);
        EXPECT_TRUE(from.saveFile(other, position));
        return readFile(other);
    }

    TempFolder folder;
    std::string path = folder / "in.txd";
    TXD::TXDArchive archive;
};

TEST_F(FileReaderTest, EveryKindRoundTripsToTheByte) {
    struct Case {
        std::uint32_t version;
        std::int32_t position;
    };
    for (const Case& c :
         {Case{TXD::TXDArchive::kPlatform9Version, 0}, Case{TXD::TXDArchive::kDefaultVersion, 0},
          Case{TXD::TXDArchive::kPlatform9Version, 100}, Case{0x1003FFFF, 7}}) {
        SCOPED_TRACE(testing::Message() << std::hex << c.version << " at " << std::dec << c.position);
        TXD::TXDArchive made;
        made.version = c.version;
        fillEveryKind(made);
        const std::string file = saved(made, c.position);
        TXD::TXDArchive& loaded = archive;
        LogCapture log;
        ASSERT_TRUE(load(file, c.position)) << log.errors().at(0);
        EXPECT_EQ(loaded.version, c.version);
        EXPECT_EQ(loaded.filePath, path);
        EXPECT_EQ(loaded.streamPosition, c.position);
        EXPECT_FALSE(loaded.changed);
        ASSERT_EQ(loaded.getTextureCount(), made.getTextureCount());
        for (std::uint32_t i = 0; i < made.getTextureCount(); ++i)
            expectSameRecord(loaded.getTexture(i), made.getTexture(i));
        EXPECT_EQ(saved(loaded, c.position), file);
        // Saving where it came from rewrites the same bytes.
        ASSERT_TRUE(loaded.saveFile("", 0));
        EXPECT_EQ(readFile(path), file);
    }
}

TEST_F(FileReaderTest, HostileArchivesAreRefusedWithTheirReason) {
    TXD::TXDArchive made;
    made.version = TXD::TXDArchive::kPlatform9Version;
    made.appendTexture(dxtRecord("dxt", 4, 4, 1, 2));
    made.appendTexture(makeRecord("pal", D3DFMT_A8R8G8B8, 0x2500, 8, 2, 2));
    const std::string valid = saved(made);
    ArchiveReader::Archive parsed;
    ASSERT_EQ(ArchiveReader::parse(ArchiveReader::Bytes(valid.begin(), valid.end()), 0, parsed), "");
    const std::size_t first = parsed.textures[0].headerOffset;
    const std::size_t second = parsed.textures[1].headerOffset;
    const std::size_t closing = valid.size() - 12;

    struct Case {
        const char* what;
        std::function<void(std::string&)> spoil;
        const char* reason;
    };
    auto setU32 = [](std::size_t at, std::uint32_t value) {
        return [=](std::string& b) { putU32(b, at, value); };
    };
    auto addU32 = [](std::size_t at, std::uint32_t delta) {
        return [=](std::string& b) { putU32(b, at, getU32(b, at) + delta); };
    };
    auto setByte = [](std::size_t at, int value) { return [=](std::string& b) { b.at(at) = char(value); }; };
    auto setU16 = [](std::size_t at, int value) {
        return [=](std::string& b) { b.at(at) = char(value), b.at(at + 1) = char(value >> 8); };
    };
    const Case cases[] = {
        {"not a dictionary", setU32(0, 0x17), "not a texture dictionary"},
        {"dictionary larger than the file", addU32(4, 1), "the dictionary states"},
        {"dictionary smaller than its content", addU32(4, -1u), "chunk header at offset"},
        {"count in the billions", setU32(24, 0xFFFFFFFF), "4294967295 textures cannot fit"},
        {"count one too many", addU32(24, 1), "has type 0x3 where 0x15 belongs"},
        {"native size lies", addU32(32, 4), "native chunk size"},
        {"both sizes grow together", [&](std::string& b) { addU32(32, 4)(b), addU32(44, 4)(b); },
         "4 bytes follow its pixel data"},
        {"level size lies", addU32(first + 88, 8), "level 0 states 16 bytes where its 4x4 blocks take 8"},
        {"inner version differs", setU32(40 + 8, 0x1803FFFE),
         "has version 0x1803FFFE, the dictionary 0x1803FFFF"},
        {"platform of the other layout", setU32(first, 8), "platform 8 does not belong"},
        {"width zero", setU16(first + 80, 0), "size 0x4 is outside 1 to 16384"},
        {"side over the limit", setU16(first + 82, 16385), "size 4x16385 is outside"},
        {"negative side", setU16(first + 80, 0x8000), "size -32768x4 is outside"},
        {"no levels", setByte(first + 85, 0), "0 levels do not fit"},
        {"levels past the chain", setByte(first + 85, 4), "4 levels do not fit a 4x4 texture (1 to 3)"},
        {"unknown depth", setByte(first + 84, 24), "depth 24 with raster format 0x200"},
        {"raster type", setByte(first + 86, 2), "raster type 2 is not a texture"},
        {"format code disagrees", setByte(first + 79, '3'), "do not match raster format 0x200"},
        {"palettised raster without its kind", setU32(second + 72, 0x2100), "raster format 0x2100"},
        {"index count lies", addU32(second + 88 + 1024, 1), "index data states 5 bytes"},
        {"closing extension with data",
         [&](std::string& b) {
             putU32(b, closing + 4, 4), b += "data";
             putU32(b, 4, getU32(b, 4) + 4);
         },
         "the dictionary's extension holds 4 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = valid;
        c.spoil(bytes);
        writeFile(path, bytes);
        prepareArchive();
        LogCapture log;
        EXPECT_FALSE(archive.loadFile(path));
        expectUnchanged();
        ASSERT_EQ(log.errors().size(), 1u);
        EXPECT_NE(log.errors()[0].find(c.reason), std::string::npos) << log.errors()[0];
        EXPECT_NE(log.errors()[0].find("TXD::TXDArchive::loadFile("), std::string::npos);
        archive.textures.front().texture->Release();
        archive.textures.clear();
    }
}

TEST_F(FileReaderTest, EveryTruncationAndUnreadablePlaceIsRefused) {
    TXD::TXDArchive made;
    fillEveryKind(made);
    const std::string valid = saved(made);
    prepareArchive();
    for (std::size_t length = 0; length < valid.size(); ++length) {
        ASSERT_FALSE(load(valid.substr(0, length))) << length;
        // The same cut with the sizes patched to agree is still caught by the content.
        if (length >= 12) {
            std::string patched = valid.substr(0, length);
            putU32(patched, 4, std::uint32_t(length - 12));
            ASSERT_FALSE(load(patched)) << length;
        }
    }
    EXPECT_FALSE(load(valid, -1));
    EXPECT_FALSE(load(valid, std::int32_t(valid.size())));
    std::filesystem::create_directory(folder / "sub");
    EXPECT_FALSE(archive.loadFile(folder / "sub"));
    EXPECT_FALSE(archive.loadFile(folder / "missing.txd"));
    expectUnchanged();
}

// Any single damaged byte is either refused or read so that saving gives back exactly that file; only a
// name may lose what follows a zero byte inside it.
TEST_F(FileReaderTest, DamagedBytesAreRefusedOrKept) {
    TXD::TXDArchive made;
    made.version = TXD::TXDArchive::kPlatform9Version;
    made.appendTexture(dxtRecord("dxt", 4, 4, 1, 2));
    made.appendTexture(makeRecord("argb", D3DFMT_A8R8G8B8, 0x500, 32, 2, 2));
    const std::string valid = saved(made);
    ArchiveReader::Archive parsed;
    ASSERT_EQ(ArchiveReader::parse(ArchiveReader::Bytes(valid.begin(), valid.end()), 0, parsed), "");
    auto inName = [&](std::size_t at) {
        for (const auto& texture : parsed.textures) {
            if (at >= texture.headerOffset + 8 && at < texture.headerOffset + 72)
                return true;
        }
        return false;
    };
    int accepted = 0;
    for (std::size_t at = 0; at < valid.size(); ++at) {
        for (int flip : {0x01, 0xFF}) {
            std::string bytes = valid;
            bytes[at] = char(bytes[at] ^ flip);
            if (!load(bytes))
                continue;
            ++accepted;
            const std::string again = saved(archive);
            if (!inName(at)) {
                ASSERT_EQ(again, bytes) << "byte " << at << " flipped with " << flip;
            }
        }
    }
    EXPECT_GT(accepted, 100);  // pixels, filter bytes, names and a DXT raster format may take any value
}

TEST_F(FileReaderTest, RecordsAreFoundByFoldedNameReplacedAndRemovedInOrder) {
    for (const char* name : {"Wall", "floor", "Sky/Box"})
        archive.appendTexture(dxtRecord(name, 4, 4, 1));
    EXPECT_EQ(archive.findTexture("WALL"), 0);
    EXPECT_EQ(archive.findTexture("sky\\box"), 2);
    EXPECT_EQ(archive.findTexture("floo"), -1);
    EXPECT_EQ(archive.findTexture(""), -1);
    ASSERT_TRUE(archive.replaceTexture(1, dxtRecord("stone", 8, 8, 3)));
    ASSERT_TRUE(archive.removeTexture(0));
    EXPECT_EQ(std::make_tuple(archive.findTexture("stone"), archive.findTexture("sky/box"),
                              archive.findTexture("wall")),
              std::make_tuple(0, 1, -1));
    EXPECT_FALSE(archive.removeTexture(2));
    EXPECT_FALSE(archive.replaceTexture(-1, TXD::TextureRecord{}));
}

}  // namespace
