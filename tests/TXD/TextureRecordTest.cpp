#include <gtest/gtest.h>

#include <vector>

#include "Common/WideStringBuffer.h"
#include "ImageService/TestSeams.h"
#include "TXD/TXDArchive.h"
#include "TXD/TextureRecord.h"

namespace {

using ImageService::IDirect3DTexture9;

IDirect3DTexture9* makeTexture() {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(IDirect3DTexture9::create(4, 4, 1, 0, ImageService::D3DFMT_DXT1, ImageService::D3DPOOL_MANAGED,
                                        &texture),
              ImageService::D3D_OK);
    return texture;
}

TEST(TextureRecord, HashFoldsCaseAndSlashes) {
    EXPECT_EQ(TXD::hashName("abc"), 0xCADBBE3Du);
    EXPECT_EQ(TXD::hashName("ABC"), 0xCADBBE3Du);
    EXPECT_EQ(TXD::hashName("a/b"), 0xFC1995D6u);
    EXPECT_EQ(TXD::hashName("a\\b"), 0xFC1995D6u);
    // Bytes above 0x7F are hashed as they are, not folded.
    EXPECT_NE(TXD::hashName("\xC9"), TXD::hashName("\xE9"));
}

TEST(TextureRecord, StartsEmptyAndSettersKeepHashesOfTheLastNonEmptyName) {
    TXD::TextureRecord record;
    EXPECT_EQ(record.texture, nullptr);
    EXPECT_EQ(record.mipLevels, 1);
    EXPECT_EQ(record.compression, 1);
    EXPECT_EQ(record.nameHash | record.maskNameHash | record.rasterFormat | record.depth, 0u);

    record.setName("Wall/Brick");
    TXD::TextureRecord other;
    other.setName("wall\\brick");
    EXPECT_EQ(record.nameHash, other.nameHash);
    EXPECT_EQ(record.getName(), "Wall/Brick");

    record.setName("abc");
    record.setName("");
    EXPECT_EQ(record.name, "");
    EXPECT_EQ(record.nameHash, 0xCADBBE3Du);
    record.setMaskName("ABC");
    EXPECT_EQ(record.maskNameHash, 0xCADBBE3Du);
}

TEST(TextureRecord, CopiesLeaveReferenceCountsAlone) {
    std::size_t before = ImageService::TestSeams::liveObjectCount();
    IDirect3DTexture9* texture = makeTexture();
    {
        TXD::TextureRecord record;
        record.texture = texture;
        TXD::TextureRecord copy = record;
        TXD::TextureRecord assigned;
        assigned = copy;
        EXPECT_EQ(assigned.texture, texture);
    }
    EXPECT_EQ(texture->AddRef(), 2u);  // still exactly the one reference we made, plus this one
    texture->Release();
    texture->Release();
    EXPECT_EQ(ImageService::TestSeams::liveObjectCount(), before);
}

TEST(TXDArchive, StartsEmptyAndHoldsTheWideBuffer) {
    int holders = WideStringBuffer::holderCount();
    {
        TXD::TXDArchive archive;
        EXPECT_EQ(archive.getTextureCount(), 0u);
        EXPECT_EQ(archive.version, 0x0C02FFFFu);
        EXPECT_FALSE(archive.changed);
        EXPECT_FALSE(archive.readOnly);
        EXPECT_EQ(archive.streamPosition, 0);
        EXPECT_TRUE(archive.filePath.empty());
        EXPECT_NE(archive.widePathBuffer, nullptr);
        EXPECT_EQ(WideStringBuffer::holderCount(), holders + 1);
    }
    EXPECT_EQ(WideStringBuffer::holderCount(), holders);
}

TEST(TXDArchive, DestructionReleasesEveryTextureOnce) {
    std::size_t before = ImageService::TestSeams::liveObjectCount();
    std::vector<IDirect3DTexture9*> made;
    {
        TXD::TXDArchive archive;
        for (int i = 0; i < 3; ++i) {
            TXD::TextureRecord record;
            record.texture = makeTexture();
            record.setName("t" + std::to_string(i));
            made.push_back(record.texture);
            archive.appendTexture(record);
        }
        // Keep each texture alive past the archive to see the archive drop exactly its own reference.
        for (IDirect3DTexture9* texture : made)
            texture->AddRef();
        // Growth of the list keeps every record and its texture in order.
        for (int i = 0; i < 100; ++i)
            archive.appendTexture(TXD::TextureRecord{});
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(archive.getTexture(i).texture, made[i]);
        archive.textures.resize(3);
    }
    for (IDirect3DTexture9* texture : made)
        EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(ImageService::TestSeams::liveObjectCount(), before);
}

}  // namespace
