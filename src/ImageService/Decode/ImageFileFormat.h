// The kinds of image file the decoders read, as the image-file information reports them.
#pragma once

#include "ImageService/Direct3D/Types.h"

namespace ImageService {

enum D3DXIMAGE_FILEFORMAT : DWORD {
    D3DXIFF_BMP = 0,
    D3DXIFF_JPG = 1,
    D3DXIFF_TGA = 2,
    D3DXIFF_PNG = 3,
    D3DXIFF_DDS = 4,
    D3DXIFF_PPM = 5,
    D3DXIFF_DIB = 6,
    D3DXIFF_HDR = 7,
    D3DXIFF_PFM = 8,
    D3DXIFF_UNKNOWN = 0xFFFFFFFF,
};

}  // namespace ImageService
