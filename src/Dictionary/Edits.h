// Changes to the records of a loaded archive by name, as --add finds names (letters in either case,
// either slash): taking textures out and renaming one. Every other record stays as it is, so the
// save writes it back byte for byte. On any refusal the archive is left unchanged.
#pragma once

#include <string>
#include <vector>

#include "TXD/TXDArchive.h"

namespace Dictionary {

// Takes out every named texture; all must be there, else nothing is taken and `why` names the ones
// that are not.
bool removeTextures(TXD::TXDArchive& archive, const std::vector<std::string>& names, std::string& why);

// Gives the texture `from` the name `to`, which must fit the file and name no other texture.
bool renameTexture(TXD::TXDArchive& archive, const std::string& from, const std::string& to,
                   std::string& why);
// The same for the texture at `index` (a page that shows every record can point at one of two
// textures of the same name).
bool renameTextureAt(TXD::TXDArchive& archive, std::int32_t index, const std::string& to, std::string& why);

}  // namespace Dictionary
