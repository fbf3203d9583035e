// Compression that starts before the decode has finished. Decoding an image file runs on one core
// (a PNG's rows depend on the rows before them), and block compression used to wait for it to end.
// When the caller is known to want the image as blocks next, the other cores compress each band of
// four rows as soon as the decoder has finished it, so both run at once; the blocks are the same as
// converting the finished level would give, band for band.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "ImageService/Decode/Decoders.h"
#include "ImageService/Direct3D/PixelBuffer.h"

namespace ImageService {

class CompressAhead final : public Decode::RowObserver {
public:
    // `pixels` is the level being decoded (width x height of `pixelFormat`); it must outlive this.
    CompressAhead(D3DFORMAT pixelFormat, const std::uint8_t* pixels, D3DFORMAT blockFormat, UINT width,
                  UINT height);
    // Stops the helpers and waits for them: after this nothing reads the pixels.
    ~CompressAhead();
    CompressAhead(const CompressAhead&) = delete;
    CompressAhead& operator=(const CompressAhead&) = delete;

    // Starts the helpers. False when there is nothing to gain (one core, a small image) or no memory
    // for the blocks; the decode then goes on alone.
    bool start();
    void rowsFinal(UINT rows) override;
    // Every row is decoded: compresses the bands still left, on this thread and the helpers, and gives
    // the blocks (an empty buffer if no thread had memory to compress with).
    PixelBuffer finish();

private:
    void compressBands();
    void stop();

    const D3DFORMAT pixelFormat;
    const std::uint8_t* const pixels;
    const D3DFORMAT blockFormat;
    const UINT width;
    const UINT height;
    const std::size_t bands;
    PixelBuffer blocks;

    std::mutex mutex;
    std::condition_variable rowsChanged;
    UINT finalRows = 0;    // under mutex
    bool stopped = false;  // under mutex
    std::atomic<std::size_t> nextBand{0};
    std::vector<std::thread> helpers;
};

}  // namespace ImageService
