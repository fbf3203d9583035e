// The image-file decoders behind D3DXGetImageInfoFromFileW and D3DXCreateTextureFromFileW. Each
// format has a probe that reads only the header (and checks the declared sizes against the bytes the
// file holds) and a decoder that writes level 0 straight into a texture's zeroed bytes, so no pixel
// buffer is ever copied. ImageFile.cpp reads the file, picks the format from its magic bytes and
// owns the texture; the decoders own nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ImageService/D3DX.h"

namespace ImageService::Decode {

struct ByteView {
    const std::uint8_t* data;
    std::size_t size;
};

// What the header promises. `fileFormat` is what the file stores (reported through D3DXIMAGE_INFO);
// `textureFormat` is what level 0 is decoded into and always one the service can hold.
struct ImageHeader {
    UINT width = 0;
    UINT height = 0;
    UINT mipLevels = 1;
    D3DFORMAT fileFormat = D3DFMT_UNKNOWN;
    D3DFORMAT textureFormat = D3DFMT_A8R8G8B8;
    D3DXIMAGE_FILEFORMAT container = D3DXIFF_UNKNOWN;
};

// Output of a decoder: exactly levelByteSize(header.textureFormat, width, height) zeroed bytes.
struct Destination {
    std::uint8_t* bytes;
    std::size_t size;
};

// Probes return D3D_OK and fill the header with the sides the file declares (even beyond what the
// service can hold: the caller judges those, and a probe allocates nothing), or D3DXERR_INVALIDDATA
// for damaged, truncated or unsupported data. Decoders are only called after their own probe
// succeeded on the same bytes and with sides the service can hold; they return D3DXERR_INVALIDDATA
// or E_OUTOFMEMORY on failure, and the destination may then hold partial output. Every refusal notes
// what was found (through `refuse`), so the user reads the cause, not only that the file failed.
// Probes of formats without a signature may refuse silently: the caller then says the file is in no
// supported format.
HRESULT probePng(ByteView file, ImageHeader* header);
HRESULT decodePng(ByteView file, const ImageHeader& header, Destination out);

HRESULT probeJpeg(ByteView file, ImageHeader* header);
HRESULT decodeJpeg(ByteView file, const ImageHeader& header, Destination out);

HRESULT probeBmp(ByteView file, ImageHeader* header);
HRESULT decodeBmp(ByteView file, const ImageHeader& header, Destination out);

HRESULT probeTga(ByteView file, ImageHeader* header);
HRESULT decodeTga(ByteView file, const ImageHeader& header, Destination out);

HRESULT probeDds(ByteView file, ImageHeader* header);
HRESULT decodeDds(ByteView file, const ImageHeader& header, Destination out);

HRESULT probePnm(ByteView file, ImageHeader* header);  // PBM, PGM, PPM and PAM
HRESULT decodePnm(ByteView file, const ImageHeader& header, Destination out);

HRESULT probePfm(ByteView file, ImageHeader* header);
HRESULT decodePfm(ByteView file, const ImageHeader& header, Destination out);

HRESULT probeHdr(ByteView file, ImageHeader* header);  // Radiance RGBE
HRESULT decodeHdr(ByteView file, const ImageHeader& header, Destination out);

// Little-endian field readers; callers check the offset against the size first.
inline std::uint16_t readU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Both sides within 1..kMaxTextureSide.
inline bool sidesAllowed(std::uint64_t width, std::uint64_t height) {
    return width != 0 && height != 0 && width <= kMaxTextureSide && height <= kMaxTextureSide;
}

// Notes the cause of a refusal for standard error and gives D3DXERR_INVALIDDATA.
HRESULT refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A count for a reason, grouped in thousands: "49,152".
std::string grouped(std::uint64_t count);

// Sides read from text headers (PNM, PFM, HDR) may be any number: D3D_OK when both are 1 to
// UINT_MAX, which the header can report, otherwise a refusal naming `format` and the sides.
HRESULT checkDeclaredSides(const char* format, std::uint64_t width, std::uint64_t height);

// a * b, or UINT64_MAX when the product does not fit: for byte counts a file is measured against.
inline std::uint64_t productOrMax(std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

// Memory one decode may hold at once: the decoded level plus the decoder's own working memory (a
// progressive JPEG's coefficients). At the largest size (1 GiB of pixels) that leaves 96 MiB, so a
// run stays within its stated peak however the image is encoded.
constexpr std::size_t kDecodeBudget = (std::size_t{1} << 30) + (std::size_t{96} << 20);

}  // namespace ImageService::Decode
