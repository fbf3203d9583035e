// DirectDraw Surface files: DXT1/3/5 and the uncompressed layouts the service holds are copied as
// they are; a few 16-bit and luminance layouts are widened to A8R8G8B8. Cube maps, volumes, DX10
// headers and every other pixel format are refused as unsupported.
#include <algorithm>
#include <cstring>
#include <vector>

#include "ImageService/Decode/Decoders.h"

namespace ImageService::Decode {
namespace {

// DDS_HEADER, as offsets from the start of the file (the 4-byte magic comes first).
constexpr std::size_t kHeaderSizeAt = 4;  // must be 124
constexpr std::size_t kFlagsAt = 8;
constexpr std::size_t kHeightAt = 12;
constexpr std::size_t kWidthAt = 16;
constexpr std::size_t kDepthAt = 24;
constexpr std::size_t kMipCountAt = 28;
constexpr std::size_t kFormatSizeAt = 76;  // DDS_PIXELFORMAT, must be 32
constexpr std::size_t kFormatFlagsAt = 80;
constexpr std::size_t kFourCCAt = 84;
constexpr std::size_t kBitCountAt = 88;
constexpr std::size_t kMasksAt = 92;  // red, green, blue, alpha
constexpr std::size_t kCaps2At = 112;
constexpr std::size_t kDataAt = 128;

constexpr std::uint32_t kFlagMipCount = 0x20000, kFlagDepth = 0x800000;
constexpr std::uint32_t kCaps2CubeMap = 0x200, kCaps2Volume = 0x200000;
constexpr std::uint32_t kAlphaPixels = 0x1, kFourCC = 0x4, kRgb = 0x40, kLuminance = 0x20000;

enum class Conversion { Copy, CopyOpaque, Masked16, Luminance };

struct DdsFormat {
    std::uint32_t kind;  // kFourCC, kRgb or kLuminance
    std::uint32_t fourCC;
    std::uint32_t bitCount;
    std::uint32_t masks[4];
    D3DFORMAT fileFormat;
    D3DFORMAT textureFormat;
    Conversion conversion;
};

constexpr DdsFormat kFormats[] = {
    {kFourCC, D3DFMT_DXT1, 0, {}, D3DFMT_DXT1, D3DFMT_DXT1, Conversion::Copy},
    {kFourCC, D3DFMT_DXT3, 0, {}, D3DFMT_DXT3, D3DFMT_DXT3, Conversion::Copy},
    {kFourCC, D3DFMT_DXT5, 0, {}, D3DFMT_DXT5, D3DFMT_DXT5, Conversion::Copy},
    {kRgb, 0, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, Conversion::Copy},
    {kRgb, 0, 32, {0xFF0000, 0xFF00, 0xFF, 0}, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, Conversion::CopyOpaque},
    {kRgb, 0, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, D3DFMT_A8B8G8R8, D3DFMT_A8B8G8R8, Conversion::Copy},
    {kRgb, 0, 24, {0xFF0000, 0xFF00, 0xFF, 0}, D3DFMT_R8G8B8, D3DFMT_R8G8B8, Conversion::Copy},
    {kRgb, 0, 16, {0x7C00, 0x3E0, 0x1F, 0}, D3DFMT_X1R5G5B5, D3DFMT_A8R8G8B8, Conversion::Masked16},
    {kRgb, 0, 16, {0x7C00, 0x3E0, 0x1F, 0x8000}, D3DFMT_A1R5G5B5, D3DFMT_A8R8G8B8, Conversion::Masked16},
    {kRgb, 0, 16, {0xF800, 0x7E0, 0x1F, 0}, D3DFMT_R5G6B5, D3DFMT_A8R8G8B8, Conversion::Masked16},
    {kRgb, 0, 16, {0xF00, 0xF0, 0xF, 0xF000}, D3DFMT_A4R4G4B4, D3DFMT_A8R8G8B8, Conversion::Masked16},
    {kLuminance, 0, 8, {0xFF, 0, 0, 0}, D3DFMT_L8, D3DFMT_A8R8G8B8, Conversion::Luminance},
    {kLuminance, 0, 16, {0xFF, 0, 0, 0xFF00}, D3DFMT_A8L8, D3DFMT_A8R8G8B8, Conversion::Luminance},
};

struct DdsLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t mipLevels = 1;
    const DdsFormat* format = nullptr;
    std::uint64_t levelZeroSize = 0;
};

const DdsFormat* findFormat(const std::uint8_t* d) {
    const std::uint32_t flags = readU32(d + kFormatFlagsAt);
    const std::uint32_t kind = flags & (kFourCC | kRgb | kLuminance);
    for (const DdsFormat& format : kFormats) {
        if (kind != format.kind)
            continue;
        if (kind == kFourCC) {
            if (readU32(d + kFourCCAt) == format.fourCC)
                return &format;
            continue;
        }
        if (readU32(d + kBitCountAt) != format.bitCount)
            continue;
        // Writers disagree on the colour masks of luminance files; only the bit count tells them apart.
        bool same = true;
        for (std::size_t i = 0; i < 3 && kind != kLuminance; ++i)
            same = same && readU32(d + kMasksAt + 4 * i) == format.masks[i];
        // The alpha mask counts only when the file says its pixels carry alpha.
        std::uint32_t alpha = (flags & kAlphaPixels) ? readU32(d + kMasksAt + 12) : 0;
        if (same && alpha == format.masks[3])
            return &format;
    }
    return nullptr;  // DX10 headers, BC4/BC5, palettes and unknown layouts
}

// Bytes of one level as stored: 4x4 blocks for DXT, unpadded rows otherwise. Saturates at the
// largest 64-bit value rather than wrapping, since a header may declare sides up to 2^32 - 1.
std::uint64_t storedLevelSize(const DdsFormat& format, std::uint64_t width, std::uint64_t height) {
    std::uint64_t rowBytes = 0, rows = 0;
    if (format.kind == kFourCC) {
        rowBytes = std::max<std::uint64_t>(1, (width + 3) / 4) * (format.fourCC == D3DFMT_DXT1 ? 8 : 16);
        rows = std::max<std::uint64_t>(1, (height + 3) / 4);
    } else {
        rowBytes = (width * format.bitCount + 7) / 8;
        rows = height;
    }
    return rows != 0 && rowBytes > UINT64_MAX / rows ? UINT64_MAX : rowBytes * rows;
}

UINT chainLength(UINT width, UINT height) {
    UINT levels = 1;
    while (width > 1 || height > 1) {
        width = std::max<UINT>(1, width / 2);
        height = std::max<UINT>(1, height / 2);
        ++levels;
    }
    return levels;
}

HRESULT parseLayout(Source& file, DdsLayout* layout) {
    const std::vector<std::uint8_t> head = readHead(file, kDataAt);
    const std::uint8_t* d = head.data();
    const std::size_t fileSize = static_cast<std::size_t>(file.size());
    if (fileSize < kDataAt || std::memcmp(d, "DDS ", 4) != 0)
        return refuse("truncated DDS: %zu bytes, too few for its header", fileSize);
    if (readU32(d + kHeaderSizeAt) != 124 || readU32(d + kFormatSizeAt) != 32) {
        return refuse("damaged DDS header: sizes %u and %u instead of 124 and 32", readU32(d + kHeaderSizeAt),
                      readU32(d + kFormatSizeAt));
    }
    const std::uint32_t flags = readU32(d + kFlagsAt);
    layout->width = readU32(d + kWidthAt);
    layout->height = readU32(d + kHeightAt);
    if (layout->width == 0 || layout->height == 0)
        return refuse("damaged DDS header: %u x %u pixels", layout->width, layout->height);
    const std::uint32_t caps2 = readU32(d + kCaps2At);
    if ((caps2 & (kCaps2CubeMap | kCaps2Volume)) != 0 ||
        ((flags & kFlagDepth) && readU32(d + kDepthAt) > 1)) {
        return refuse("unsupported DDS variant: a cube map or volume");
    }
    layout->format = findFormat(d);
    if (!layout->format) {
        return refuse("unsupported DDS variant: pixel format flags 0x%X, code 0x%08X, %u bits",
                      readU32(d + kFormatFlagsAt), readU32(d + kFourCCAt), readU32(d + kBitCountAt));
    }

    const std::uint32_t declared = readU32(d + kMipCountAt);
    layout->mipLevels = (flags & kFlagMipCount) && declared > 1 ? declared : 1;
    if (layout->mipLevels > chainLength(layout->width, layout->height))
        return refuse("damaged DDS header: %u mip levels for %u x %u pixels", layout->mipLevels,
                      layout->width, layout->height);
    // Only level 0 is loaded, but a file that announces levels it does not hold is damaged.
    std::uint64_t total = 0;
    for (UINT level = 0; level < layout->mipLevels; ++level) {
        std::uint64_t size = storedLevelSize(*layout->format, levelExtent(layout->width, level),
                                             levelExtent(layout->height, level));
        total = size > UINT64_MAX - total ? UINT64_MAX : total + size;
    }
    if (total > fileSize - kDataAt) {
        return refuse("truncated DDS: %u levels need %llu bytes, %zu remain", layout->mipLevels,
                      static_cast<unsigned long long>(total), fileSize - kDataAt);
    }
    layout->levelZeroSize = storedLevelSize(*layout->format, layout->width, layout->height);
    return D3D_OK;
}

void convertMasked16(const DdsFormat& format, const std::uint8_t* source, std::uint8_t* target,
                     std::size_t count) {
    // Pixels are B, G, R, A in the output, so channel i of the mask table lands at byte 2 - i.
    std::uint32_t shifts[4] = {}, maxima[4] = {};
    for (std::size_t c = 0; c < 4; ++c) {
        std::uint32_t mask = format.masks[c];
        if (mask == 0)
            continue;
        while (((mask >> shifts[c]) & 1u) == 0)
            ++shifts[c];
        maxima[c] = mask >> shifts[c];
    }
    for (std::size_t i = 0; i < count; ++i, source += 2, target += 4) {
        std::uint32_t v = readU16(source);
        for (std::size_t c = 0; c < 4; ++c) {
            std::uint32_t value = maxima[c] ? ((v & format.masks[c]) >> shifts[c]) * 255 / maxima[c] : 255;
            target[c == 3 ? 3 : 2 - c] = static_cast<std::uint8_t>(value);
        }
    }
}

void convertLuminance(const DdsFormat& format, const std::uint8_t* source, std::uint8_t* target,
                      std::size_t count) {
    const bool alpha = format.bitCount == 16;
    for (std::size_t i = 0; i < count; ++i, target += 4) {
        target[0] = target[1] = target[2] = *source++;
        target[3] = alpha ? *source++ : 255;
    }
}

}  // namespace

