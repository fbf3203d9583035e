#include "ImageService/D3DX/CompressAhead.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <exception>

#include "ImageService/Direct3D/Format.h"
#include "ImageService/D3DX/PixelFormats.h"
#include "Platform/Process.h"

namespace ImageService {
namespace {

// An image shorter than this many bands of four rows is too short for the overlap to pay for
// starting threads.
constexpr std::size_t kMinimumBands = 64;

}  // namespace

CompressAhead::CompressAhead(D3DFORMAT pixelFormat, const std::uint8_t* pixels, D3DFORMAT blockFormat,
                             UINT width, UINT height)
    : pixelFormat(pixelFormat),
      pixels(pixels),
      blockFormat(blockFormat),
      width(width),
      height(height),
      bands(bandCount(height)) {}

CompressAhead::~CompressAhead() {
    stop();
}

bool CompressAhead::start() {
    const unsigned cores = Platform::workerThreads();
    const std::optional<std::size_t> size = levelByteSize(blockFormat, width, height);
    // Blocks decoded from a file (DDS) are copied as they are, never compressed again.
    const FormatInfo* decoded = formatInfo(pixelFormat);
    if (cores < 2 || bands < kMinimumBands || !size || !decoded || decoded->blockCompressed ||
        !convertible(pixelFormat, blockFormat)) {
        return false;
    }
    blocks = PixelBuffer::allocate(*size);
    if (blocks.empty())
        return false;
    // The decoding thread keeps one core; it joins the helpers once its rows are done.
    for (unsigned i = 0; i + 1 < cores; ++i) {
        try {
            helpers.emplace_back([this] { compressBands(); });
        } catch (const std::exception&) {
            break;  // no thread (or no room to keep one): those started, and then this one, do the work
        }
    }
    return !helpers.empty();
}

void CompressAhead::rowsFinal(UINT rows) {
    // Helpers only ever wait for a whole band, so the rows in between need not wake them.
    if (rows % 4 != 0 && rows != height)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        finalRows = rows;
    }
    rowsChanged.notify_all();
}

PixelBuffer CompressAhead::finish() {
    rowsFinal(height);
    compressBands();
    // Every row is final, so the helpers finish the bands they hold and find no more.
    for (std::thread& helper : helpers)
        helper.join();
    helpers.clear();
    // A thread without memory for its band buffer claims nothing; only if none had any is a band left.
    return nextBand >= bands ? std::move(blocks) : PixelBuffer{};
}

void CompressAhead::compressBands() {
    std::unique_ptr<std::uint8_t[]> rgba(new (std::nothrow) std::uint8_t[std::size_t{width} * 4 * 4]);
    if (!rgba)
        return;
    for (std::size_t band = nextBand++; band < bands; band = nextBand++) {
        const UINT needed = static_cast<UINT>(std::min<std::size_t>(height, (band + 1) * 4));
        {
            std::unique_lock<std::mutex> lock(mutex);
            rowsChanged.wait(lock, [&] { return stopped || finalRows >= needed; });
            if (stopped)
                return;  // the decode failed: nobody will take the blocks
        }
        convertLevelBand(pixelFormat, pixels, blockFormat, blocks.data(), width, height, band, 0, rgba.get());
    }
}

void CompressAhead::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopped = true;
    }
    rowsChanged.notify_all();
    for (std::thread& helper : helpers)
        helper.join();
    helpers.clear();
}

}  // namespace ImageService
