// Which images of a folder are textures and which are their masks: an image whose name (without its
// extension) ends in "_alpha" or "_mask" is the alpha image of the image of the same name without
// that ending, and no texture of its own; with no such image it is a texture like any other. Names
// are compared as texture names are (letters in either case), so the rule holds on every file system.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Dictionary {

struct FolderTexture {
    std::string image;
    std::optional<std::string> alpha;
};

// `names` are file names (no folders), in the order the textures are to take. Two masks for one
// image are a problem, named in `problems`; the image then gets neither.
std::vector<FolderTexture> pairMasks(const std::vector<std::string>& names,
                                     std::vector<std::string>& problems);

}  // namespace Dictionary
