// PNG through libspng, decoded row by row straight into the texture so that the R/B swap happens
// while the row is still in cache.
#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "ImageService/Decode/Decoders.h"

namespace ImageService::Decode {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Ancillary chunks (text, ICC profiles) that libspng keeps in memory may use this much in total.
constexpr std::size_t kChunkCacheLimit = std::size_t{64} << 20;
// The header may state any size PNG allows, so that its true size is reported; the caller refuses
// sides the service cannot hold before any decoding.
constexpr std::uint32_t kLargestSide = 0x7FFFFFFF;

struct ContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

// Every chunk length must fit in the bytes left, so a 170-byte file cannot announce a 2 GiB IDAT;
// the walk jumps from header to header without reading chunk data.
HRESULT checkChunkLayout(Source& file) {
    std::uint64_t offset = sizeof(kSignature);
    bool sawData = false;
    std::uint8_t chunk[8];
    while (file.size() - offset >= 12 && file.readAt(offset, chunk, sizeof chunk) == sizeof chunk) {
        std::uint32_t length = (std::uint32_t{chunk[0]} << 24) | (std::uint32_t{chunk[1]} << 16) |
                               (std::uint32_t{chunk[2]} << 8) | chunk[3];
        if (length > 0x7FFFFFFFu || length > file.size() - offset - 12) {
            return refuse("truncated PNG: the chunk at byte %llu needs %u bytes, %llu remain",
                          static_cast<unsigned long long>(offset), length,
                          static_cast<unsigned long long>(file.size() - offset - 12));
        }
        const std::uint8_t* type = chunk + 4;
        if (std::memcmp(type, "IDAT", 4) == 0)
            sawData = true;
        if (std::memcmp(type, "IEND", 4) == 0)
            return sawData ? D3D_OK : refuse("damaged PNG: no image data before its end");
        offset += 12 + std::uint64_t{length};
    }
    return refuse("truncated PNG: no end chunk in its %llu bytes",
                  static_cast<unsigned long long>(file.size()));
}

// libspng's code for a failure, as a reason; checksums are named as such.
HRESULT refuseWith(int status) {
    if (status == SPNG_EMEM)
        return E_OUTOFMEMORY;
    if (status == SPNG_ECHUNK_CRC)
        return refuse("PNG chunk CRC mismatch (%s)", spng_strerror(status));
    if (status == SPNG_EZLIB)
        return refuse("damaged PNG: the compressed image data does not inflate (%s)", spng_strerror(status));
    return refuse("damaged PNG: %s", spng_strerror(status));
}

// libspng pulls the file through this as it parses, a chunk header or a piece of data at a time.
struct Stream {
    Source& file;
    std::uint64_t at = 0;
    bool cut = false;  // the file ended before libspng was done with it
};

int readStream(spng_ctx*, void* user, void* into, std::size_t length) {
    Stream& stream = *static_cast<Stream*>(user);
    const std::size_t got = stream.file.readAt(stream.at, into, length);
    stream.at += got;
    stream.cut = stream.cut || got != length;
    return got == length ? 0 : SPNG_IO_EOF;
}

Context openContext(Stream& stream) {
    Context ctx(spng_ctx_new(0));
    if (!ctx)
        return ctx;
    // libspng refuses a chunk limit above the cache limit, which made every PNG over 64 MiB fail to
    // open; the limit only bounds the chunks it keeps, never the image data.
    const std::size_t chunkLimit =
        static_cast<std::size_t>(std::min<std::uint64_t>(stream.file.size(), kChunkCacheLimit));
    bool configured = spng_set_image_limits(ctx.get(), kLargestSide, kLargestSide) == 0 &&
                      spng_set_chunk_limits(ctx.get(), chunkLimit, kChunkCacheLimit) == 0 &&
                      spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR) == 0 &&
                      spng_set_png_stream(ctx.get(), readStream, &stream) == 0;
    if (!configured)
        ctx.reset();
    return ctx;
}

// RGBA in memory to the service's B,G,R,A, in place.
void swapRedBlue(std::uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, pixels += 4) {
        std::uint32_t v;
        std::memcpy(&v, pixels, 4);
        v = (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
        std::memcpy(pixels, &v, 4);
    }
}

