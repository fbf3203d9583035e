// An RGBA image as the bytes of a PNG file (libspng), for the extract mode to write where it must.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Cli {

// `pixels` holds R, G, B, A per pixel, rows from the top. False with the reason when it failed.
bool encodePng(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& pixels,
               std::vector<std::uint8_t>& png, std::string& why);

}  // namespace Cli
