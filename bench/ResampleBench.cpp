// Speed of the resize (Lanczos-3 in linear light) on a 4000x3000 crop of a corpus image to 4096x2048,
// the kind of resize --pow2 makes, on one thread and on two. The baseline, timed in the same run, is
// ImageMagick's own Lanczos resize in linear light (convert -colorspace RGB -filter Lanczos) on the same
// pixels and thread counts, its file round trip without the resize subtracted; the PSNR between the two
// results says whether both computed the same filter.
// Usage: quillpack_resample_bench [image.png]  (default: QUILLPACK_CORPUS_DIR/24_gn_truchet_l_4096.png)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ImageService/D3DX/D3DX.h"
#include "ImageService/D3DX/Resample.h"

namespace {

using namespace ImageService;
using Clock = std::chrono::steady_clock;

constexpr UINT kWidth = 4000, kHeight = 3000, kToWidth = 4096, kToHeight = 2048;

// Best seconds of `runs` calls.
template <typename Work>
double bestSeconds(int runs, Work work) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// RGB PSNR between two RGBA8 images of the same size.
double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty())
        return 0;
    double error = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3)
            continue;
        const double d = double(a[i]) - b[i];
        error += d * d;
    }
    const double mse = error / (a.size() / 4 * 3);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

int main(int argc, char** argv) {
    std::string path;
    if (argc > 1) {
        path = argv[1];
    } else if (const char* corpus = std::getenv("QUILLPACK_CORPUS_DIR")) {
        path = std::string(corpus) + "/24_gn_truchet_l_4096.png";
    } else {
        std::fprintf(stderr, "usage: %s IMAGE.png (or set QUILLPACK_CORPUS_DIR)\n", argv[0]);
        return 2;
    }
    IDirect3D9* direct3D = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS parameters{};
    IDirect3DDevice9* device = nullptr;
    IDirect3DTexture9* image = nullptr;
    const std::u16string widePath(path.begin(), path.end());
    if (!direct3D || FAILED(direct3D->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device)) ||
        FAILED(D3DXCreateTextureFromFileW(device, widePath.c_str(), &image)) || image->width() < kWidth ||
        image->height() < kHeight || image->format() != D3DFMT_A8R8G8B8) {
        std::fprintf(stderr, "%s: not a readable image of at least %ux%u\n", path.c_str(), kWidth, kHeight);
        return 1;
    }

    // The top-left crop, as A8B8G8R8 (bytes R, G, B, A: what ImageMagick reads as rgba).
    IDirect3DTexture9 *source = nullptr, *destination = nullptr;
    IDirect3DTexture9::create(kWidth, kHeight, 1, 0, D3DFMT_A8B8G8R8, D3DPOOL_MANAGED, &source);
    IDirect3DTexture9::create(kToWidth, kToHeight, 1, 0, D3DFMT_A8B8G8R8, D3DPOOL_MANAGED, &destination);
    for (UINT y = 0; y < kHeight; ++y) {
        const std::uint8_t* in = image->levelBytes(0) + std::size_t(y) * image->width() * 4;
        std::uint8_t* out = source->levelBytes(0) + std::size_t(y) * kWidth * 4;
        for (UINT x = 0; x < kWidth; ++x, in += 4, out += 4) {
            out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = in[3];
        }
    }
    image->Release();

    const double megapixels = double(kToWidth) * kToHeight / 1e6;
    double ours[2];
    for (unsigned threads : {1u, 2u}) {
        ours[threads - 1] = bestSeconds(3, [&] { resampleLevel(*source, 0, *destination, 0, threads); });
    }
    const std::vector<std::uint8_t> ourPixels(destination->levelBytes(0),
                                              destination->levelBytes(0) + destination->levelSize(0));

    // ImageMagick on the same pixels through raw files in a scratch folder.
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "quillpack-resample-bench";
    std::filesystem::create_directories(folder);
    const std::string in = (folder / "in.rgba").string(), out = (folder / "out.rgba").string();
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(source->levelBytes(0)), std::streamsize(source->levelSize(0)));
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    const std::string toSize = std::to_string(kToWidth) + "x" + std::to_string(kToHeight) + "!";
    double peer[2] = {NAN, NAN};
    for (unsigned threads : {1u, 2u}) {
        const std::string prefix = "/usr/bin/convert -limit thread " + std::to_string(threads) + " -size " +
                                   size + " -depth 8 rgba:" + in;
        const std::string resize = prefix + " -colorspace RGB -filter Lanczos -resize " + toSize +
                                   " -colorspace sRGB -depth 8 rgba:" + out;
        const std::string roundTrip = prefix + " -depth 8 rgba:" + out;
        bool ran = true;
        const double copy = bestSeconds(3, [&] { ran = ran && std::system(roundTrip.c_str()) == 0; });
        const double total = bestSeconds(3, [&] { ran = ran && std::system(resize.c_str()) == 0; });
        if (ran)
            peer[threads - 1] = total - copy;
    }
    const double agreement = psnr(ourPixels, readFile(out));
    std::filesystem::remove_all(folder);

    std::printf("%ux%u -> %ux%u, Lanczos-3 in linear light; MP/s = destination megapixels per second\n",
                kWidth, kHeight, kToWidth, kToHeight);
    std::printf("%-32s %10s %10s %10s\n", "", "1 thread", "2 threads", "2t / 1t");
    std::printf("%-32s %10.1f %10.1f %10.2f\n", "quillpack resampleLevel (MP/s)", megapixels / ours[0],
                megapixels / ours[1], ours[0] / ours[1]);
    std::printf("%-32s %10.1f %10.1f %10.2f\n", "ImageMagick -resize (MP/s)", megapixels / peer[0],
                megapixels / peer[1], peer[0] / peer[1]);
    std::printf("%-32s %10.2f %10.2f\n", "quillpack / ImageMagick speed", peer[0] / ours[0],
                peer[1] / ours[1]);
    std::printf("RGB PSNR between the two results: %.2f dB\n", agreement);
    source->Release();
    destination->Release();
    device->Release();
    direct3D->Release();
    return 0;
}
