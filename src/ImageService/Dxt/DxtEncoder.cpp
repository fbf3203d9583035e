// Image drivers: cut the image into 4x4 blocks (edge blocks keep only the pixels inside), hand each
// to the colour fit, add DXT3's explicit alpha, and spread block rows over the cores.
#include "ImageService/Dxt/DxtEncoder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "ImageService/Dxt/DxtBlock.h"
#include "ImageService/Dxt/SearchEffort.h"
#include "Platform/Process.h"

namespace ImageService::Dxt {
namespace {

using detail::ColourBlock;

void toColourBlock(const std::uint8_t* rgba, std::uint32_t validMask, bool alphaCuts, ColourBlock& block) {
    block.transparent = 0;
    for (int i = 0; i < 16; ++i) {
        const std::uint8_t* p = rgba + 4 * i;
        block.r[i] = float(p[0]);
        block.g[i] = float(p[1]);
        block.b[i] = float(p[2]);
        const bool valid = (validMask >> i) & 1u;
        const bool clear = valid && alphaCuts && p[3] < 128;
        block.w[i] = valid && !clear ? 1.0f : 0.0f;
        block.transparent |= std::uint32_t(clear) << i;
    }
}

// One RGB value over all 16 pixels (and, where alpha decides transparency, none below 128): by far
// the commonest block in real textures, worth catching before any float work.
bool solidOpaque(const std::uint8_t* rgba, bool alphaCuts) {
    std::uint32_t first;
    std::memcpy(&first, rgba, 4);
    std::uint32_t diff = 0;
    std::uint32_t alphaLow = 0;
    for (int i = 0; i < 16; ++i) {
        std::uint32_t p;
        std::memcpy(&p, rgba + 4 * i, 4);
        diff |= (p ^ first) & 0x00FFFFFFu;
        alphaLow |= ~p & 0x80000000u;
    }
    return diff == 0 && (!alphaCuts || alphaLow == 0);
}

// 4-bit alpha rounded to nearest: (a * 15 + 127) / 255 equals round(a / 17).
void writeExplicitAlpha(const std::uint8_t* rgba, std::uint32_t validMask, std::uint8_t* out) {
    for (int i = 0; i < 8; ++i) {
        int lo = 0;
        int hi = 0;
        if ((validMask >> (2 * i)) & 1u) {
            lo = (rgba[4 * (2 * i) + 3] * 15 + 127) / 255;
        }
        if ((validMask >> (2 * i + 1)) & 1u) {
            hi = (rgba[4 * (2 * i + 1) + 3] * 15 + 127) / 255;
        }
        out[i] = std::uint8_t(lo | (hi << 4));
    }
}

template <bool Dxt3>
void encodeRows(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint32_t rowBegin,
                std::uint32_t rowEnd, std::uint8_t* blocks, Effort effort) {
    constexpr std::size_t blockBytes = Dxt3 ? 16 : 8;
    const std::uint32_t blocksWide = (width + 3) / 4;
    alignas(64) std::uint8_t pixels[64];
    for (std::uint32_t by = rowBegin; by < rowEnd; ++by) {
        for (std::uint32_t bx = 0; bx < blocksWide; ++bx) {
            std::uint32_t mask = 0xFFFFu;
            if (bx * 4 + 4 <= width && by * 4 + 4 <= height) {
                for (std::uint32_t y = 0; y < 4; ++y) {
                    std::memcpy(pixels + 16 * y, rgba + (std::size_t(by * 4 + y) * width + bx * 4) * 4, 16);
                }
            } else {
                mask = 0;
                for (std::uint32_t y = 0; y < 4; ++y) {
                    const std::uint32_t py = std::min(by * 4 + y, height - 1);
                    for (std::uint32_t x = 0; x < 4; ++x) {
                        const std::uint32_t px = std::min(bx * 4 + x, width - 1);
                        std::memcpy(pixels + 4 * (4 * y + x), rgba + (std::size_t(py) * width + px) * 4, 4);
                        if (by * 4 + y < height && bx * 4 + x < width) {
                            mask |= 1u << (4 * y + x);
                        }
                    }
                }
            }
            std::uint8_t* out = blocks + (std::size_t(by) * blocksWide + bx) * blockBytes;
            if (Dxt3) {
                encodeDxt3Block(pixels, mask, out, effort);
            } else {
                encodeDxt1Block(pixels, mask, out, effort);
            }
        }
    }
}

// Rows are handed out a few at a time from a shared counter, so threads that drew easy rows (solid
// areas) take more of them rather than idling at the end.
template <bool Dxt3>
void encodeImage(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint8_t* blocks,
                 unsigned maxThreads, Effort effort) {
    if (width == 0 || height == 0) {
        return;
    }
    const std::uint32_t rows = (height + 3) / 4;
    const std::uint64_t blockCount = std::uint64_t(rows) * ((width + 3) / 4);
    constexpr std::uint32_t chunk = 4;
    const unsigned cores = maxThreads ? maxThreads : Platform::workerThreads();
    // Below a few thousand blocks a thread costs more to start than it saves.
    const unsigned threads =
        unsigned(std::min<std::uint64_t>({cores, (rows + chunk - 1) / chunk, blockCount / 2048 + 1}));
    std::atomic<std::uint32_t> next{0};
    auto worker = [&] {
        for (;;) {
            const std::uint32_t begin = next.fetch_add(chunk);
            if (begin >= rows) {
                return;
            }
            encodeRows<Dxt3>(rgba, width, height, begin, std::min(rows, begin + chunk), blocks, effort);
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) {
        pool.emplace_back(worker);
    }
    worker();
    for (std::thread& t : pool) {
        t.join();
    }
}

}  // namespace

void encodeDxt1Block(const std::uint8_t* rgba, std::uint32_t validMask, std::uint8_t* block, Effort effort) {
    if (validMask == 0xFFFFu && solidOpaque(rgba, true)) {
        const int rgb[3] = {rgba[0], rgba[1], rgba[2]};
        detail::encodeSolidBlock(rgb, true, block);
        return;
    }
    ColourBlock colour;
    toColourBlock(rgba, validMask, true, colour);
    detail::encodeColourBlock(colour, true, detail::searchEffort(effort, false), block);
}

void encodeDxt3Block(const std::uint8_t* rgba, std::uint32_t validMask, std::uint8_t* block, Effort effort) {
    writeExplicitAlpha(rgba, validMask, block);
    if (validMask == 0xFFFFu && solidOpaque(rgba, false)) {
        const int rgb[3] = {rgba[0], rgba[1], rgba[2]};
        detail::encodeSolidBlock(rgb, false, block + 8);
        return;
    }
    ColourBlock colour;
    toColourBlock(rgba, validMask, false, colour);
    // Some decoders read a DXT3 colour block as four colours whatever the endpoint order, others by
    // the order as in DXT1; only four colours with c0 > c1 (or one colour on index 0) reads the
    // same on both.
    detail::encodeColourBlock(colour, false, detail::searchEffort(effort, true), block + 8);
}

void encodeDxt1(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint8_t* blocks,
                unsigned threads, Effort effort) {
    encodeImage<false>(rgba, width, height, blocks, threads, effort);
}

void encodeDxt3(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint8_t* blocks,
                unsigned threads, Effort effort) {
    encodeImage<true>(rgba, width, height, blocks, threads, effort);
}

void encodeDxt1Row(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t rows, std::uint8_t* blocks,
                   Effort effort) {
    if (width != 0 && rows != 0) {
        encodeRows<false>(rgba, width, rows, 0, 1, blocks, effort);
    }
}

void encodeDxt3Row(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t rows, std::uint8_t* blocks,
                   Effort effort) {
    if (width != 0 && rows != 0) {
        encodeRows<true>(rgba, width, rows, 0, 1, blocks, effort);
    }
}

void encodeDxt1(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint8_t* blocks) {
    encodeImage<false>(rgba, width, height, blocks, 0, Effort::Default);
}

void encodeDxt3(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, std::uint8_t* blocks) {
    encodeImage<true>(rgba, width, height, blocks, 0, Effort::Default);
}

}  // namespace ImageService::Dxt
