// Windows and OS/2 v1 bitmaps: 1/2/4/8-bit palettes, 16/24/32-bit pixels with or without channel
// masks, RLE4 and RLE8. Header fields that describe sizes are checked against the file, never used
// to size anything on their own.
#include <algorithm>
#include <cstring>
#include <vector>

#include "ImageService/Decode/Decoders.h"

namespace ImageService::Decode {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6;

// One channel of a masked 16/32-bit pixel, rescaled to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    unsigned shift = 0;
    std::uint64_t maximum = 0;  // mask >> shift; 0 when the channel is absent

    static Channel from(std::uint32_t mask) {
        Channel channel;
        channel.mask = mask;
        if (mask == 0)
            return channel;
        while (((mask >> channel.shift) & 1u) == 0)
            ++channel.shift;
        channel.maximum = mask >> channel.shift;
        return channel;
    }
    std::uint8_t extract(std::uint32_t pixel, std::uint8_t absent) const {
        if (maximum == 0)
            return absent;
        std::uint64_t value = (pixel & mask) >> shift;
        return static_cast<std::uint8_t>((value * 255 + maximum / 2) / maximum);
    }
};

struct BmpLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool topDown = false;
    std::uint32_t bitCount = 0;
    std::uint32_t compression = kRgb;
    std::size_t dataOffset = 0;
    Channel channels[4];                // red, green, blue, alpha
    std::uint8_t palette[256][4] = {};  // B, G, R, A; entries the file lacks stay black
};

std::uint32_t paletteLimit(std::uint32_t bitCount) {
    return bitCount <= 8 ? 1u << bitCount : 0;
}

// Every header field, the masks and the palette lie within the first 14 + 124 + 16 + 256 x 4 bytes.
constexpr std::size_t kHeadSize = 2048;

