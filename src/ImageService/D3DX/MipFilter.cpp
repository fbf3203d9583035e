#include <algorithm>
#include <utility>

#include "ImageService/D3DX/D3DX.h"
#include "ImageService/D3DX/PixelFormats.h"
#include "ImageService/Direct3D/TestSeams.h"

namespace ImageService {
namespace {

// Each output pixel is the mean of the 2x2 pixels it covers, rounded once. A side of 1 reuses its one
// row or column, which makes the mean that of 2 pixels.
void boxReduce(const std::uint8_t* above, UINT width, UINT height, std::uint8_t* below) {
    const UINT outWidth = std::max<UINT>(1, width / 2);
    const UINT outHeight = std::max<UINT>(1, height / 2);
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (UINT y = 0; y < outHeight; ++y) {
        const std::uint8_t* row0 = above + (2 * static_cast<std::size_t>(y)) * stride;
        const std::uint8_t* row1 = height > 1 ? row0 + stride : row0;
        const std::size_t step = width > 1 ? 4 : 0;
        for (UINT x = 0; x < outWidth; ++x, below += 4) {
            const std::size_t left = static_cast<std::size_t>(x) * 8;
            for (int c = 0; c < 4; ++c) {
                unsigned sum =
                    row0[left + c] + row0[left + step + c] + row1[left + c] + row1[left + step + c];
                below[c] = static_cast<std::uint8_t>((sum + 2) / 4);
            }
        }
    }
}

}  // namespace

HRESULT D3DXFilterTexture(IDirect3DTexture9* texture, const void* palette, UINT sourceLevel, DWORD filter) {
    if (HRESULT fault = TestSeams::takeFault(Operation::FilterTexture); FAILED(fault))
        return fault;
    if (!texture || palette || (filter != D3DX_DEFAULT && filter != D3DX_FILTER_BOX))
        return D3DERR_INVALIDCALL;
    const UINT levels = texture->GetLevelCount();
    if (sourceLevel >= levels)
        return D3DERR_INVALIDCALL;
    for (UINT level = sourceLevel; level < levels; ++level) {
        if (texture->isLocked(level))
            return D3DERR_INVALIDCALL;
    }
    if (sourceLevel + 1 == levels)
        return D3D_OK;

    // Every level is averaged from the uncompressed pixels of the level above and only then encoded,
    // so block compression errors never feed into the next level. The two buffers trade places as
    // the chain shrinks: the first level below the source is the largest that will ever be written.
    const D3DFORMAT format = texture->format();
    UINT width = texture->width(sourceLevel);
    UINT height = texture->height(sourceLevel);
    PixelBuffer above = PixelBuffer::allocate(rgbaByteSize(width, height));
    PixelBuffer below = PixelBuffer::allocate(
        rgbaByteSize(texture->width(sourceLevel + 1), texture->height(sourceLevel + 1)));
    if (above.empty() || below.empty())
        return E_OUTOFMEMORY;
    // Start from the pixels the level was compressed from when it still has them: the chain then
    // carries no trace of level 0's block errors.
    UINT exactLevel = 0;
    IDirect3DTexture9* exact = texture->exactPixels(sourceLevel, &exactLevel);
    bool decoded =
        exact ? decodeLevel(exact->format(), exact->levelBytes(exactLevel), width, height, above.data())
              : decodeLevel(format, texture->levelBytes(sourceLevel), width, height, above.data());
    if (!decoded)
        return D3DERR_INVALIDCALL;
    for (UINT level = sourceLevel + 1; level < levels; ++level) {
        boxReduce(above.data(), width, height, below.data());
        width = texture->width(level);
        height = texture->height(level);
        texture->markWritten(level);
        if (!encodeLevel(format, below.data(), width, height, texture->levelBytes(level)))
            return D3DERR_INVALIDCALL;
        std::swap(above, below);
    }
    return D3D_OK;
}

}  // namespace ImageService
