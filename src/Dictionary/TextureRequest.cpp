#include "Dictionary/TextureRequest.h"

#include "Common/STDFunctions/STDFunctions.h"

namespace Dictionary {
namespace {

// `what` is "texture" or "mask", `option` the option that names it.
bool checkName(const std::string& name, const std::string& path, bool given, const char* what,
               const char* option, std::string& why) {
    if (name.empty()) {
        why = given ? std::string("the ") + what + " name is empty; give one with " + option + " <name>"
                    : std::string("the ") + what + " name made from " + path + " is empty; give one with " +
                          option + " <name>";
        return false;
    }
    if (name.size() > kMaxNameBytes) {
        why = std::string("the ") + what + " name " + name + " is " + std::to_string(name.size()) +
              " bytes long; the file holds at most " + std::to_string(kMaxNameBytes) +
              ": choose a shorter one with " + option + " <name>";
        return false;
    }
    return true;
}

}  // namespace

bool storedNames(const TextureRequest& request, std::string& name, std::string& maskName, std::string& why) {
    if (request.alphaPath && request.alphaPath->empty()) {
        why = "the alpha image argument is empty";
        return false;
    }
    name = request.name ? *request.name : STDFunctions::getFileNameNoExtension(request.imagePath);
    if (!checkName(name, request.imagePath, request.name.has_value(), "texture", "--name", why))
        return false;
    maskName.clear();
    if (request.maskName || request.alphaPath) {
        maskName =
            request.maskName ? *request.maskName : STDFunctions::getFileNameNoExtension(*request.alphaPath);
        if (!checkName(maskName, request.alphaPath.value_or(""), request.maskName.has_value(), "mask",
                       "--mask-name", why))
            return false;
    }
    return true;
}

bool addTexture(TXD::TXDArchive& archive, TXD::Device*& device, const TextureRequest& request,
                AddResult& result, std::string& why) {
    std::string name, maskName;
    if (!storedNames(request, name, maskName, why))
        return false;
    TXD::AddOptions options;
    options.keepImageAlpha = true;
    options.dxt3ForAlpha = !request.format.has_value();
    options.greyMasks = true;
    options.dither = request.dither;
    const std::int32_t existing = archive.findTexture(name);
    if (!archive.addTexture(device, request.imagePath, name, request.format.value_or(TXD::DXT1),
                            request.mipMaps, request.alphaPath.value_or(""), maskName, options)) {
        why = "cannot add " + request.imagePath;
        return false;
    }
    result.name = name;
    result.replaced = existing >= 0;
    result.index = static_cast<std::int32_t>(archive.getTextureCount()) - 1;
    if (result.replaced) {
        TXD::TextureRecord added = archive.textures.back();
        archive.textures.pop_back();
        archive.replaceTexture(existing, added);
        result.index = existing;
    }
    return true;
}

}  // namespace Dictionary
