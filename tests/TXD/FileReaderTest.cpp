// Loading dictionaries back: every record kind of both header layouts saves again to the identical
// bytes, hostile files are refused with their reason and no change to the archive, and records are
// found, replaced and removed by name without disturbing the others.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>

#include "TXD/ArchiveIndex.h"
#include "TXD/TXDArchive.h"
#include "support/ArchiveReader.h"
#include "support/LogCapture.h"
#include "support/Records.h"
#include "support/SparseArchives.h"
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
        // The listing refuses the same files for the same reasons, and hands out no record first.
        std::vector<TXD::RecordInfo> listed;
        std::string why;
        EXPECT_FALSE(TXD::readIndex(path, 0, listed, why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_TRUE(listed.empty());
        archive.textures.front().texture->Release();
        archive.textures.clear();
    }
}

TEST_F(FileReaderTest, EveryTruncationAndUnreadablePlaceIsRefused) {
    TXD::TXDArchive made;
    fillEveryKind(made);
    const std::string valid = saved(made);
    prepareArchive();
    std::vector<TXD::RecordInfo> listed;
    std::string why;
    for (std::size_t length = 0; length < valid.size(); ++length) {
        ASSERT_FALSE(load(valid.substr(0, length))) << length;
        ASSERT_FALSE(TXD::readIndex(path, 0, listed, why)) << length;
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
            std::vector<TXD::RecordInfo> listed;
            std::string why;
            const bool loaded = load(bytes);
            ASSERT_EQ(TXD::readIndex(path, 0, listed, why), loaded) << "byte " << at << ": " << why;
            if (!loaded)
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

// The index gives what a load reads, from the headers: each record's values and where each level's
// bytes lie, in both layouts and at any position.
TEST_F(FileReaderTest, IndexGivesTheRecordsAndWhereTheirBytesLie) {
    for (const std::uint32_t version :
         {TXD::TXDArchive::kPlatform9Version, TXD::TXDArchive::kDefaultVersion}) {
        SCOPED_TRACE(testing::Message() << std::hex << version);
        TXD::TXDArchive made;
        made.version = version;
        fillEveryKind(made);
        const std::string file = saved(made, 33);
        ASSERT_TRUE(load(file, 33));
        std::vector<TXD::RecordInfo> listed;
        std::string why;
        ASSERT_TRUE(TXD::readIndex(path, 33, listed, why)) << why;
        ASSERT_EQ(listed.size(), archive.getTextureCount());
        for (std::size_t i = 0; i < listed.size(); ++i) {
            const TXD::RecordInfo& info = listed[i];
            const TXD::TextureRecord& record = archive.getTexture(std::uint32_t(i));
            SCOPED_TRACE(record.name);
            EXPECT_EQ(
                std::tie(info.name, info.maskName, info.rasterFormat, info.depth, info.compression,
                         info.width, info.height, info.mipLevels, info.hasAlpha, info.filterFlags),
                std::tie(record.name, record.maskName, record.rasterFormat, record.depth, record.compression,
                         record.width, record.height, record.mipLevels, record.hasAlpha, record.filterFlags));
            std::uint64_t total = info.depth == 8 ? 1024 : 0;
            for (std::size_t level = 0; level < info.levelOffsets.size(); ++level) {
                const std::string stored =
                    file.substr(info.levelOffsets[level], record.texture->levelSize(level));
                if (info.depth == 16 || info.depth == 32) {
                    const std::vector<std::uint8_t> bytes = bytesOf(record.texture, unsigned(level));
                    EXPECT_EQ(stored, std::string(bytes.begin(), bytes.end())) << level;
                }
                total += info.depth == 8 ? std::uint64_t(info.width) * info.height
                                         : record.texture->levelSize(unsigned(level));
            }
            EXPECT_EQ(info.dataBytes, total);
            EXPECT_EQ(info.levelOffsets.size(), info.depth == 16 ? info.mipLevels : 1u);
            if (info.depth == 8) {
                EXPECT_EQ(info.paletteOffset + 1024 + 4, info.levelOffsets[0]);
            }
        }
    }
}

// The alpha a listing shows is that of the stored pixels: the raster format's, DXT3's, a DXT1 header's
// (platform 9's flags bit, platform 8's alpha word), or a transparent texel in any level of DXT1 blocks.
TEST_F(FileReaderTest, IndexFindsAlphaInHeadersAndInTheBlocks) {
    auto transparentAt = [](TXD::TextureRecord record, unsigned level, std::size_t block) {
        for (unsigned l = 0; l < record.texture->GetLevelCount(); ++l) {
            std::uint8_t* bytes = record.texture->levelBytes(l);
            for (std::size_t b = 0; b < record.texture->levelSize(l) / 8; ++b)  // opaque: colour 0 > colour 1
                std::copy_n("\xFF\xFF\x00\x00\xFF\xFF\xFF\xFF", 8, bytes + b * 8);
        }
        // Three-colour mode (colour 0 <= colour 1), index 3 at one texel only.
        std::copy_n("\x10\x00\x20\x00\x00\x00\x30\x00", 8, record.texture->levelBytes(level) + block * 8);
        return record;
    };
    struct Case {
        const char* name;
        TXD::TextureRecord record;
        bool alpha;
    };
    TXD::TextureRecord flagged = dxtRecord("flagged", 8, 8, 1);
    flagged.hasAlpha = 1;
    TXD::TextureRecord plain = dxtRecord("plain", 8, 8, 1);
    for (std::size_t b = 0; b < 4; ++b)  // four-colour mode, index 3 everywhere: opaque all the same
        std::copy_n("\xFF\xFF\x00\x00\xFF\xFF\xFF\xFF", 8, plain.texture->levelBytes(0) + b * 8);
    TXD::TextureRecord threeColourNoIndex3 = dxtRecord("three", 4, 4, 1);
    std::copy_n("\x10\x00\x20\x00\x55\x55\x55\x55", 8, threeColourNoIndex3.texture->levelBytes(0));
    const Case cases[] = {
        {"opaque blocks", plain, false},
        {"three colours, no index 3", threeColourNoIndex3, false},
        {"transparent texel in level 0", transparentAt(dxtRecord("t0", 64, 64, 1, 3), 0, 255), true},
        {"transparent texel in the last level", transparentAt(dxtRecord("t2", 64, 64, 1, 7), 6, 0), true},
        {"DXT1 header alpha", flagged, true},
        {"1555 raster",
         [&] {
             auto r = dxtRecord("r1555", 4, 4, 1);
             r.rasterFormat = 0x100;
             return r;
         }(),
         true},
        {"DXT3", dxtRecord("dxt3", 4, 4, 3), true},
        {"8888", makeRecord("argb", D3DFMT_A8R8G8B8, 0x500, 32, 4, 2), true},
        {"888", makeRecord("xrgb", D3DFMT_X8R8G8B8, 0x600, 32, 4, 2), false},
        {"palette 8888", makeRecord("pal", D3DFMT_A8R8G8B8, 0x2500, 8, 4, 2), true},
        {"palette 888", makeRecord("pal-opaque", D3DFMT_A8R8G8B8, 0x2600, 8, 2, 2), false},
    };
    for (const std::uint32_t version :
         {TXD::TXDArchive::kPlatform9Version, TXD::TXDArchive::kDefaultVersion}) {
        TXD::TXDArchive made;
        made.version = version;
        for (const Case& c : cases)
            made.appendTexture(c.record);
        std::filesystem::remove(path);
        writeFile(path, saved(made));
        std::vector<TXD::RecordInfo> listed;
        std::string why;
        ASSERT_TRUE(TXD::readIndex(path, 0, listed, why)) << why;
        ASSERT_EQ(listed.size(), std::size(cases));
        for (std::size_t i = 0; i < listed.size(); ++i)
            EXPECT_EQ(listed[i].alpha, cases[i].alpha)
                << cases[i].name << " in version " << std::hex << version;
        made.textures.clear();  // the cases own the textures
    }
    for (const Case& c : cases)
        c.record.texture->Release();
}

// A platform 9 DXT1 record states its alpha in the flags byte (9 with alpha, 8 without); the reader
// takes it from there, so either file saves back to itself.
TEST_F(FileReaderTest, Platform9Dxt1KeepsItsAlphaFlag) {
    for (const int alpha : {0, 1}) {
        TXD::TXDArchive made;
        made.version = TXD::TXDArchive::kPlatform9Version;
        TXD::TextureRecord record = dxtRecord("leaf", 8, 8, 1);
        record.hasAlpha = alpha;
        made.appendTexture(record);
        const std::string file = saved(made);
        ArchiveReader::Archive parsed;
        ASSERT_EQ(ArchiveReader::parse(ArchiveReader::Bytes(file.begin(), file.end()), 0, parsed), "");
        EXPECT_EQ(parsed.textures.at(0).flags, 8 + alpha);
        ASSERT_TRUE(load(file));
        EXPECT_EQ(archive.getTexture(0).hasAlpha, alpha);
        EXPECT_EQ(saved(archive), file);
        for (const int flags : {0, 1, 10, 0x88}) {
            std::string spoiled = file;
            spoiled[parsed.textures[0].headerOffset + 87] = char(flags);
            EXPECT_FALSE(load(spoiled)) << flags;
        }
    }
}

// A file as large as the dictionary its header claims, all of it a hole, costs its headers: refused at
// the first chunk that is not where it must be, or listed without reading the holes.
TEST_F(FileReaderTest, SparseGiantsCostTheirHeadersOnly) {
    SparseArchives::writeClaimOnly(path, 3ull << 30);
    prepareArchive();
    LogCapture log;
    EXPECT_FALSE(archive.loadFile(path));
    expectUnchanged();
    EXPECT_NE(log.errors().at(0).find("chunk at offset 12 has type 0x0 where 0x1 belongs"),
              std::string::npos);
    std::vector<TXD::RecordInfo> listed;
    std::string why;
    EXPECT_FALSE(TXD::readIndex(path, 0, listed, why));

    // Sixteen DXT1 records of 16384 x 16384 with their whole chains, 2.9 GB of holes: listed.
    const std::uint64_t data = SparseArchives::writeDxt1Holes(path, 16, 16384);
    ASSERT_GT(std::filesystem::file_size(path), 16 * data);
    ASSERT_TRUE(TXD::readIndex(path, 0, listed, why)) << why;
    ASSERT_EQ(listed.size(), 16u);
    EXPECT_EQ(std::make_tuple(listed[15].name, listed[15].mipLevels, listed[15].dataBytes, listed[15].alpha),
              std::make_tuple(std::string("giant15"), std::uint8_t{15}, data, false));
}

}  // namespace
