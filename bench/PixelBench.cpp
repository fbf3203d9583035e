// For every PNG of a folder (the argument, else QUILLPACK_CORPUS_DIR): block-encode speed for DXT1
// and DXT3 on one core and on all, DXT1 block decode speed, the speed of reading the file through the
// service, and the RGB PSNR each format keeps. DXT1's PSNR counts only pixels that stay opaque
// (alpha >= 128); the others must come back with alpha 0.
#include <omp.h>
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ImageService/D3DX/BlockCodec.h"
#include "ImageService/D3DX/D3DX.h"

namespace {

using namespace ImageService;
using Clock = std::chrono::steady_clock;

struct Image {
    UINT width = 0;
    UINT height = 0;
    std::vector<std::uint8_t> rgba;
};

bool loadPng(const std::filesystem::path& path, Image& image) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    spng_ctx* ctx = spng_ctx_new(0);
    spng_ihdr ihdr{};
    std::size_t size = 0;
    bool ok = spng_set_png_file(ctx, file) == 0 && spng_get_ihdr(ctx, &ihdr) == 0 &&
              spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0;
    if (ok) {
        image.width = ihdr.width;
        image.height = ihdr.height;
        image.rgba.resize(size);
        ok = spng_decode_image(ctx, image.rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0;
    }
    spng_ctx_free(ctx);
    std::fclose(file);
    return ok;
}

// Runs `work` until at least a quarter second has passed and gives the best seconds per run.
template <typename Work>
double secondsPerRun(Work work) {
    double best = 1e30;
    double total = 0;
    do {
        auto start = Clock::now();
        work();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        best = std::min(best, seconds);
        total += seconds;
    } while (total < 0.25);
    return best;
}

double psnr(double squaredError, std::size_t samples) {
    if (samples == 0)
        return 0;
    double mse = squaredError / static_cast<double>(samples);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// DXT1: RGB error over pixels kept opaque; `alphaFaults` counts pixels off the 128 threshold rule.
double dxt1Psnr(const Image& image, const std::vector<std::uint8_t>& decoded, std::size_t& alphaFaults) {
    double error = 0;
    std::size_t samples = 0;
    for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
        bool opaque = image.rgba[i + 3] >= 128;
        if (decoded[i + 3] != (opaque ? 255 : 0))
            ++alphaFaults;
        if (!opaque)
            continue;
        for (int c = 0; c < 3; ++c) {
            double d = double(image.rgba[i + c]) - decoded[i + c];
            error += d * d;
        }
        samples += 3;
    }
    return psnr(error, samples);
}

// DXT3: RGB error over every pixel; alpha must be the nearest of the 16 steps.
double dxt3Psnr(const Image& image, const std::vector<std::uint8_t>& decoded, std::size_t& alphaFaults) {
    double error = 0;
    for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
        if (decoded[i + 3] != 17 * ((image.rgba[i + 3] + 8) / 17))
            ++alphaFaults;
        for (int c = 0; c < 3; ++c) {
            double d = double(image.rgba[i + c]) - decoded[i + c];
            error += d * d;
        }
    }
    return psnr(error, image.rgba.size() / 4 * 3);
}

}  // namespace

int main(int argc, char** argv) {
    const char* folder = argc > 1 ? argv[1] : std::getenv("QUILLPACK_CORPUS_DIR");
    if (!folder) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR (or set QUILLPACK_CORPUS_DIR)\n", argv[0]);
        return 2;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".png")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());

    IDirect3D9* direct3D = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS parameters{};
    IDirect3DDevice9* device = nullptr;
    if (!direct3D || FAILED(direct3D->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device))) {
        std::fprintf(stderr, "no device\n");
        return 1;
    }

    const int cores = omp_get_max_threads();
    std::printf("MP/s = megapixels per second; 1t = one thread, %dt = libsquish's OpenMP on %d threads\n",
                cores, cores);
    std::printf("%-26s %11s %8s %8s %8s %8s %8s %8s %8s %8s\n", "image", "size", "file", "DXT1 1t", "DXT1 Nt",
                "DXT3 1t", "DXT3 Nt", "dec DXT1", "PSNR1", "PSNR3");
    double psnr1Sum = 0, psnr3Sum = 0, pixelSum = 0;
    double seconds[5] = {};  // DXT1 1t, DXT1 Nt, DXT3 1t, DXT3 Nt, decode
    std::size_t faults = 0;
    for (const auto& path : files) {
        Image image;
        if (!loadPng(path, image)) {
            std::fprintf(stderr, "%s: unreadable PNG\n", path.c_str());
            continue;
        }
        const double megapixels = image.width * double(image.height) / 1e6;
        std::u16string widePath(path.string().begin(), path.string().end());
        bool fileRead = true;
        double fileSeconds = secondsPerRun([&] {
            IDirect3DTexture9* texture = nullptr;
            fileRead = SUCCEEDED(D3DXCreateTextureFromFileW(device, widePath.c_str(), &texture));
            if (fileRead)
                texture->Release();
        });
        if (!fileRead)
            fileSeconds = NAN;  // the service's reader refused the file: shown as nan

        std::vector<std::uint8_t> blocks1(*levelByteSize(D3DFMT_DXT1, image.width, image.height));
        std::vector<std::uint8_t> blocks3(*levelByteSize(D3DFMT_DXT3, image.width, image.height));
        std::vector<std::uint8_t> decoded(image.rgba.size());
        double run[5];
        for (int threads : {1, cores}) {
            omp_set_num_threads(threads);
            int column = threads == 1 ? 0 : 1;
            run[column] = secondsPerRun([&] {
                compressImage(D3DFMT_DXT1, image.rgba.data(), image.width, image.height, blocks1.data());
            });
            run[column + 2] = secondsPerRun([&] {
                compressImage(D3DFMT_DXT3, image.rgba.data(), image.width, image.height, blocks3.data());
            });
        }
        run[4] = secondsPerRun(
            [&] { decompressImage(D3DFMT_DXT1, blocks1.data(), image.width, image.height, decoded.data()); });
        double p1 = dxt1Psnr(image, decoded, faults);
        decompressImage(D3DFMT_DXT3, blocks3.data(), image.width, image.height, decoded.data());
        double p3 = dxt3Psnr(image, decoded, faults);

        std::printf("%-26s %5ux%-5u %8.1f %8.2f %8.2f %8.2f %8.2f %8.1f %8.2f %8.2f\n", path.stem().c_str(),
                    image.width, image.height, megapixels / fileSeconds, megapixels / run[0],
                    megapixels / run[1], megapixels / run[2], megapixels / run[3], megapixels / run[4], p1,
                    p3);
        std::fflush(stdout);
        psnr1Sum += p1;
        psnr3Sum += p3;
        pixelSum += megapixels;
        for (int i = 0; i < 5; ++i)
            seconds[i] += run[i];
    }
    if (files.empty())
        return 1;
    // Overall speed: all pixels over the time that encoding every image once takes.
    for (double& s : seconds)
        s = pixelSum / s;
    std::printf("%-26s %11s %8s %8.2f %8.2f %8.2f %8.2f %8.1f %8.2f %8.2f\n", "all (mean PSNR)", "", "",
                seconds[0], seconds[1], seconds[2], seconds[3], seconds[4], psnr1Sum / files.size(),
                psnr3Sum / files.size());
    std::printf("alpha rule faults: %zu\n", faults);
    device->Release();
    direct3D->Release();
    return faults == 0 ? 0 : 1;
}
