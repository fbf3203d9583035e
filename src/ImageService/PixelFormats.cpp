#include "ImageService/PixelFormats.h"

#include "ImageService/BlockCodec.h"

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
