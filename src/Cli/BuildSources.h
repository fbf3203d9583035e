// Where a --build finds its textures: every image of a folder, paired with its masks by the folder
// rule, in bytewise order of their names; or the lines of a list file, each "image [alpha image]"
// with options of its own:
//
//     # comments and blank lines are skipped
//     wall.png
//     leaf.tga leaf_alpha.png --format 32
//     "my textures/sky.png" --name sky --mipmaps
//
// Words are separated by blanks; double or single quotes keep blanks inside one word; paths are
// relative to the list file's folder. The command line's options are every line's defaults.
#pragma once

#include <string>
#include <vector>

#include "Dictionary/Builder.h"

namespace Cli {

// Each fills `items` starting from `defaults`, and names every problem it meets in `problems` (a
// line it cannot read, two masks for one image), going on past them.
bool itemsFromFolder(const std::string& folder, const Dictionary::TextureRequest& defaults,
                     std::vector<Dictionary::BuildItem>& items, std::vector<std::string>& problems);
bool itemsFromList(const std::string& listPath, const Dictionary::TextureRequest& defaults,
                   std::vector<Dictionary::BuildItem>& items, std::vector<std::string>& problems);

// The words of one list line, quotes removed, up to a "#" that starts a word. False for a quote left
// open.
bool splitListLine(const std::string& line, std::vector<std::string>& words);

}  // namespace Cli
