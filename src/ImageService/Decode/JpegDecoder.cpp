// JPEG through libjpeg-turbo's TurboJPEG API, decoded straight to B,G,R,A in the texture.
#include <turbojpeg.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>

#include "ImageService/Decode/Decoders.h"

namespace ImageService::Decode {
namespace {

struct HandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using Handle = std::unique_ptr<void, HandleDeleter>;

struct JpegHeader {
    int width = 0;
    int height = 0;
    int colorspace = 0;
};

// libjpeg reports a stream that ends early only as a warning and fills the rest with grey; such a
// file is refused, while other warnings (damaged metadata, stray bytes between segments) keep the
// image. Only meaningful right after a call that returned -1: the message is not cleared on success.
bool failedBadly(tjhandle handle) {
    if (tjGetErrorCode(handle) == TJERR_FATAL)
        return true;
    const char* message = tjGetErrorStr2(handle);
    if (!message)
        return true;
    std::string lower(message);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("premature end") != std::string::npos;
}

bool readHeader(tjhandle handle, ByteView file, JpegHeader* jpeg) {
    int subsampling = 0;
    if (file.size > 0xFFFFFFFFu)
        return false;  // TurboJPEG takes an unsigned long size
    int status = tjDecompressHeader3(handle, file.data, static_cast<unsigned long>(file.size), &jpeg->width,
                                     &jpeg->height, &subsampling, &jpeg->colorspace);
    return status == 0 || !failedBadly(handle);
}

// Adobe CMYK JPEGs store inverted inks, so each colour is ink x black / 255 without inverting.
void cmykToBgra(std::uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, pixels += 4) {
        unsigned c = pixels[0], m = pixels[1], y = pixels[2], k = pixels[3];
        pixels[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
        pixels[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        pixels[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
        pixels[3] = 255;
    }
}

}  // namespace

HRESULT probeJpeg(ByteView file, ImageHeader* header) {
    Handle handle(tjInitDecompress());
    if (!handle)
        return E_OUTOFMEMORY;
    JpegHeader jpeg;
    if (!readHeader(handle.get(), file, &jpeg) ||
        !sidesAllowed(static_cast<std::uint32_t>(jpeg.width), static_cast<std::uint32_t>(jpeg.height)) ||
        jpeg.width <= 0 || jpeg.height <= 0) {
        return D3DXERR_INVALIDDATA;
    }
    *header = ImageHeader{static_cast<UINT>(jpeg.width),
                          static_cast<UINT>(jpeg.height),
                          1,
                          D3DFMT_A8R8G8B8,
                          D3DFMT_A8R8G8B8,
                          D3DXIFF_JPG};
    return D3D_OK;
}

HRESULT decodeJpeg(ByteView file, const ImageHeader& header, Destination out) {
    Handle handle(tjInitDecompress());
    if (!handle)
        return E_OUTOFMEMORY;
    JpegHeader jpeg;
    if (!readHeader(handle.get(), file, &jpeg) || static_cast<UINT>(jpeg.width) != header.width ||
        static_cast<UINT>(jpeg.height) != header.height ||
        out.size != std::size_t{header.width} * header.height * 4) {
        return D3DXERR_INVALIDDATA;
    }
    const bool cmyk = jpeg.colorspace == TJCS_CMYK || jpeg.colorspace == TJCS_YCCK;
    // Progressive files may hold thousands of tiny scans that each cost a full pass; real encoders
    // never write more than a few dozen.
    int status =
        tjDecompress2(handle.get(), file.data, static_cast<unsigned long>(file.size), out.bytes, jpeg.width,
                      jpeg.width * 4, jpeg.height, cmyk ? TJPF_CMYK : TJPF_BGRA, TJFLAG_LIMITSCANS);
    if (status != 0 && failedBadly(handle.get())) {
        return D3DXERR_INVALIDDATA;
    }
    if (cmyk)
        cmykToBgra(out.bytes, std::size_t{header.width} * header.height);
    return D3D_OK;
}

}  // namespace ImageService::Decode
