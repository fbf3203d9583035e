// Truevision TGA: colour-mapped, true-colour and grey images, raw or run-length encoded, in any of
// the four origins. TGA has no signature, so the probe accepts only headers whose every field is
// one the format allows; that keeps random data from passing as an image.
#include <algorithm>
#include <cstring>
#include <vector>

#include "ImageService/Decode/Decoders.h"

namespace ImageService::Decode {
namespace {

constexpr std::size_t kHeaderSize = 18;

enum ImageKind { kMapped = 1, kTrueColor = 2, kGrey = 3 };

struct TgaLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    ImageKind kind = kTrueColor;
    bool runLength = false;
    bool topOrigin = false;
    bool rightOrigin = false;
    bool attributeAlpha = false;  // 16-bit pixels carry a 1-bit alpha
    unsigned bitsPerPixel = 0;
    std::size_t bytesPerPixel = 0;
    std::size_t pixelOffset = 0;
    std::uint8_t palette[256][4] = {};  // B, G, R, A
};

unsigned bytesFor(unsigned bits) {
    return (bits + 7) / 8;
}

// Converts one stored pixel of `bits` bits (15/16 = A1R5G5B5, 24 = BGR, 32 = BGRA) to B, G, R, A.
void colorToBgra(const std::uint8_t* source, unsigned bits, bool useAlphaBit, std::uint8_t* target) {
    if (bits <= 16) {
        unsigned v = readU16(source);
        // Truncating 5-bit to 8-bit scaling, as the reference images were produced.
        target[0] = static_cast<std::uint8_t>((v & 31) * 255 / 31);
        target[1] = static_cast<std::uint8_t>(((v >> 5) & 31) * 255 / 31);
        target[2] = static_cast<std::uint8_t>(((v >> 10) & 31) * 255 / 31);
        target[3] = useAlphaBit ? ((v & 0x8000) ? 255 : 0) : 255;
    } else {
        target[0] = source[0];
        target[1] = source[1];
        target[2] = source[2];
        target[3] = bits == 32 ? source[3] : 255;
    }
}

void pixelToBgra(const TgaLayout& layout, const std::uint8_t* source, std::uint8_t* target) {
    switch (layout.kind) {
        case kMapped:
            std::memcpy(target, layout.palette[source[0]], 4);
            break;
        case kGrey:
            target[0] = target[1] = target[2] = source[0];
            target[3] = layout.bitsPerPixel == 16 ? source[1] : 255;
            break;
        case kTrueColor:
            colorToBgra(source, layout.bitsPerPixel, layout.attributeAlpha, target);
            break;
    }
}

// What the file stores, as the header information reports it; alpha as the decoder keeps it.
D3DFORMAT storedFormat(const TgaLayout& layout) {
    switch (layout.kind) {
        case kMapped: {
            bool alpha = false;
            for (const auto& entry : layout.palette)
                alpha = alpha || entry[3] != 255;
            return alpha ? D3DFMT_A8P8 : D3DFMT_P8;
        }
        case kGrey:
            return layout.bitsPerPixel == 16 ? D3DFMT_A8L8 : D3DFMT_L8;
        case kTrueColor:
            break;
    }
    if (layout.bitsPerPixel <= 16)
        return layout.attributeAlpha ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5;
    return layout.bitsPerPixel == 32 ? D3DFMT_A8R8G8B8 : D3DFMT_R8G8B8;
}

// The header, the image ID and the 256 colour-map entries that can be used all lie within this.
constexpr std::size_t kHeadSize = kHeaderSize + 255 + 256 * 4;

HRESULT parseLayout(Source& file, TgaLayout* layout) {
    const std::vector<std::uint8_t> head = readHead(file, kHeadSize);
    const std::uint8_t* d = head.data();
    const std::size_t fileSize = static_cast<std::size_t>(file.size());
    if (fileSize < kHeaderSize)
        return D3DXERR_INVALIDDATA;
    const unsigned idLength = d[0], mapType = d[1], imageType = d[2];
    const unsigned mapFirst = readU16(d + 3), mapLength = readU16(d + 5), mapBits = d[7];
    const unsigned bits = d[16], descriptor = d[17];
    if (mapType > 1 || (descriptor & 0xC0) != 0)
        return D3DXERR_INVALIDDATA;  // no interleaved rows
    layout->runLength = imageType >= 9;
    const unsigned baseType = layout->runLength ? imageType - 8 : imageType;
    if (baseType < kMapped || baseType > kGrey)
        return D3DXERR_INVALIDDATA;
    layout->kind = static_cast<ImageKind>(baseType);
    const bool mapBitsValid = mapBits == 15 || mapBits == 16 || mapBits == 24 || mapBits == 32;
    switch (layout->kind) {
        case kMapped:
            if (mapType != 1 || bits != 8 || !mapBitsValid || mapLength == 0)
                return D3DXERR_INVALIDDATA;
            break;
        case kTrueColor:
            if (bits != 15 && bits != 16 && bits != 24 && bits != 32)
                return D3DXERR_INVALIDDATA;
            if (mapType == 1 && !mapBitsValid)
                return D3DXERR_INVALIDDATA;  // an unused map must still be skippable
            break;
        case kGrey:
            if (bits != 8 && bits != 16)
                return D3DXERR_INVALIDDATA;
            if (mapType == 1 && !mapBitsValid)
                return D3DXERR_INVALIDDATA;
            break;
    }
    layout->width = readU16(d + 12);
    layout->height = readU16(d + 14);
    if (layout->width == 0 || layout->height == 0)
        return D3DXERR_INVALIDDATA;
    layout->bitsPerPixel = bits;
    layout->bytesPerPixel = bytesFor(bits);
    layout->topOrigin = (descriptor & 0x20) != 0;
    layout->rightOrigin = (descriptor & 0x10) != 0;
    layout->attributeAlpha = bits == 16 && (descriptor & 0x0F) != 0;

    const std::size_t mapOffset = kHeaderSize + idLength;
    const std::size_t mapSize = mapType == 1 ? std::size_t{mapLength} * bytesFor(mapBits) : 0;
    layout->pixelOffset = mapOffset + mapSize;
    if (layout->pixelOffset > fileSize) {
        return refuse("truncated TGA: pixels start at byte %zu of %zu", layout->pixelOffset, fileSize);
    }
    if (layout->kind == kMapped) {
        for (auto& entry : layout->palette)
            entry[3] = 255;
        // A 16-bit map entry's top bit is alpha only when the header says pixels carry attribute bits.
        const bool mapAlpha = mapBits == 16 && (descriptor & 0x0F) != 0;
        for (unsigned i = 0; i < mapLength && mapFirst + i < 256; ++i) {
            colorToBgra(d + mapOffset + std::size_t{i} * bytesFor(mapBits), mapBits, mapAlpha,
                        layout->palette[mapFirst + i]);
        }
    }

    const std::uint64_t pixels = std::uint64_t{layout->width} * layout->height;
    const std::uint64_t available = fileSize - layout->pixelOffset;
    if (!layout->runLength && pixels * layout->bytesPerPixel > available) {
        return refuse("truncated TGA: %llu pixels need %llu bytes, %llu remain",
                      static_cast<unsigned long long>(pixels),
                      static_cast<unsigned long long>(pixels * layout->bytesPerPixel),
                      static_cast<unsigned long long>(available));
    }
    // A run packet (one count byte, one pixel) covers at most 128 pixels.
    if (layout->runLength && pixels > available / (1 + layout->bytesPerPixel) * 128) {
        return refuse("truncated TGA: %llu bytes of run-length data cannot hold %llu pixels",
                      static_cast<unsigned long long>(available), static_cast<unsigned long long>(pixels));
    }
    return D3D_OK;
}

// Places the file's pixels, which come row by row from the stated origin, in top-down order.
class PixelWriter {
public:
    PixelWriter(const TgaLayout& layout, std::uint8_t* bytes) : layout(layout), bytes(bytes) {}
    void put(const std::uint8_t* source) {
        std::size_t row = layout.topOrigin ? y : layout.height - 1 - y;
        std::size_t column = layout.rightOrigin ? layout.width - 1 - x : x;
        pixelToBgra(layout, source, bytes + (row * layout.width + column) * 4);
        if (++x == layout.width) {
            x = 0;
            ++y;
        }
    }

private:
    const TgaLayout& layout;
    std::uint8_t* bytes;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
};

HRESULT truncatedRuns(std::uint64_t done, std::uint64_t total) {
    return refuse("truncated TGA: run-length data ends after %llu of %llu pixels",
                  static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
}

// Packets may cross row ends; data that ends before the last pixel is refused rather than padded.
HRESULT decodeRunLength(Source& file, const TgaLayout& layout, PixelWriter& writer) {
    const std::uint64_t total = std::uint64_t{layout.width} * layout.height;
    const std::size_t step = layout.bytesPerPixel;
    Reader in(file, layout.pixelOffset);
    for (std::uint64_t done = 0; done < total;) {
        const int packet = in.get();
        if (packet < 0)
            return truncatedRuns(done, total);
        const std::uint64_t count = std::min<std::uint64_t>((packet & 0x7F) + 1, total - done);
        const bool run = (packet & 0x80) != 0;
        const std::size_t needed = run ? step : ((packet & 0x7F) + 1) * step;
        const std::uint8_t* pixels = in.take(needed);
        if (!pixels)
            return truncatedRuns(done, total);
        for (std::uint64_t i = 0; i < count; ++i)
            writer.put(pixels + (run ? 0 : i * step));
        done += count;
    }
    return D3D_OK;
}

}  // namespace

HRESULT probeTga(Source& file, ImageHeader* header) {
    TgaLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    *header = ImageHeader{layout.width, layout.height, 1, storedFormat(layout), D3DFMT_A8R8G8B8, D3DXIFF_TGA};
    return D3D_OK;
}

HRESULT decodeTga(Source& file, const ImageHeader& header, Destination out) {
    TgaLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    if (layout.width != header.width || layout.height != header.height ||
        out.size != std::size_t{layout.width} * layout.height * 4) {
        return refuse("damaged TGA: its header changed between reads");
    }
    PixelWriter writer(layout, out.bytes);
    if (layout.runLength)
        return decodeRunLength(file, layout, writer);
    const std::size_t rowBytes = std::size_t{layout.width} * layout.bytesPerPixel;
    Reader in(file, layout.pixelOffset);
    for (std::uint32_t y = 0; y < layout.height; ++y) {
        const std::uint8_t* row = in.take(rowBytes);
        if (!row)
            return refuseShortRead("TGA", file);
        for (std::uint32_t x = 0; x < layout.width; ++x)
            writer.put(row + std::size_t{x} * layout.bytesPerPixel);
    }
    return D3D_OK;
}

}  // namespace ImageService::Decode
