// A texture's pixels as --extract writes them: one level converted to R, G, B, A bytes per pixel,
// rows from the top, whatever the record stores (blocks decoded, palettes resolved). Shared by the
// command line's --extract and the browser module's extract.
#pragma once

#include <cstdint>
#include <vector>

#include "ImageService/Direct3D/Texture.h"

namespace Cli {

// False (pixels untouched) for a missing texture or level, or when the conversion fails.
bool rgbaOf(ImageService::IDirect3DTexture9* texture, std::uint32_t level, std::vector<std::uint8_t>& pixels);

}  // namespace Cli
