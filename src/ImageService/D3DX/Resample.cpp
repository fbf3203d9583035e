#include "ImageService/D3DX/Resample.h"

#include <algorithm>
#include <memory>
#include <new>

#include "ImageService/D3DX/BlockCodec.h"
#include "ImageService/D3DX/LinearLight.h"
#include "ImageService/D3DX/PixelFormats.h"
#include "ImageService/D3DX/ResampleWeights.h"
#include "ImageService/Infrastructure/Parallel.h"

namespace ImageService {
namespace {

// While filtering, colour is weighted by alpha plus this little (alpha itself is filtered as it is):
// beside a pixel of alpha 1/255 a clear one lends it under a tenth of a code, yet a region that is
// clear throughout still averages its own colours instead of dividing zero by zero.
constexpr float kClearWeight = 1.0f / (1 << 24);
// Destination rows per piece of work; a multiple of 4, the height of a row of blocks.
constexpr UINT kBandRows = 32;
// Source rows in linear light that one worker keeps, enough for every tap of a downscale by up to 3.7
// (a downscale to the nearest power of two is at most 1.5): each such row is then decoded once per band.
constexpr std::uint32_t kMostCachedRows = 24;

// A source level read one RGBA8 row at a time.
class SourceLevel {
public:
    SourceLevel(IDirect3DTexture9& texture, UINT level)
        : format(texture.format()),
          blocks(formatInfo(format)->blockCompressed),
          bytes(texture.levelBytes(level)),
          pitch(*rowPitch(format, texture.width(level))),
          width(texture.width(level)),
          height(texture.height(level)) {}

    UINT columns() const { return width; }
    UINT rows() const { return height; }
    // Bytes `scratch` must hold: one row, or for blocks a whole row of blocks (up to 4 rows).
    std::size_t scratchBytes() const { return static_cast<std::size_t>(width) * 4 * (blocks ? 4 : 1); }

    // Row y as RGBA8, in `scratch` or (A8B8G8R8) in the level itself. A row of blocks is decoded once
    // for its four rows; `decodedBlockRow` tells which one the scratch holds.
    const std::uint8_t* row(UINT y, std::uint8_t* scratch, std::int64_t* decodedBlockRow) const {
        const std::size_t rgbaRow = static_cast<std::size_t>(width) * 4;
        if (blocks) {
            if (*decodedBlockRow != y / 4) {
                decompressBlockRow(format, bytes + (y / 4) * pitch, width, std::min(4u, height - y / 4 * 4),
                                   scratch);
                *decodedBlockRow = y / 4;
            }
            return scratch + (y % 4) * rgbaRow;
        }
        if (format == D3DFMT_A8B8G8R8)
            return bytes + y * pitch;
        unpackPixels(format, bytes + y * pitch, width, scratch);
        return scratch;
    }

    void pixel(UINT x, UINT y, std::uint8_t* rgba) const {
        if (!blocks) {
            unpackPixels(format,
                         bytes + y * pitch + static_cast<std::size_t>(x) * formatInfo(format)->bytesPerUnit,
                         1, rgba);
            return;
        }
        const UINT blockWidth = std::min(4u, width - x / 4 * 4),
                   blockHeight = std::min(4u, height - y / 4 * 4);
        std::uint8_t block[64];
        decompressBlockRow(format, bytes + (y / 4) * pitch + (x / 4) * formatInfo(format)->bytesPerUnit,
                           blockWidth, blockHeight, block);
        const std::uint8_t* at = block + ((y % 4) * blockWidth + x % 4) * 4;
        std::copy(at, at + 4, rgba);
    }

private:
    D3DFORMAT format;
    bool blocks;
    const std::uint8_t* bytes;
    std::size_t pitch;
    UINT width;
    UINT height;
};

// What every worker shares; read only while the bands run.
struct Job {
    Job(IDirect3DTexture9& from, UINT fromLevel, IDirect3DTexture9& to, UINT toLevel)
        : source(from, fromLevel),
          toFormat(to.format()),
          toBytes(to.levelBytes(toLevel)),
          toPitch(*rowPitch(toFormat, to.width(toLevel))),
          toWidth(to.width(toLevel)),
          toHeight(to.height(toLevel)) {
        for (unsigned code = 0; code < 256; ++code) {
            alpha[code] = static_cast<float>(code / 255.0);
            colourWeight[code] = alpha[code] + kClearWeight;
        }
    }

    SourceLevel source;
    D3DFORMAT toFormat;
    std::uint8_t* toBytes;
    std::size_t toPitch;
    UINT toWidth;
    UINT toHeight;
    AxisWeights horizontal;
    AxisWeights vertical;
    std::uint32_t cachedRows = 1;
    float alpha[256];         // of each code
    float colourWeight[256];  // alpha of each code plus kClearWeight
    const LinearLight& light = linearLight();
};

// One thread's working memory, all of it allocated before any band starts.
struct Worker {
    PixelBuffer cached;      // cachedRows source rows in linear light, 4 floats a pixel
    PixelBuffer columnSums;  // the vertical pass: one row of the source width, 4 floats a pixel
    PixelBuffer sourceRows;  // RGBA8 rows as read from the source
    PixelBuffer outputRows;  // RGBA8: up to 4 destination rows, one row of blocks
    std::int64_t decodedBlockRow = -1;
    std::int64_t cachedRow[kMostCachedRows];