HRESULT probeDds(Source& file, ImageHeader* header) {
    DdsLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    *header = ImageHeader{layout.width,
                          layout.height,
                          layout.mipLevels,
                          layout.format->fileFormat,
                          layout.format->textureFormat,
                          D3DXIFF_DDS};
    return D3D_OK;
}

HRESULT decodeDds(Source& file, const ImageHeader& header, Destination out) {
    DdsLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    const DdsFormat& format = *layout.format;
    const std::optional<std::size_t> expected =
        levelByteSize(format.textureFormat, layout.width, layout.height);
    if (layout.width != header.width || layout.height != header.height || !expected ||
        *expected != out.size) {
        return refuse("damaged DDS: its header changed between reads");
    }
    if (format.conversion == Conversion::Copy || format.conversion == Conversion::CopyOpaque) {
        if (layout.levelZeroSize != out.size)
            return refuse("damaged DDS: level 0 holds %llu bytes, %zu expected",
                          static_cast<unsigned long long>(layout.levelZeroSize), out.size);
        // Stored as the texture holds it: read straight into place.
        if (file.readAt(kDataAt, out.bytes, out.size) != out.size)
            return refuseShortRead("DDS", file);
        if (format.conversion == Conversion::CopyOpaque) {
            for (std::size_t i = 3; i < out.size; i += 4)
                out.bytes[i] = 255;
        }
        return D3D_OK;
    }
    // The widened layouts, a row at a time.
    const std::size_t sourceBytes = format.bitCount / 8;
    Reader in(file, kDataAt);
    for (std::uint32_t y = 0; y < layout.height; ++y) {
        const std::uint8_t* row = in.take(std::size_t{layout.width} * sourceBytes);
        if (!row)
            return refuseShortRead("DDS", file);
        std::uint8_t* target = out.bytes + std::size_t{y} * layout.width * 4;
        if (format.conversion == Conversion::Masked16) {
            convertMasked16(format, row, target, layout.width);
        } else {
            convertLuminance(format, row, target, layout.width);
        }
    }
    return D3D_OK;
}

}  // namespace ImageService::Decode