HRESULT parseLayout(Source& file, BmpLayout* layout) {
    const std::vector<std::uint8_t> head = readHead(file, kHeadSize);
    const std::uint8_t* d = head.data();
    const std::size_t fileSize = static_cast<std::size_t>(file.size());
    if (fileSize < kFileHeaderSize + 12 || d[0] != 'B' || d[1] != 'M')
        return refuse("truncated BMP: %zu bytes, too few for its headers", fileSize);
    layout->dataOffset = readU32(d + 10);
    const std::uint32_t infoSize = readU32(d + 14);
    std::int64_t width = 0, height = 0;
    std::uint32_t planes = 0, colorsUsed = 0, paletteEntrySize = 4;
    std::size_t paletteOffset = kFileHeaderSize + infoSize;
    std::uint32_t masks[4] = {};
    if (infoSize == 12) {  // OS/2 v1 core header: 16-bit sides, 3-byte palette entries
        width = readU16(d + 18);
        height = readU16(d + 20);
        planes = readU16(d + 22);
        layout->bitCount = readU16(d + 24);
        paletteEntrySize = 3;
    } else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 || infoSize == 124) {
        if (fileSize < kFileHeaderSize + infoSize)
            return refuse("truncated BMP: a %u-byte header in a %zu-byte file", infoSize, fileSize);
        width = static_cast<std::int32_t>(readU32(d + 18));
        height = static_cast<std::int32_t>(readU32(d + 22));
        planes = readU16(d + 26);
        layout->bitCount = readU16(d + 28);
        layout->compression = readU32(d + 30);
        colorsUsed = readU32(d + 46);
        // Masks live inside the larger headers; the 40-byte header is followed by them instead.
        std::size_t maskCount = layout->compression == kAlphaBitfields ? 4 : 3;
        std::size_t maskOffset = kFileHeaderSize + 40;
        if (infoSize == 40 && (layout->compression == kBitfields || layout->compression == kAlphaBitfields)) {
            paletteOffset += maskCount * 4;
        } else if (infoSize >= 56) {
            maskCount = 4;
        } else if (infoSize == 52) {
            maskCount = 3;
        } else {
            maskCount = 0;
        }
        if (fileSize < maskOffset + maskCount * 4)
            return refuse("truncated BMP: its channel masks end past the file's %zu bytes", fileSize);
        for (std::size_t i = 0; i < maskCount; ++i)
            masks[i] = readU32(d + maskOffset + 4 * i);
    } else {
        return refuse("unsupported BMP variant: a %u-byte header", infoSize);  // OS/2 v2 and unknown
    }

    if (planes != 1 || width <= 0 || height == 0) {
        return refuse("damaged BMP header: %u planes, %lld x %lld pixels", planes,
                      static_cast<long long>(width), static_cast<long long>(height));
    }
    layout->topDown = height < 0;
    if (height < 0)
        height = -height;
    layout->width = static_cast<std::uint32_t>(width);
    layout->height = static_cast<std::uint32_t>(height);

    const std::uint32_t bits = layout->bitCount;
    switch (layout->compression) {
        case kRgb:
            if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
                return refuse("unsupported BMP variant: %u bits per pixel", bits);
            // Without masks the alpha byte of 32-bit pixels is unused, as Windows treats it.
            masks[0] = bits == 16 ? 0x7C00 : 0xFF0000;
            masks[1] = bits == 16 ? 0x03E0 : 0x00FF00;
            masks[2] = bits == 16 ? 0x001F : 0x0000FF;
            masks[3] = 0;
            break;
        case kRle8:
        case kRle4:
            // Run-length data is always stored bottom-up.
            if (bits != (layout->compression == kRle8 ? 8u : 4u) || layout->topDown)
                return refuse("unsupported BMP variant: run-length coding with %u bits%s", bits,
                              layout->topDown ? ", top-down" : "");
            break;
        case kBitfields:
        case kAlphaBitfields:
            if (bits != 16 && bits != 32)
                return refuse("unsupported BMP variant: channel masks with %u bits per pixel", bits);
            break;
        default:  // embedded JPEG/PNG, OS/2 Huffman and RLE24
            return refuse("unsupported BMP variant: compression %u", layout->compression);
    }
    for (int i = 0; i < 4; ++i)
        layout->channels[i] = Channel::from(masks[i]);

    if (layout->dataOffset > fileSize)
        return refuse("truncated BMP: pixels start at byte %zu of %zu", layout->dataOffset, fileSize);
    if (bits <= 8) {
        std::uint64_t count = colorsUsed == 0 ? paletteLimit(bits) : std::min(colorsUsed, paletteLimit(bits));
        // The palette ends where the pixels begin, whatever the colour count claims.
        if (layout->dataOffset > paletteOffset) {
            count = std::min<std::uint64_t>(count, (layout->dataOffset - paletteOffset) / paletteEntrySize);
        } else {
            count = 0;
        }
        if (count == 0 || paletteOffset + count * paletteEntrySize > fileSize)
            return refuse("truncated BMP: no room for its palette before byte %zu", layout->dataOffset);
        for (std::size_t i = 0; i < 256; ++i)
            layout->palette[i][3] = 255;
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(layout->palette[i], d + paletteOffset + i * paletteEntrySize, 3);
        }
    }
    if (layout->compression == kRgb || layout->compression == kBitfields ||
        layout->compression == kAlphaBitfields) {
        std::uint64_t stride = (std::uint64_t{layout->width} * bits + 31) / 32 * 4;
        // Divided rather than multiplied: sides up to 2^31 would overflow the product.
        if (stride > (fileSize - layout->dataOffset) / layout->height) {
            return refuse("truncated BMP: %u rows of %llu bytes, %zu bytes remain", layout->height,
                          static_cast<unsigned long long>(stride), fileSize - layout->dataOffset);
        }
    }
    return D3D_OK;
}

void decodeRow(const BmpLayout& layout, const std::uint8_t* source, std::uint8_t* target) {
    const std::uint32_t bits = layout.bitCount;
    if (bits <= 8) {
        const unsigned indexMask = (1u << bits) - 1;
        for (std::uint32_t x = 0; x < layout.width; ++x, target += 4) {
            std::size_t bit = std::size_t{x} * bits;
            unsigned index = (source[bit >> 3] >> (8 - bits - (bit & 7))) & indexMask;
            std::memcpy(target, layout.palette[index], 4);
        }
    } else if (bits == 24) {
        for (std::uint32_t x = 0; x < layout.width; ++x, target += 4, source += 3) {
            target[0] = source[0];
            target[1] = source[1];
            target[2] = source[2];
            target[3] = 255;
        }
    } else {
        const std::size_t step = bits / 8;
        for (std::uint32_t x = 0; x < layout.width; ++x, target += 4, source += step) {
            std::uint32_t pixel = step == 2 ? readU16(source) : readU32(source);
            target[0] = layout.channels[2].extract(pixel, 0);
            target[1] = layout.channels[1].extract(pixel, 0);
            target[2] = layout.channels[0].extract(pixel, 0);
            target[3] = layout.channels[3].extract(pixel, 255);
        }
    }
}

