#include "ImageService/Direct3D/Format.h"

#include <limits>

namespace ImageService {
namespace {

constexpr FormatInfo kFormats[] = {
    {D3DFMT_R8G8B8, "R8G8B8", false, 3, false},     {D3DFMT_A8R8G8B8, "A8R8G8B8", false, 4, true},
    {D3DFMT_X8R8G8B8, "X8R8G8B8", false, 4, false}, {D3DFMT_A8B8G8R8, "A8B8G8R8", false, 4, true},
    {D3DFMT_DXT1, "DXT1", true, 8, true},           {D3DFMT_DXT3, "DXT3", true, 16, true},
    {D3DFMT_DXT5, "DXT5", true, 16, true},
};

}  // namespace

const FormatInfo* formatInfo(D3DFORMAT format) {
    for (const FormatInfo& info : kFormats) {
        if (info.format == format)
            return &info;
    }
    return nullptr;
}

bool storesAlpha(D3DFORMAT format) {
    if (const FormatInfo* info = formatInfo(format))
        return info->hasAlpha;
    // Formats that exist only in files.
    switch (format) {
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_A8P8:
        case D3DFMT_A8L8:
            return true;
        default:
            return false;
    }
}

UINT levelExtent(UINT extent, UINT level) {
    if (level >= 32)
        return 1;
    UINT reduced = extent >> level;
    return reduced == 0 ? 1 : reduced;
}

std::optional<std::size_t> rowPitch(D3DFORMAT format, UINT width) {
    const FormatInfo* info = formatInfo(format);
    if (!info)
        return std::nullopt;
    std::size_t units = info->blockCompressed ? (static_cast<std::size_t>(width) + 3) / 4 : width;
    if (info->blockCompressed && units == 0)
        units = 1;
    return units * info->bytesPerUnit;  // width is 32-bit, so this cannot overflow a 64-bit size_t
}

std::optional<std::size_t> levelByteSize(D3DFORMAT format, UINT width, UINT height) {
    const FormatInfo* info = formatInfo(format);
    std::optional<std::size_t> pitch = rowPitch(format, width);
    if (!info || !pitch)
        return std::nullopt;
    std::size_t rows = info->blockCompressed ? (static_cast<std::size_t>(height) + 3) / 4 : height;
    if (info->blockCompressed && rows == 0)
        rows = 1;
    if (rows != 0 && *pitch > std::numeric_limits<std::size_t>::max() / rows)
        return std::nullopt;
    return *pitch * rows;
}

}  // namespace ImageService
