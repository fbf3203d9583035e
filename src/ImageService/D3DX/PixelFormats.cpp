#include "ImageService/D3DX/PixelFormats.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "ImageService/D3DX/BlockCodec.h"
#include "ImageService/Infrastructure/Parallel.h"

namespace ImageService {
namespace {

// Byte offsets of R, G and B within a pixel of kStride bytes; kAlpha is the alpha byte and kFiller
// an unused byte that is written as 255 (-1: the format has no such byte). One instantiation per
// format keeps the inner loops free of run-time offsets.
template <int kStride, int kRed, int kGreen, int kBlue, int kAlpha, int kFiller>
struct Layout {
    static void unpack(const std::uint8_t* pixels, std::size_t count, std::uint8_t* rgba) {
        for (std::size_t i = 0; i < count; ++i, pixels += kStride, rgba += 4) {
            rgba[0] = pixels[kRed];
            rgba[1] = pixels[kGreen];
            rgba[2] = pixels[kBlue];
            if constexpr (kAlpha >= 0) {
                rgba[3] = pixels[kAlpha];
            } else {
                rgba[3] = 255;
            }
        }
    }
    static void pack(const std::uint8_t* rgba, std::size_t count, std::uint8_t* pixels) {
        for (std::size_t i = 0; i < count; ++i, pixels += kStride, rgba += 4) {
            pixels[kRed] = rgba[0];
            pixels[kGreen] = rgba[1];
            pixels[kBlue] = rgba[2];
            if constexpr (kAlpha >= 0)
                pixels[kAlpha] = rgba[3];
            if constexpr (kFiller >= 0)
                pixels[kFiller] = 255;
        }
    }
};

struct PixelCodec {
    D3DFORMAT format;
    void (*unpack)(const std::uint8_t*, std::size_t, std::uint8_t*);
    void (*pack)(const std::uint8_t*, std::size_t, std::uint8_t*);
};

template <typename L>
constexpr PixelCodec codecFor(D3DFORMAT format) {
    return {format, &L::unpack, &L::pack};
}

constexpr PixelCodec kPixelCodecs[] = {
    codecFor<Layout<3, 2, 1, 0, -1, -1>>(D3DFMT_R8G8B8),   // B, G, R
    codecFor<Layout<4, 2, 1, 0, 3, -1>>(D3DFMT_A8R8G8B8),  // B, G, R, A
    codecFor<Layout<4, 2, 1, 0, -1, 3>>(D3DFMT_X8R8G8B8),  // B, G, R, x
    codecFor<Layout<4, 0, 1, 2, 3, -1>>(D3DFMT_A8B8G8R8),  // R, G, B, A
};

const PixelCodec* pixelCodec(D3DFORMAT format) {
    for (const PixelCodec& codec : kPixelCodecs) {
        if (codec.format == format)
            return &codec;
    }
    return nullptr;
}

}  // namespace

bool unpackPixels(D3DFORMAT format, const std::uint8_t* pixels, std::size_t count, std::uint8_t* rgba) {
    const PixelCodec* codec = pixelCodec(format);
    if (!codec)
        return false;
    codec->unpack(pixels, count, rgba);
    return true;
}

bool packPixels(D3DFORMAT format, const std::uint8_t* rgba, std::size_t count, std::uint8_t* pixels) {
    const PixelCodec* codec = pixelCodec(format);
    if (!codec)
        return false;
    codec->pack(rgba, count, pixels);
    return true;
}

namespace {

constexpr std::size_t kMinimumParallelBands = 8;

// The key is an ARGB colour whatever the formats; a match becomes transparent black.
void applyColorKey(std::uint8_t* rgba, std::size_t count, DWORD colorKey) {
    const std::uint8_t key[4] = {
        static_cast<std::uint8_t>(colorKey >> 16), static_cast<std::uint8_t>(colorKey >> 8),
        static_cast<std::uint8_t>(colorKey), static_cast<std::uint8_t>(colorKey >> 24)};
    for (std::size_t i = 0; i < count; ++i, rgba += 4) {
        if (std::memcmp(rgba, key, 4) == 0)
            std::memset(rgba, 0, 4);
    }
}

// Where band `band` (four pixel rows) starts in a level of this format, and how many rows it has.
struct Band {
    std::size_t offset;
    UINT rows;
};

Band bandOf(const FormatInfo& info, std::size_t band, UINT width, UINT height) {
    UINT y = static_cast<UINT>(band * 4);
    UINT rows = height - y < 4 ? height - y : 4;
    std::size_t offset = info.blockCompressed ? band * *rowPitch(info.format, width)
                                              : static_cast<std::size_t>(y) * width * info.bytesPerUnit;
    return {offset, rows};
}

}  // namespace

bool convertible(D3DFORMAT from, D3DFORMAT to) {
    const FormatInfo* fromInfo = formatInfo(from);
    const FormatInfo* toInfo = formatInfo(to);
    return fromInfo && toInfo && (fromInfo->blockCompressed || pixelCodec(from)) &&
           (toInfo->blockCompressed || pixelCodec(to));
}

std::size_t bandCount(UINT height) {
    return (static_cast<std::size_t>(height) + 3) / 4;
}

void convertLevelBand(D3DFORMAT from, const std::uint8_t* source, D3DFORMAT to, std::uint8_t* destination,
                      UINT width, UINT height, std::size_t band, DWORD colorKey, std::uint8_t* rgba) {
    const FormatInfo* fromInfo = formatInfo(from);
    const FormatInfo* toInfo = formatInfo(to);
    Band in = bandOf(*fromInfo, band, width, height);
    Band out = bandOf(*toInfo, band, width, height);
    std::size_t pixels = static_cast<std::size_t>(width) * in.rows;
    if (fromInfo->blockCompressed) {
        decompressBlockRow(from, source + in.offset, width, in.rows, rgba);
    } else {
        unpackPixels(from, source + in.offset, pixels, rgba);
    }
    if (colorKey != 0)
        applyColorKey(rgba, pixels, colorKey);
    if (toInfo->blockCompressed) {
        compressBlockRow(to, rgba, width, out.rows, destination + out.offset);
    } else {
        packPixels(to, rgba, pixels, destination + out.offset);
    }
}

bool convertLevel(D3DFORMAT from, const std::uint8_t* source, D3DFORMAT to, std::uint8_t* destination,
                  UINT width, UINT height, DWORD colorKey) {
    if (!convertible(from, to))
        return false;
    const std::size_t bandPixels = static_cast<std::size_t>(width) * 4;
    std::atomic<bool> allocated{true};
    forEachPiece(bandCount(height), kMinimumParallelBands, [&](std::size_t band) {
        // One band buffer per thread, reused for every band that thread draws.
        thread_local std::unique_ptr<std::uint8_t[]> rgba;
        thread_local std::size_t capacity = 0;
        if (capacity < bandPixels * 4) {
            rgba.reset(new (std::nothrow) std::uint8_t[bandPixels * 4]);
            capacity = rgba ? bandPixels * 4 : 0;
        }
        if (!rgba) {
            allocated = false;
            return;
        }
        convertLevelBand(from, source, to, destination, width, height, band, colorKey, rgba.get());
    });
    return allocated;
}

bool decodeLevel(D3DFORMAT format, const std::uint8_t* level, UINT width, UINT height, std::uint8_t* rgba) {
    const FormatInfo* info = formatInfo(format);
    if (!info)
        return false;
    if (info->blockCompressed)
        return decompressImage(format, level, width, height, rgba);
    return unpackPixels(format, level, static_cast<std::size_t>(width) * height, rgba);
}

bool encodeLevel(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT height, std::uint8_t* level) {
    const FormatInfo* info = formatInfo(format);
    if (!info)
        return false;
    if (info->blockCompressed)
        return compressImage(format, rgba, width, height, level);
    return packPixels(format, rgba, static_cast<std::size_t>(width) * height, level);
}

std::size_t rgbaByteSize(UINT width, UINT height) {
    // Sides are at most kMaxTextureSide, so the product fits a 64-bit size with room to spare.
    return static_cast<std::size_t>(width) * height * 4;
}

}  // namespace ImageService