HRESULT truncatedRuns(const BmpLayout& layout, std::uint64_t row) {
    return refuse("truncated BMP: run-length data ends in row %llu of %u",
                  static_cast<unsigned long long>(row), layout.height);
}

// Pixels a run skips (delta and end-of-line codes) stay transparent black. Runs past the row end
// are clipped; input that ends before the end-of-bitmap code is refused as truncated.
HRESULT decodeRunLength(Source& file, const BmpLayout& layout, Destination out) {
    const bool fourBit = layout.compression == kRle4;
    const std::size_t pitch = std::size_t{layout.width} * 4;
    Reader in(file, layout.dataOffset);
    std::uint64_t x = 0, y = 0;  // y counts from the bottom row; 64-bit so deltas cannot wrap
    auto put = [&](std::uint64_t count, auto indexAt) {
        if (x < layout.width) {
            std::uint64_t visible = std::min<std::uint64_t>(count, layout.width - x);
            std::uint8_t* row = out.bytes + (layout.height - 1 - y) * pitch;
            for (std::uint64_t i = 0; i < visible; ++i)
                std::memcpy(row + (x + i) * 4, layout.palette[indexAt(i)], 4);
        }
        x += count;
    };
    while (y < layout.height) {
        const std::uint8_t* code = in.take(2);
        if (!code)
            return truncatedRuns(layout, y);
        const std::uint8_t count = code[0], value = code[1];
        if (count > 0) {
            put(count,
                [&](std::uint64_t i) { return fourBit ? ((i & 1) ? value & 15 : value >> 4) : value; });
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            const std::uint8_t* delta = in.take(2);
            if (!delta)
                return truncatedRuns(layout, y);
            x += delta[0];
            y += delta[1];
        } else {
            std::size_t bytes = fourBit ? (value + 1u) / 2 : value;
            std::size_t padded = (bytes + 1) & ~std::size_t{1};  // absolute runs end on a 16-bit boundary
            const std::uint8_t* run = in.take(padded);
            if (!run)
                return truncatedRuns(layout, y);
            put(value, [&](std::uint64_t i) {
                return fourBit ? ((i & 1) ? run[i / 2] & 15 : run[i / 2] >> 4) : run[i];
            });
        }
    }
    return D3D_OK;
}

}  // namespace

HRESULT probeBmp(Source& file, ImageHeader* header) {
    BmpLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    // What the file stores: only an alpha mask gives the pixels an alpha the decoder keeps.
    const D3DFORMAT stored = layout.channels[3].maximum != 0 ? D3DFMT_A8R8G8B8
                             : layout.bitCount <= 8          ? D3DFMT_P8
                             : layout.bitCount == 16         ? D3DFMT_X1R5G5B5
                             : layout.bitCount == 24         ? D3DFMT_R8G8B8
                                                             : D3DFMT_X8R8G8B8;
    *header = ImageHeader{layout.width, layout.height, 1, stored, D3DFMT_A8R8G8B8, D3DXIFF_BMP};
    return D3D_OK;
}

HRESULT decodeBmp(Source& file, const ImageHeader& header, Destination out) {
    BmpLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    if (layout.width != header.width || layout.height != header.height ||
        out.size != std::size_t{layout.width} * layout.height * 4) {
        return refuse("damaged BMP: its header changed between reads");
    }
    if (layout.compression == kRle8 || layout.compression == kRle4)
        return decodeRunLength(file, layout, out);
    const std::size_t stride = (std::size_t{layout.width} * layout.bitCount + 31) / 32 * 4;
    Reader in(file, layout.dataOffset);
    for (std::uint32_t fileRow = 0; fileRow < layout.height; ++fileRow) {
        const std::uint8_t* row = in.take(stride);
        if (!row)
            return refuseShortRead("BMP", file);
        std::uint32_t y = layout.topDown ? fileRow : layout.height - 1 - fileRow;
        decodeRow(layout, row, out.bytes + std::size_t{y} * layout.width * 4);
    }
    return D3D_OK;
}

}  // namespace ImageService::Decode
