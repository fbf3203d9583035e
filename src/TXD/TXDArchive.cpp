#include "TXD/TXDArchive.h"

#include "Common/MessageLog.h"
#include "Common/WideStringBuffer.h"

namespace TXD {

TXDArchive::TXDArchive() : widePathBuffer(WideStringBuffer::acquire()) {}

TXDArchive::~TXDArchive() {
    // Textures first, index 0 upward, before any name is dropped.
    for (TextureRecord& record : textures) {
        if (record.texture)
            record.texture->Release();
    }
    textures.clear();
    textures.shrink_to_fit();
    WideStringBuffer::release();
    widePathBuffer = nullptr;
}

bool TXDArchive::checkTextureIndex(std::int32_t index, const char* function, int line) const {
    const std::int32_t count = static_cast<std::int32_t>(textures.size());
    if (index >= 0 && index < count)
        return true;
    MessageLog::getInstance()->logMessage(MessageLog::Error,
                                          "Texture index %i is outside list of textures %i",
                                          "TXD\\TXDArchive", function, line, index, count);
    return false;
}

std::int32_t TXDArchive::findTexture(const std::string& name) const {
    if (name.empty())
        return -1;
    const std::uint32_t hash = hashName(name);
    for (std::size_t index = 0; index < textures.size(); ++index) {
        const TextureRecord& record = textures[index];
        if (!record.name.empty() && record.nameHash == hash && namesMatch(record.name, name))
            return static_cast<std::int32_t>(index);
    }
    return -1;
}

bool TXDArchive::replaceTexture(std::int32_t index, const TextureRecord& record) {
    if (index < 0 || static_cast<std::size_t>(index) >= textures.size())
        return false;
    TextureRecord& old = textures[static_cast<std::size_t>(index)];
    if (old.texture && old.texture != record.texture)
        old.texture->Release();
    old = record;
    changed = true;
    return true;
}

bool TXDArchive::removeTexture(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= textures.size())
        return false;
    if (textures[static_cast<std::size_t>(index)].texture)
        textures[static_cast<std::size_t>(index)].texture->Release();
    textures.erase(textures.begin() + index);
    changed = true;
    return true;
}

}  // namespace TXD
