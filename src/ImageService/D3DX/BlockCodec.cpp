#include "ImageService/D3DX/BlockCodec.h"

#include <squish.h>

#include <atomic>
#include <cstring>

#include "ImageService/Dxt/DxtEncoder.h"
#include "ImageService/Infrastructure/Parallel.h"

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

constexpr std::size_t kMinimumParallelRows = 8;  // below this, starting threads costs more than it saves

std::atomic<BlockEncoder> selectedEncoder{BlockEncoder::Quillpack};

void squishCompressBlockRow(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT rows,
                            std::uint8_t* blocks) {
    const int flags = squishFormatFlag(format) | squish::kColourClusterFit;
    // Equal weights keep the fit minimising plain RGB error (the colour metric became a weight array
    // in libsquish 1.14).
    float uniformMetric[3] = {1.0f, 1.0f, 1.0f};
    const std::size_t blockBytes = formatInfo(format)->bytesPerUnit;
    for (UINT x = 0; x < width; x += 4, blocks += blockBytes) {
        std::uint8_t block[16 * 4] = {};
        int mask = 0;
        for (UINT y = 0; y < rows; ++y) {
            for (UINT i = 0; i < 4 && x + i < width; ++i) {
                std::memcpy(block + (y * 4 + i) * 4, rgba + (static_cast<std::size_t>(y) * width + x + i) * 4,
                            4);
                mask |= 1 << (y * 4 + i);
            }
        }
        squish::CompressMasked(block, mask, blocks, flags, uniformMetric);
    }
}

}  // namespace

void useBlockEncoder(BlockEncoder encoder) {
    selectedEncoder = encoder;
}
BlockEncoder blockEncoder() {
    return selectedEncoder;
}

void compressBlockRow(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT rows,
                      std::uint8_t* blocks) {
    if (selectedEncoder == BlockEncoder::Quillpack && format == D3DFMT_DXT1) {
        Dxt::encodeDxt1Row(rgba, width, rows, blocks);
    } else if (selectedEncoder == BlockEncoder::Quillpack && format == D3DFMT_DXT3) {
        Dxt::encodeDxt3Row(rgba, width, rows, blocks);
    } else {
        squishCompressBlockRow(format, rgba, width, rows, blocks);
    }
}

void decompressBlockRow(D3DFORMAT format, const std::uint8_t* blocks, UINT width, UINT rows,
                        std::uint8_t* rgba) {
    const int flags = squishFormatFlag(format);
    const std::size_t blockBytes = formatInfo(format)->bytesPerUnit;
    for (UINT x = 0; x < width; x += 4, blocks += blockBytes) {
        std::uint8_t block[16 * 4];
        squish::Decompress(block, blocks, flags);
        for (UINT y = 0; y < rows; ++y) {
            UINT count = width - x < 4 ? width - x : 4;
            std::memcpy(rgba + (static_cast<std::size_t>(y) * width + x) * 4, block + y * 16, count * 4);
        }
    }
}

namespace {

// Calls work(firstPixelRow, pixelRows, blockRow) for every row of blocks of the image, on all cores.
template <typename Work>
void forEachBlockRow(UINT height, Work work) {
    const std::size_t blockRows = (static_cast<std::size_t>(height) + 3) / 4;
    forEachPiece(blockRows, kMinimumParallelRows, [&](std::size_t row) {
        UINT y = static_cast<UINT>(row * 4);
        work(y, height - y < 4 ? height - y : 4, row);
    });
}

}  // namespace

bool compressImage(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT height,
                   std::uint8_t* blocks) {
    if (squishFormatFlag(format) == 0)
        return false;
    const std::size_t rowBytes = *rowPitch(format, width);
    forEachBlockRow(height, [&](UINT y, UINT rows, std::size_t row) {
        compressBlockRow(format, rgba + static_cast<std::size_t>(y) * width * 4, width, rows,
                         blocks + row * rowBytes);
    });
    return true;
}

bool decompressImage(D3DFORMAT format, const std::uint8_t* blocks, UINT width, UINT height,
                     std::uint8_t* rgba) {
    if (squishFormatFlag(format) == 0)
        return false;
    const std::size_t rowBytes = *rowPitch(format, width);
    forEachBlockRow(height, [&](UINT y, UINT rows, std::size_t row) {
        decompressBlockRow(format, blocks + row * rowBytes, width, rows,
                           rgba + static_cast<std::size_t>(y) * width * 4);
    });
    return true;
}

}  // namespace ImageService
