// One texture as a person asks for it: an image, perhaps an alpha image, names and choices. This is
// the one place that decides a texture's names, format and alpha, for every mode of the tool and the
// browser module alike: each of them fills a request and hands it here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "TXD/TXDArchive.h"

namespace Dictionary {

// The file's name fields hold 32 bytes; a reader stops at the first zero byte, so a name of 32 bytes
// would run into the next field in readers that expect the terminator.
constexpr std::size_t kMaxNameBytes = 31;

struct TextureRequest {
    std::string imagePath;
    std::optional<std::string> alphaPath;      // an alpha image was named (an empty one is refused)
    std::optional<std::string> name;           // else the image's file name without folder and extension
    std::optional<std::string> maskName;       // else the alpha image's, made the same way
    std::optional<TXD::TextureFormat> format;  // else DXT1, or DXT3 for a texture that carries alpha
    bool mipMaps = false;
    bool dither = false;
    bool pow2 = false;  // sides that are not powers of two are resized to the nearest ones
};

// The names the texture will be stored under, checked against what the file can hold. False with the
// reason, which names the option that lets the user choose another name.
bool storedNames(const TextureRequest& request, std::string& name, std::string& maskName, std::string& why);

struct AddResult {
    std::int32_t index = -1;  // the record's place in the archive
    bool replaced = false;    // a texture of the same name was there and now holds this one
    std::string name;
};

// Adds the texture to the archive, or puts it in the place of the texture of the same name (letters
// compared without case, either slash); the other records stay as they are. On failure the archive is
// unchanged, the reasons are in the message log and `why` says what was refused.
bool addTexture(TXD::TXDArchive& archive, TXD::Device*& device, const TextureRequest& request,
                AddResult& result, std::string& why);

}  // namespace Dictionary
