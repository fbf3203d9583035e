// Writing an RGBA image as a PNG file (libspng), with the same safety as an archive: the file appears
// whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Cli {

// `pixels` holds R, G, B, A per pixel, rows from the top. False with the reason when it failed.
bool writePng(const std::string& path, std::uint32_t width, std::uint32_t height,
              const std::vector<std::uint8_t>& pixels, std::string& why);

}  // namespace Cli
