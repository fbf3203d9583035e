// Portable float maps: "PF" (RGB) or "Pf" (grey), the width and height, and a scale whose sign gives
// the byte order of the samples (negative: little-endian); its magnitude is a brightness hint that is
// not applied. Rows of 32-bit floats follow from the bottom up.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ImageService/Decode/Decoders.h"
#include "ImageService/Decode/FloatToByte.h"
#include "ImageService/Decode/HeaderText.h"

namespace ImageService::Decode {
namespace {

struct PfmLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned channels = 3;
    bool littleEndian = false;
    std::uint64_t rasterOffset = 0;
};

HRESULT parseLayout(Source& file, PfmLayout* layout) {
    std::uint8_t magic[2];
    if (file.readAt(0, magic, 2) != 2 || magic[0] != 'P' || (magic[1] != 'F' && magic[1] != 'f'))
        return refuse("PFM: no magic number");
    layout->channels = magic[1] == 'F' ? 3 : 1;
    Reader in(file, 2, Reader::kHeaderCapacity);
    HeaderText text(in);
    if (!text.skipSpace(false))
        return refuse("PFM: no whitespace after the magic number");
    std::uint64_t sides[2] = {};
    for (std::uint64_t& side : sides) {
        text.skipSpace(false);
        if (!text.readNumber(&side))
            return refuse(text.atEnd() ? "truncated PFM: the header ends early"
                                       : "PFM: no size in the header");
    }
    text.skipSpace(false);
    const std::string scaleText = text.readWord();
    char* end = nullptr;
    const double scale = std::strtod(scaleText.c_str(), &end);
    if (scaleText.empty() || *end != '\0' || !std::isfinite(scale) || scale == 0.0)
        return refuse("PFM: the scale \"%s\" is not a nonzero number", scaleText.c_str());
    if (!text.takeOneSpace())
        return refuse("PFM: no whitespace after the header");
    if (HRESULT hr = checkDeclaredSides("PFM", sides[0], sides[1]); FAILED(hr))
        return hr;
    layout->width = static_cast<std::uint32_t>(sides[0]);
    layout->height = static_cast<std::uint32_t>(sides[1]);
    layout->littleEndian = scale < 0;
    layout->rasterOffset = text.position();
    const std::uint64_t needed =
        productOrMax(std::uint64_t{layout->width} * layout->channels * 4, layout->height);
    const std::uint64_t available = file.size() - layout->rasterOffset;
    if (available < needed)
        return refuse("truncated PFM: %s of %s pixel bytes", grouped(available).c_str(),
                      grouped(needed).c_str());
    return D3D_OK;
}

float readFloat(const std::uint8_t* p, bool littleEndian) {
    std::uint32_t bits = littleEndian ? readU32(p)
                                      : static_cast<std::uint32_t>(p[0]) << 24 |
                                            static_cast<std::uint32_t>(p[1]) << 16 |
                                            static_cast<std::uint32_t>(p[2]) << 8 | p[3];
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

HRESULT probePfm(Source& file, ImageHeader* header) {
    PfmLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    const D3DFORMAT stored = layout.channels == 3 ? D3DFMT_A32B32G32R32F : D3DFMT_R32F;
    *header = ImageHeader{layout.width, layout.height, 1, stored, D3DFMT_A8R8G8B8, D3DXIFF_PFM};
    return D3D_OK;
}

HRESULT decodePfm(Source& file, const ImageHeader& header, Destination out) {
    PfmLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    if (layout.width != header.width || layout.height != header.height ||
        out.size != std::size_t{layout.width} * layout.height * 4) {
        return D3DXERR_INVALIDDATA;
    }
    const std::size_t rowBytes = std::size_t{layout.width} * layout.channels * 4;
    Reader in(file, layout.rasterOffset);
    for (std::uint32_t fileRow = 0; fileRow < layout.height; ++fileRow) {
        const std::uint8_t* source = in.take(rowBytes);
        if (!source)
            return refuseShortRead("PFM", file);
        const std::uint32_t y = layout.height - 1 - fileRow;  // stored bottom-up
        std::uint8_t* target = out.bytes + std::size_t{y} * layout.width * 4;
        for (std::uint32_t x = 0; x < layout.width; ++x, target += 4, source += layout.channels * 4) {
            const std::uint8_t red = floatToByte(readFloat(source, layout.littleEndian));
            target[2] = red;
            target[1] = layout.channels == 3 ? floatToByte(readFloat(source + 4, layout.littleEndian)) : red;
            target[0] = layout.channels == 3 ? floatToByte(readFloat(source + 8, layout.littleEndian)) : red;
            target[3] = 255;
        }
    }
    return D3D_OK;
}

}  // namespace ImageService::Decode
