// Archive records made directly, without an image file: a texture of the asked format whose levels
// hold a distinct byte pattern, and the header values that go with it.
#pragma once

#include <string>

#include "TXD/TXDArchive.h"
#include "support/Textures.h"

inline TXD::TextureRecord makeRecord(const std::string& name, ImageService::D3DFORMAT format,
                                     std::uint32_t raster, std::uint8_t depth, int width, int height,
                                     int levels = 1) {
    TXD::TextureRecord record;
    record.texture = makeTexture(unsigned(width), unsigned(height), format, unsigned(levels)).release();
    for (unsigned level = 0; level < record.texture->GetLevelCount(); ++level) {
        for (std::size_t i = 0; i < record.texture->levelSize(level); ++i)
            record.texture->levelBytes(level)[i] = static_cast<std::uint8_t>(i * 31 + level * 7 + 1);
    }
    record.setName(name);
    record.depth = depth;
    record.compression = format == ImageService::D3DFMT_DXT1   ? 1
                         : format == ImageService::D3DFMT_DXT3 ? 3
                                                               : 0;
    record.rasterFormat = raster;
    record.hasAlpha = (raster & 0xF00) == 0x300 || (raster & 0xF00) == 0x500;
    record.width = static_cast<std::int16_t>(width);
    record.height = static_cast<std::int16_t>(height);
    record.mipLevels = static_cast<std::uint8_t>(levels);
    return record;
}

inline TXD::TextureRecord dxtRecord(const std::string& name, int width, int height, int compression,
                                    int levels = 1) {
    return makeRecord(name, compression == 1 ? ImageService::D3DFMT_DXT1 : ImageService::D3DFMT_DXT3,
                      compression == 1 ? 0x200 : 0x300, 16, width, height, levels);
}
