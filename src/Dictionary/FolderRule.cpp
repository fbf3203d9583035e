#include "Dictionary/FolderRule.h"

#include <map>

#include "Common/STDFunctions/STDFunctions.h"

namespace Dictionary {
namespace {

std::string folded(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    }
    return text;
}

// The image a mask belongs to, by its stem: "leaf_alpha" -> "leaf"; empty when it is no mask.
std::string maskedStem(const std::string& stem) {
    const std::string key = folded(stem);
    for (const std::string suffix : {"_alpha", "_mask"}) {
        if (key.size() > suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0)
            return key.substr(0, key.size() - suffix.size());
    }
    return "";
}

}  // namespace

std::vector<FolderTexture> pairMasks(const std::vector<std::string>& names,
                                     std::vector<std::string>& problems) {
    std::map<std::string, std::size_t> imageOf;  // folded stem -> first image of that stem
    for (std::size_t i = 0; i < names.size(); ++i)
        imageOf.emplace(folded(STDFunctions::getFileNameNoExtension(names[i])), i);

    std::map<std::size_t, std::vector<std::size_t>> masksOf;
    std::vector<bool> isMask(names.size(), false);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string base = maskedStem(STDFunctions::getFileNameNoExtension(names[i]));
        auto image = base.empty() ? imageOf.end() : imageOf.find(base);
        if (image != imageOf.end() && image->second != i) {
            masksOf[image->second].push_back(i);
            isMask[i] = true;
        }
    }
    std::vector<FolderTexture> textures;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (isMask[i])
            continue;
        FolderTexture texture{names[i], std::nullopt};
        auto masks = masksOf.find(i);
        if (masks != masksOf.end() && masks->second.size() > 1) {
            std::string list;
            for (std::size_t mask : masks->second)
                list += (list.empty() ? "" : " and ") + names[mask];
            problems.push_back(names[i] + ": two alpha images, " + list);
            continue;
        }
        if (masks != masksOf.end())
            texture.alpha = names[masks->second.front()];
        textures.push_back(texture);
    }
    return textures;
}

}  // namespace Dictionary
