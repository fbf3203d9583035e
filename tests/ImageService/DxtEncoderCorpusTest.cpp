// Our DXT encoder against libsquish's cluster fit on the bench corpus (../shared/bench/make_corpus.sh),
// both measured here in the same run: per image, our RGB PSNR may trail libsquish's by at most
// 0.05 dB, and the DXT1 mean over the corpus must reach 40.20 dB. DXT1 is scored with alpha forced
// opaque; DXT3 on the images with alpha, whose 4-bit alpha must also be exact. Skips unless
// QUILLPACK_CORPUS_DIR names the corpus folder.
#include <gtest/gtest.h>
#include <spng.h>
#include <squish.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ImageService/Dxt/DxtEncoder.h"

namespace ImageService::Dxt {
namespace {

struct Image {
    std::string name;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgba;
    bool hasAlpha = false;
};

bool loadPng(const std::filesystem::path& path, Image& out) {
    std::ifstream f(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    spng_ctx* ctx = spng_ctx_new(0);
    if (!ctx) {
        return false;
    }
    spng_set_png_buffer(ctx, bytes.data(), bytes.size());
    spng_ihdr ihdr;
    size_t size = 0;
    bool ok = spng_get_ihdr(ctx, &ihdr) == 0 && spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0;
    if (ok) {
        out.width = ihdr.width;
        out.height = ihdr.height;
        out.rgba.resize(size);
        ok = spng_decode_image(ctx, out.rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0;
    }
    spng_ctx_free(ctx);
    out.name = path.stem().string();
    for (std::size_t i = 3; ok && i < out.rgba.size(); i += 4) {
        out.hasAlpha |= out.rgba[i] != 255;
    }
    return ok;
}

// libsquish is single-threaded; bands of block rows on every core keep this test's time down.
void squishEncode(const Image& img, int flags, std::uint8_t* out) {
    const std::uint32_t rows = (img.height + 3) / 4;
    const unsigned threads = std::max(1u, std::min(std::thread::hardware_concurrency(), rows));
    const std::uint32_t per = (rows + threads - 1) / threads;
    const std::size_t rowBytes = std::size_t((img.width + 3) / 4) * ((flags & squish::kDxt1) ? 8 : 16);
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        const std::uint32_t r0 = t * per;
        const std::uint32_t r1 = std::min(rows, r0 + per);
        if (r0 < r1) {
            pool.emplace_back([&, r0, r1] {
                squish::CompressImage(img.rgba.data() + std::size_t(r0) * 4 * img.width * 4, int(img.width),
                                      int(std::min(img.height, r1 * 4) - r0 * 4), out + r0 * rowBytes, flags);
            });
        }
    }
    for (std::thread& t : pool) {
        t.join();
    }
}

struct Score {
    double rgbPsnr;
    int alphaErrors;  // pixels whose decoded alpha is not the nearest 4-bit value (DXT3)
};

Score score(const Image& img, const std::vector<std::uint8_t>& blocks, int flags) {
    std::vector<std::uint8_t> dec(img.rgba.size());
    squish::DecompressImage(dec.data(), int(img.width), int(img.height), blocks.data(), flags);
    double sum = 0;
    int alphaErrors = 0;
    for (std::size_t i = 0; i < dec.size(); i += 4) {
        for (int c = 0; c < 3; ++c) {
            const double d = double(dec[i + c]) - img.rgba[i + c];
            sum += d * d;
        }
        alphaErrors += (flags & squish::kDxt3) && dec[i + 3] != 17 * ((img.rgba[i + 3] + 8) / 17);
    }
    const double mse = sum / (3.0 * img.width * img.height);
    return {mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0, alphaErrors};
}

std::vector<std::filesystem::path> corpus() {
    std::vector<std::filesystem::path> files;
    const char* dir = std::getenv("QUILLPACK_CORPUS_DIR");
    if (dir && *dir) {
        for (const auto& e : std::filesystem::directory_iterator(dir)) {
            if (e.path().extension() == ".png") {
                files.push_back(e.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(DxtEncoderCorpus, BeatsLibsquishClusterFitOnEveryImage) {
    const auto files = corpus();
    if (files.empty()) {
        GTEST_SKIP() << "set QUILLPACK_CORPUS_DIR to the folder made by shared/bench/make_corpus.sh";
    }
    double sumOurs1 = 0;
    double sumTheirs1 = 0;
    int images1 = 0;
    for (const auto& path : files) {
        Image img;
        ASSERT_TRUE(loadPng(path, img)) << path;
        const std::size_t blocks = std::size_t((img.width + 3) / 4) * ((img.height + 3) / 4);
        std::vector<std::uint8_t> ours(blocks * 16);
        std::vector<std::uint8_t> theirs(blocks * 16);
        if (img.hasAlpha) {
            const int flags = squish::kDxt3 | squish::kColourClusterFit;
            encodeDxt3(img.rgba.data(), img.width, img.height, ours.data());
            squishEncode(img, flags, theirs.data());
            const Score o = score(img, ours, flags);
            const Score t = score(img, theirs, flags);
            EXPECT_GE(o.rgbPsnr, t.rgbPsnr - 0.05) << img.name << " DXT3";
            EXPECT_EQ(0, o.alphaErrors) << img.name << " DXT3";
            std::printf("%-24s DXT3 ours %.3f dB  libsquish %.3f dB\n", img.name.c_str(), o.rgbPsnr,
                        t.rgbPsnr);
        }
        Image opaque = img;
        for (std::size_t i = 3; i < opaque.rgba.size(); i += 4) {
            opaque.rgba[i] = 255;
        }
        const int flags = squish::kDxt1 | squish::kColourClusterFit;
        encodeDxt1(opaque.rgba.data(), opaque.width, opaque.height, ours.data());
        squishEncode(opaque, flags, theirs.data());
        const Score o = score(opaque, ours, flags);
        const Score t = score(opaque, theirs, flags);
        EXPECT_GE(o.rgbPsnr, t.rgbPsnr - 0.05) << img.name << " DXT1";
        std::printf("%-24s DXT1 ours %.3f dB  libsquish %.3f dB\n", img.name.c_str(), o.rgbPsnr, t.rgbPsnr);
        sumOurs1 += o.rgbPsnr;
        sumTheirs1 += t.rgbPsnr;
        ++images1;
    }
    std::printf("DXT1 mean: ours %.3f dB  libsquish %.3f dB\n", sumOurs1 / images1, sumTheirs1 / images1);
    EXPECT_GE(sumOurs1 / images1, 40.20);
    EXPECT_GE(sumOurs1, sumTheirs1);
}

}  // namespace
}  // namespace ImageService::Dxt
