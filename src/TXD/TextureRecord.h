// One texture of the archive: its image-service texture, the two names it is stored under, their
// hashes, and the values of the file's native texture header. A record is a plain value: copying or
// destroying it never touches the texture's reference count (the archive owns that reference).
#pragma once

#include <cstdint>
#include <string>

#include "ImageService/Direct3D/Texture.h"

namespace TXD {

// Case-folded, slash-folded CRC-32 register without the final inversion.
std::uint32_t hashName(const std::string& text);
// True when the two texts are the same once folded as hashName folds them.
bool namesMatch(const std::string& a, const std::string& b);
// The text folded as hashName folds it: equal for exactly the names namesMatch takes as one.
std::string foldedName(const std::string& text);

class TextureRecord {
public:
    ImageService::IDirect3DTexture9* texture = nullptr;
    std::string name;
    std::string maskName;
    std::uint32_t nameHash = 0;
    std::uint32_t maskNameHash = 0;
    std::uint32_t rasterFormat = 0;
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::uint16_t filterFlags = 0;
    std::uint8_t depth = 0;
    std::uint8_t mipLevels = 1;
    std::uint8_t compression = 1;
    std::uint8_t filterByte2 = 0;
    std::uint8_t filterByte3 = 0;
    std::int32_t hasAlpha = 0;
    bool excludeFromSave = false;

    // An empty text leaves the stored hash as it was.
    void setName(std::string text);
    void setMaskName(std::string text);
    std::string getName() const { return name; }
    std::string getMaskName() const { return maskName; }
};

}  // namespace TXD
