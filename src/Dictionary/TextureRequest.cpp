#include "Dictionary/TextureRequest.h"

#include "Common/STDFunctions/STDFunctions.h"
#include "ImageService/D3DX/D3DX.h"

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

// Whether the image's header gives a side that is not a power of two, so that the refusal can name
// the option that lifts it.
bool sidesNeedResizing(const std::string& imagePath) {
    if (imagePath.size() >= STDFunctions::kMaxWideLength)
        return false;  // refused as a path already, with its own reason
    Win32::WCHAR wide[STDFunctions::kMaxWideLength + 1];
    ImageService::D3DXIMAGE_INFO info{};
    if (ImageService::FAILED(
            ImageService::D3DXGetImageInfoFromFileW(STDFunctions::stringToLPCWSTR(imagePath, wide), &info)))
        return false;
    const auto power = [](std::uint32_t side) { return side != 0 && (side & (side - 1)) == 0; };
    return !power(info.Width) || !power(info.Height);
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
    options.resizeToPowerOfTwo = request.pow2;
    const std::int32_t existing = archive.findTexture(name);
    if (!archive.addTexture(device, request.imagePath, name, request.format.value_or(TXD::DXT1),
                            request.mipMaps, request.alphaPath.value_or(""), maskName, options)) {
        why = "cannot add " + request.imagePath;
        if (!request.pow2 && sidesNeedResizing(request.imagePath))
            why += " (--pow2 resizes it to the nearest powers of two)";
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