    bool allocate(const Job& job) {
        const std::size_t floatRow = static_cast<std::size_t>(job.source.columns()) * 4 * sizeof(float);
        cached = PixelBuffer::allocate(floatRow * job.cachedRows);
        columnSums = PixelBuffer::allocate(floatRow);
        sourceRows = PixelBuffer::allocate(job.source.scratchBytes());
        outputRows = PixelBuffer::allocate(static_cast<std::size_t>(job.toWidth) * 4 * 4);
        std::fill(std::begin(cachedRow), std::end(cachedRow), -1);
        return !cached.empty() && !columnSums.empty() && !sourceRows.empty() && !outputRows.empty();
    }
};

// Source row y in linear light, each colour multiplied by its pixel's alpha weight.
const float* linearRow(const Job& job, Worker& worker, std::uint32_t y) {
    const UINT width = job.source.columns();
    const std::uint32_t slot = y % job.cachedRows;
    float* linear =
        reinterpret_cast<float*>(worker.cached.data()) + static_cast<std::size_t>(slot) * width * 4;
    if (worker.cachedRow[slot] == y)
        return linear;
    const std::uint8_t* rgba = job.source.row(y, worker.sourceRows.data(), &worker.decodedBlockRow);
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t* in = rgba + 4 * x;
        float* out = linear + 4 * x;
        const float weight = job.colourWeight[in[3]];
        out[0] = job.light.fromCode(in[0]) * weight;
        out[1] = job.light.fromCode(in[1]) * weight;
        out[2] = job.light.fromCode(in[2]) * weight;
        out[3] = job.alpha[in[3]];
    }
    worker.cachedRow[slot] = y;
    return linear;
}

// Sums `count` floats (a multiple of 4) across rows, in the order of the taps; kLanes at a time, held
// in registers through every tap (independent sums, so the additions overlap).
template <std::size_t kLanes>
std::size_t sumAcross(const float* const* rows, const float* weights, std::uint32_t taps, std::size_t from,
                      std::size_t count, float* sums) {
    std::size_t k = from;
    for (; k + kLanes <= count; k += kLanes) {
        float sum[kLanes];
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            sum[lane] = weights[0] * rows[0][k + lane];
        for (std::uint32_t tap = 1; tap < taps; ++tap) {
            for (std::size_t lane = 0; lane < kLanes; ++lane)
                sum[lane] += weights[tap] * rows[tap][k + lane];
        }
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            sums[k + lane] = sum[lane];
    }
    return k;
}

// The vertical pass for destination row y: every source column filtered, taps in ascending order.
void sumColumns(const Job& job, Worker& worker, UINT y) {
    const std::size_t count = static_cast<std::size_t>(job.source.columns()) * 4;
    const std::uint32_t first = job.vertical.first[y];
    const std::uint32_t taps = job.vertical.taps(y);
    const float* weights = job.vertical.weightsOf(y);
    float* sums = reinterpret_cast<float*>(worker.columnSums.data());
    if (taps <= job.cachedRows) {
        // Every tap's row fits in the cache at once: one sweep over the columns.
        const float* rows[kMostCachedRows];
        for (std::uint32_t tap = 0; tap < taps; ++tap)
            rows[tap] = linearRow(job, worker, first + tap);
        sumAcross<4>(rows, weights, taps, sumAcross<16>(rows, weights, taps, 0, count, sums), count, sums);
        return;
    }
    // A filter wider than the cache (a steep downscale) adds one row at a time, in the same order.
    const float* row = linearRow(job, worker, first);
    for (std::size_t k = 0; k < count; ++k)
        sums[k] = weights[0] * row[k];
    for (std::uint32_t tap = 1; tap < taps; ++tap) {
        row = linearRow(job, worker, first + tap);
        const float weight = weights[tap];
        for (std::size_t k = 0; k < count; ++k)
            sums[k] += weight * row[k];
    }
}

// The horizontal pass over the column sums, then back to coded bytes.
void filterRow(const Job& job, const Worker& worker, UINT y, std::uint8_t* out) {
    const float* sums = reinterpret_cast<const float*>(worker.columnSums.data());
    for (UINT x = 0; x < job.toWidth; ++x, out += 4) {
        const std::uint32_t taps = job.horizontal.taps(x);
        const float* weights = job.horizontal.weightsOf(x);
        const float* in = sums + static_cast<std::size_t>(job.horizontal.first[x]) * 4;
        float pixel[4];
        for (int c = 0; c < 4; ++c)
            pixel[c] = weights[0] * in[c];
        for (std::uint32_t tap = 1; tap < taps; ++tap) {
            in += 4;
            for (int c = 0; c < 4; ++c)
                pixel[c] += weights[tap] * in[c];
        }
        const float colourWeight = pixel[3] + kClearWeight;
        if (colourWeight > kClearWeight * 0.5f) {
            const float inverse = 1.0f / colourWeight;
            for (int c = 0; c < 3; ++c)
                out[c] = job.light.toCode(pixel[c] * inverse);
            const float alpha = pixel[3];
            out[3] = alpha <= 0.0f   ? 0
                     : alpha >= 1.0f ? 255
                                     : static_cast<std::uint8_t>(alpha * 255.0f + 0.5f);
        } else {
            // The negative lobes of the kernel outweighed the transparent pixels here (beside an opaque
            // edge): the pixel is clear, and keeps the colour of the source pixel under it.
            job.source.pixel(job.horizontal.nearest[x], job.vertical.nearest[y], out);
            out[3] = 0;
        }
    }
}

void store(const Job& job, UINT y, UINT rows, const std::uint8_t* rgba) {
    if (formatInfo(job.toFormat)->blockCompressed) {
        compressBlockRow(job.toFormat, rgba, job.toWidth, rows, job.toBytes + (y / 4) * job.toPitch);
    } else {
        packPixels(job.toFormat, rgba, static_cast<std::size_t>(job.toWidth) * rows,
                   job.toBytes + y * job.toPitch);
    }
}

void resampleBand(const Job& job, Worker& worker, std::size_t band) {
    const UINT top = static_cast<UINT>(band) * kBandRows;
    const UINT bottom = std::min(top + kBandRows, job.toHeight);
    const std::size_t rgbaRow = static_cast<std::size_t>(job.toWidth) * 4;
    for (UINT y = top; y < bottom; y += 4) {
        const UINT rows = std::min(4u, bottom - y);
        for (UINT k = 0; k < rows; ++k) {
            sumColumns(job, worker, y + k);
            filterRow(job, worker, y + k, worker.outputRows.data() + k * rgbaRow);
        }
        store(job, y, rows, worker.outputRows.data());
    }
}

}  // namespace

