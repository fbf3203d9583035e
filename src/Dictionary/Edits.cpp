#include "Dictionary/Edits.h"

#include <algorithm>

#include "Dictionary/TextureRequest.h"

namespace Dictionary {

bool removeTextures(TXD::TXDArchive& archive, const std::vector<std::string>& names, std::string& why) {
    std::vector<std::int32_t> found;
    std::string missing;
    for (const std::string& name : names) {
        const std::int32_t index = archive.findTexture(name);
        if (index < 0)
            missing += (missing.empty() ? "" : ", ") + name;
        else if (std::find(found.begin(), found.end(), index) == found.end())
            found.push_back(index);
    }
    if (!missing.empty()) {
        why = "no texture named " + missing + " in the archive";
        return false;
    }
    // From the back, so that the places still to go stay where they were found.
    std::sort(found.rbegin(), found.rend());
    for (std::int32_t index : found)
        archive.removeTexture(index);
    return true;
}

bool renameTexture(TXD::TXDArchive& archive, const std::string& from, const std::string& to,
                   std::string& why) {
    const std::int32_t index = archive.findTexture(from);
    if (index < 0) {
        why = "no texture named " + from + " in the archive";
        return false;
    }
    return renameTextureAt(archive, index, to, why);
}

bool renameTextureAt(TXD::TXDArchive& archive, std::int32_t index, const std::string& to, std::string& why) {
    if (index < 0 || static_cast<std::uint32_t>(index) >= archive.getTextureCount()) {
        why = "no texture " + std::to_string(index) + " in the archive";
        return false;
    }
    TextureRequest named;
    named.name = to;
    std::string name, maskName;
    if (!storedNames(named, name, maskName, why))
        return false;
    const std::int32_t holder = archive.findTexture(to);
    if (holder >= 0 && holder != index) {
        why = "a texture named " + archive.getTexture(static_cast<std::uint32_t>(holder)).name +
              " is already in the archive";
        return false;
    }
    archive.getTexture(static_cast<std::uint32_t>(index)).setName(to);
    archive.changed = true;
    return true;
}

}  // namespace Dictionary
