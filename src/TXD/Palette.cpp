// Palette generation for depth 8 records: the exact colours of level 0 in order of first appearance,
// no quantisation. Only the save asks for it, once per record, and nothing is kept between calls.
#include <cstring>
#include <limits>
#include <unordered_map>

#include "Common/MessageLog.h"
#include "TXD/ArchiveLayout.h"
#include "TXD/TXDArchive.h"

namespace TXD {
namespace {

std::uint32_t squaredDistance(std::uint32_t a, std::uint32_t b) {
    std::uint32_t sum = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        int delta = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        sum += static_cast<std::uint32_t>(delta * delta);
    }
    return sum;
}

std::uint8_t nearestEntry(const std::uint32_t* palette, std::uint32_t colour) {
    std::uint8_t nearest = 0;
    std::uint32_t best = std::numeric_limits<std::uint32_t>::max();
    for (std::size_t entry = 0; entry < Layout::kPaletteEntries; ++entry) {
        std::uint32_t distance = squaredDistance(colour, palette[entry]);
        // Strictly less: ties go to the lowest index.
        if (distance < best) {
            best = distance;
            nearest = static_cast<std::uint8_t>(entry);
        }
    }
    return nearest;
}

}  // namespace

bool TXDArchive::collectPalette(std::uint32_t* palette, const std::int32_t& textureIndex,
                                std::uint8_t* indices) {
    TextureRecord& record = textures[textureIndex];
    if (!record.texture || record.width < 0 || record.height < 0)
        return false;
    const std::size_t pixels =
        static_cast<std::size_t>(record.width) * static_cast<std::size_t>(record.height);
    if (pixels == 0)
        return true;
    // The level may be held at fewer than 4 bytes per pixel; never read past it.
    if (record.texture->GetLevelCount() == 0 || record.texture->levelSize(0) < pixels * 4)
        return false;

    ImageService::D3DLOCKED_RECT locked{};
    if (ImageService::FAILED(record.texture->LockRect(0, &locked, nullptr, 0)) || !locked.pBits)
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(locked.pBits);

    // A map gives the same answer as a linear search of the unique entries, without its cost. Once
    // all 256 entries are taken the palette cannot change, so a later colour's nearest entry can be
    // remembered beside the exact ones.
    std::unordered_map<std::uint32_t, std::uint8_t> entryOf;
    entryOf.reserve(pixels < 1024 ? pixels : 1024);
    std::size_t used = 0;
    bool overflowed = false;
    for (std::size_t p = 0; p < pixels; ++p) {
        const std::uint32_t colour = Layout::getU32(bytes + p * 4);
        auto found = entryOf.find(colour);
        if (found != entryOf.end()) {
            indices[p] = found->second;
            continue;
        }
        std::uint8_t entry;
        if (used < Layout::kPaletteEntries) {
            entry = static_cast<std::uint8_t>(used);
            palette[used++] = colour;
        } else {
            overflowed = true;
            entry = nearestEntry(palette, colour);
        }
        entryOf.emplace(colour, entry);
        indices[p] = entry;
    }
    record.texture->UnlockRect(0);

    if (overflowed) {
        MessageLog::getInstance()->logMessage(MessageLog::Info, "Palette generation went above 256",
                                              "TXD\\TXDArchive", "TXD::TXDArchive::generatePalette", 642);
    }
    return true;
}

void TXDArchive::generatePalette(std::uint32_t* palette, const std::int32_t& textureIndex,
                                 std::uint8_t* indices) {
    if (!checkTextureIndex(textureIndex, "TXD::TXDArchive::generatePalette", 625) || !palette || !indices)
        return;
    if (collectPalette(palette, textureIndex, indices))
        return;
    const TextureRecord& record = textures[textureIndex];
    if (record.width > 0 && record.height > 0) {
        std::memset(indices, 0,
                    static_cast<std::size_t>(record.width) * static_cast<std::size_t>(record.height));
    }
    MessageLog::getInstance()->logMessage(
        MessageLog::Error, "Palette generation unable to read level 0 of texture %i", "TXD\\TXDArchive",
        "TXD::TXDArchive::generatePalette", 630, textureIndex);
}

}  // namespace TXD
