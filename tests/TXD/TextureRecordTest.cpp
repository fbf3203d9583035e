// Name hashes and texture ownership: records copy without touching reference counts, and the
// archive releases each of its textures exactly once.
#include <gtest/gtest.h>

#include <vector>

#include "TXD/TXDArchive.h"
#include "TXD/TextureRecord.h"
#include "support/Textures.h"

namespace {

using ImageService::IDirect3DTexture9;

TEST(TextureRecord, HashFoldsCaseAndSlashes) {
    EXPECT_EQ(TXD::hashName("abc"), 0xCADBBE3Du);
    EXPECT_EQ(TXD::hashName("ABC"), 0xCADBBE3Du);
    EXPECT_EQ(TXD::hashName("a/b"), 0xFC1995D6u);
    EXPECT_EQ(TXD::hashName("a\\b"), 0xFC1995D6u);
    // Bytes above 0x7F are hashed as they are, not folded.
    EXPECT_NE(TXD::hashName("\xC9"), TXD::hashName("\xE9"));
    TXD::TextureRecord record;
    record.setName("abc");
    record.setMaskName("ABC");
    EXPECT_EQ(record.nameHash, 0xCADBBE3Du);
    EXPECT_EQ(record.maskNameHash, 0xCADBBE3Du);
}

class TextureOwnership : public LeakCheckedTest {};

TEST_F(TextureOwnership, RecordCopiesLeaveReferenceCountsAlone) {
    IDirect3DTexture9* texture = makeTexture(4, 4, ImageService::D3DFMT_DXT1).release();
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
}

TEST_F(TextureOwnership, ArchiveDestructionReleasesEveryTextureOnce) {
    std::vector<IDirect3DTexture9*> made;
    {
        TXD::TXDArchive archive;
        for (int i = 0; i < 3; ++i) {
            TXD::TextureRecord record;
            record.texture = makeTexture(4, 4, ImageService::D3DFMT_DXT1).release();
            record.setName("t" + std::to_string(i));
            made.push_back(record.texture);
            archive.appendTexture(record);
            // Kept alive past the archive to see the archive drop exactly its own reference.
            record.texture->AddRef();
        }
        // Growth of the list keeps every record and its texture in order.
        for (int i = 0; i < 100; ++i)
            archive.appendTexture(TXD::TextureRecord{});
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(archive.getTexture(i).texture, made[i]);
        archive.textures.resize(3);
    }
    for (IDirect3DTexture9* texture : made)
        EXPECT_EQ(texture->Release(), 0u);
}

}  // namespace
