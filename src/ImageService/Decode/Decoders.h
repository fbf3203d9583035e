// The image-file decoders behind D3DXGetImageInfoFromFileW and D3DXCreateTextureFromFileW. Each
// format has a probe that reads only the header (and checks the declared sizes against the file's
// length) and a decoder that streams the file into a texture's zeroed level 0, so neither the file
// nor a pixel buffer is ever held whole. ImageFile.cpp opens the file, picks the format from its
// magic bytes and owns the texture; the decoders own nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ImageService/Decode/ImageFileFormat.h"
#include "ImageService/Direct3D/Format.h"
#include "ImageService/Decode/Source.h"

namespace ImageService::Decode {

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

// Told, by decoders that write rows top to bottom, how many rows of the output are final, so that
// other work on them can start before the decode ends. Decoders that cannot tell say nothing.
class RowObserver {
public:
    virtual void rowsFinal(UINT rows) = 0;

protected:
    ~RowObserver() = default;
};

// Output of a decoder: exactly levelByteSize(header.textureFormat, width, height) zeroed bytes.
struct Destination {
    std::uint8_t* bytes;
    std::size_t size;
    RowObserver* observer = nullptr;
};

// Probes return D3D_OK and fill the header with the sides the file declares (even beyond what the
// service can hold: the caller judges those, and a probe allocates nothing), or D3DXERR_INVALIDDATA
// for damaged, truncated or unsupported data. Decoders are only called after their own probe
// succeeded on the same file and with sides the service can hold; they return D3DXERR_INVALIDDATA
// or E_OUTOFMEMORY on failure, and the destination may then hold partial output. Every refusal notes
// what was found (through `refuse`), so the user reads the cause, not only that the file failed.
// Probes of formats without a signature may refuse silently: the caller then says the file is in no
// supported format.
HRESULT probePng(Source& file, ImageHeader* header);
HRESULT decodePng(Source& file, const ImageHeader& header, Destination out);

HRESULT probeJpeg(Source& file, ImageHeader* header);
HRESULT decodeJpeg(Source& file, const ImageHeader& header, Destination out);

HRESULT probeBmp(Source& file, ImageHeader* header);
HRESULT decodeBmp(Source& file, const ImageHeader& header, Destination out);

HRESULT probeTga(Source& file, ImageHeader* header);
HRESULT decodeTga(Source& file, const ImageHeader& header, Destination out);

HRESULT probeDds(Source& file, ImageHeader* header);
HRESULT decodeDds(Source& file, const ImageHeader& header, Destination out);

HRESULT probePnm(Source& file, ImageHeader* header);  // PBM, PGM, PPM and PAM
HRESULT decodePnm(Source& file, const ImageHeader& header, Destination out);

HRESULT probePfm(Source& file, ImageHeader* header);
HRESULT decodePfm(Source& file, const ImageHeader& header, Destination out);

HRESULT probeHdr(Source& file, ImageHeader* header);  // Radiance RGBE
HRESULT decodeHdr(Source& file, const ImageHeader& header, Destination out);

// Refuses a file whose data ended early while being read (it shrank since it was measured).
HRESULT refuseShortRead(const char* format, const Source& file);

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