// What the file stores, as the header information reports it: whether it holds alpha (an alpha
// channel, or transparency chunk) is what callers ask of it.
D3DFORMAT storedFormat(spng_ctx* ctx, const spng_ihdr& ihdr) {
    spng_trns transparency;
    const bool transparent = spng_get_trns(ctx, &transparency) == 0;
    switch (ihdr.color_type) {
        case SPNG_COLOR_TYPE_GRAYSCALE:
            return transparent ? D3DFMT_A8L8 : D3DFMT_L8;
        case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
            return D3DFMT_A8L8;
        case SPNG_COLOR_TYPE_INDEXED:
            return transparent ? D3DFMT_A8P8 : D3DFMT_P8;
        case SPNG_COLOR_TYPE_TRUECOLOR:
            return transparent ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        default:
            return D3DFMT_A8R8G8B8;
    }
}

}  // namespace

HRESULT probePng(Source& file, ImageHeader* header) {
    std::uint8_t signature[sizeof(kSignature)];
    if (file.readAt(0, signature, sizeof signature) != sizeof signature ||
        std::memcmp(signature, kSignature, sizeof(kSignature)) != 0)
        return refuse("not a PNG image");
    if (HRESULT hr = checkChunkLayout(file); FAILED(hr))
        return hr;
    Stream stream{file};
    Context ctx = openContext(stream);
    if (!ctx)
        return E_OUTOFMEMORY;
    spng_ihdr ihdr;
    // Reading the chunks ahead of the image data verifies their CRCs, the header's included.
    if (int status = spng_get_ihdr(ctx.get(), &ihdr); status != 0)
        return refuseWith(status);
    if (int status = spng_decode_chunks(ctx.get()); status != 0)
        return refuseWith(status);
    *header =
        ImageHeader{ihdr.width, ihdr.height, 1, storedFormat(ctx.get(), ihdr), D3DFMT_A8R8G8B8, D3DXIFF_PNG};
    return D3D_OK;
}

HRESULT decodePng(Source& file, const ImageHeader& header, Destination out) {
    Stream stream{file};
    Context ctx = openContext(stream);
    if (!ctx)
        return E_OUTOFMEMORY;
    std::size_t needed = 0;
    spng_ihdr ihdr;
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0 || ihdr.width != header.width || ihdr.height != header.height ||
        spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &needed) != 0 || needed != out.size) {
        return refuse("damaged PNG: its header changed between reads");
    }
    int status =
        spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
    if (status != 0)
        return refuseWith(status);

    const std::size_t pitch = std::size_t{header.width} * 4;
    // Interlaced passes each write a scattered subset of a row, so their swap waits for the last pass.
    const bool swapPerRow = ihdr.interlace_method == SPNG_INTERLACE_NONE;
    for (;;) {
        spng_row_info row;
        status = spng_get_row_info(ctx.get(), &row);
        if (status != 0)
            break;
        if (row.row_num >= header.height)
            return refuse("damaged PNG: row %u of %u", row.row_num, header.height);
        std::uint8_t* target = out.bytes + row.row_num * pitch;
        status = spng_decode_row(ctx.get(), target, pitch);
        if (status != 0 && status != SPNG_EOI)
            break;
        if (swapPerRow) {
            swapRedBlue(target, header.width);
            if (out.observer)
                out.observer->rowsFinal(row.row_num + 1);
        }
        if (status == SPNG_EOI)
            break;
    }
    if (status != SPNG_EOI)
        return stream.cut ? refuseShortRead("PNG", file) : refuseWith(status);
    // The last IDAT's CRC and the chunks after the image are only checked when read past.
    status = spng_decode_chunks(ctx.get());
    if (stream.cut)
        return refuseShortRead("PNG", file);  // the probe saw the end chunk; it is gone since
    if (status != 0)
        return refuseWith(status);
    if (!swapPerRow)
        swapRedBlue(out.bytes, std::size_t{header.width} * header.height);
    return D3D_OK;
}

}  // namespace ImageService::Decode