UINT nearestPowerOfTwo(UINT side) {
    if (side <= 1)
        return 1;
    if (side >= kMaxTextureSide)
        return kMaxTextureSide;
    UINT below = 1;
    while (below * 2 <= side)
        below *= 2;
    // side lies in [below, 2 below): the upper power is as near or nearer from 1.5 below on.
    return 2 * static_cast<std::uint64_t>(side) >= 3 * static_cast<std::uint64_t>(below) ? below * 2 : below;
}

HRESULT resampleLevel(IDirect3DTexture9& from, UINT fromLevel, IDirect3DTexture9& to, UINT toLevel,
                      unsigned maxThreads) {
    if (fromLevel >= from.GetLevelCount() || toLevel >= to.GetLevelCount() ||
        !convertible(from.format(), to.format()))
        return D3DERR_INVALIDCALL;
    if (from.isLocked(fromLevel) || to.isLocked(toLevel) || (&from == &to && fromLevel == toLevel))
        return D3DERR_INVALIDCALL;
    // A block level that still has the pixels it was compressed from is read from those.
    IDirect3DTexture9* origin = &from;
    UINT originLevel = fromLevel;
    UINT exactLevel = 0;
    if (IDirect3DTexture9* exact = from.exactPixels(fromLevel, &exactLevel)) {
        origin = exact;
        originLevel = exactLevel;
    }
    if (!convertible(origin->format(), to.format()) || (origin == &to && originLevel == toLevel))
        return D3DERR_INVALIDCALL;

    auto job = std::unique_ptr<Job>(new (std::nothrow) Job(*origin, originLevel, to, toLevel));
    if (!job || !makeAxisWeights(job->source.columns(), job->toWidth, &job->horizontal) ||
        !makeAxisWeights(job->source.rows(), job->toHeight, &job->vertical)) {
        return E_OUTOFMEMORY;
    }
    job->cachedRows = std::min(job->vertical.widest(), kMostCachedRows);

    const std::size_t bands = (job->toHeight + kBandRows - 1) / kBandRows;
    const unsigned workers = workerCount(bands, 2, maxThreads);
    auto memory = std::unique_ptr<Worker[]>(new (std::nothrow) Worker[workers]);
    if (!memory)
        return E_OUTOFMEMORY;
    for (unsigned worker = 0; worker < workers; ++worker) {
        if (!memory[worker].allocate(*job))
            return E_OUTOFMEMORY;
    }

    origin->AddRef();  // the write below may drop the last other reference to it
    to.markWritten(toLevel);
    forEachPieceOnWorkers(bands, 2, maxThreads, [&](std::size_t band, unsigned worker) {
        resampleBand(*job, memory[worker], band);
    });
    origin->Release();
    return D3D_OK;
}

}  // namespace ImageService
