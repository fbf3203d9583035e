#include "ImageService/BlockCodec.h"

#include <squish.h>

namespace ImageService {
namespace {

// 0 for a format libsquish does not encode.
int squishFormatFlag(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_DXT1:
            return squish::kDxt1;
        case D3DFMT_DXT3:
            return squish::kDxt3;
        case D3DFMT_DXT5:
            return squish::kDxt5;
        default:
            return 0;
    }
}

}  // namespace

// Debian's libsquish (1.15) spreads the block rows of CompressImage and DecompressImage over all
// cores with OpenMP, so the image goes to it whole. Splitting it into bands on our own threads would
// make each thread open its own OpenMP team and oversubscribe the cores.
bool compressImage(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT height,
                   std::uint8_t* blocks) {
    int flag = squishFormatFlag(format);
    if (flag == 0)
        return false;
    // Since 1.14 the colour metric is a weight array rather than a flag; equal weights keep the fit
    // minimising plain RGB error, which is what the PSNR floors measure.
    float uniformMetric[3] = {1.0f, 1.0f, 1.0f};
    squish::CompressImage(rgba, static_cast<int>(width), static_cast<int>(height), blocks,
                          flag | squish::kColourClusterFit, uniformMetric);
    return true;
}

bool decompressImage(D3DFORMAT format, const std::uint8_t* blocks, UINT width, UINT height,
                     std::uint8_t* rgba) {
    int flag = squishFormatFlag(format);
    if (flag == 0)
        return false;
    squish::DecompressImage(rgba, static_cast<int>(width), static_cast<int>(height), blocks, flag);
    return true;
}

}  // namespace ImageService
