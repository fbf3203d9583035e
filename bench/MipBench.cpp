// Quality of generated mip levels: each level of a DXT1 chain made through the archive is scored
// (RGB PSNR) against a box-filtered reference computed from the original image in floating point.
// Two ways are compared on the same images: the chain filtered from level 0's exact pixels (what the
// service does), and from level 0's decoded blocks (what it would do without them).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ImageService/D3DX/BlockCodec.h"
#include "ImageService/D3DX/D3DX.h"
#include "TXD/TXDArchive.h"

using namespace ImageService;

namespace {

std::vector<double> toRgb(IDirect3DTexture9* texture) {  // A8R8G8B8 level 0 -> R,G,B doubles
    std::vector<double> rgb;
    const std::uint8_t* p = texture->levelBytes(0);
    for (std::size_t i = 0; i < texture->levelSize(0); i += 4)
        rgb.insert(rgb.end(), {double(p[i + 2]), double(p[i + 1]), double(p[i])});
    return rgb;
}

std::vector<double> halve(const std::vector<double>& rgb, UINT width, UINT height) {
    UINT w = width > 1 ? width / 2 : 1, h = height > 1 ? height / 2 : 1;
    std::vector<double> out(std::size_t(w) * h * 3);
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                int n = 0;
                for (UINT dy = 0; dy < (height > 1 ? 2u : 1u); ++dy)
                    for (UINT dx = 0; dx < (width > 1 ? 2u : 1u); ++dx, ++n)
                        sum += rgb[((std::size_t(y) * 2 + dy) * width + x * 2 + dx) * 3 + c];
                out[(std::size_t(y) * w + x) * 3 + c] = sum / n;
            }
    return out;
}

double psnr(const std::vector<double>& reference, const std::vector<std::uint8_t>& rgba) {
    double error = 0;
    for (std::size_t i = 0, j = 0; i < reference.size(); i += 3, j += 4)
        for (int c = 0; c < 3; ++c)
            error += (reference[i + c] - rgba[j + c]) * (reference[i + c] - rgba[j + c]);
    return error == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * reference.size() / error);
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1]
                                  : (std::getenv("QUILLPACK_CORPUS_DIR") ? std::getenv("QUILLPACK_CORPUS_DIR")
                                                                         : ".cache/corpus");
    IDirect3D9* direct3D = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS parameters{};
    IDirect3DDevice9* device = nullptr;
    direct3D->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device);
    std::vector<std::string> images;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".png")
            images.push_back(entry.path().string());
    std::sort(images.begin(), images.end());

    const int kLevels = 6;
    double sums[2][kLevels] = {};
    int counts[kLevels] = {};
    for (const std::string& path : images) {
        std::u16string wide(path.begin(), path.end());
        IDirect3DTexture9* source = nullptr;
        if (FAILED(D3DXCreateTextureFromFileW(device, wide.c_str(), &source)))
            continue;
        for (std::size_t i = 3; i < source->levelSize(0); i += 4)
            source->levelBytes(0)[i] = 255;  // score as RGB
        UINT width = source->width(), height = source->height();
        std::vector<double> reference = toRgb(source);
        for (int way = 0; way < 2; ++way) {
            IDirect3DTexture9* chain = nullptr;
            device->CreateTexture(width, height, 0, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &chain, nullptr);
            IDirect3DSurface9 *from = nullptr, *to = nullptr;
            source->GetSurfaceLevel(0, &from);
            chain->GetSurfaceLevel(0, &to);
            D3DXLoadSurfaceFromSurface(to, nullptr, nullptr, from, nullptr, nullptr, D3DX_FILTER_NONE, 0);
            if (way == 1) {  // a lock lets go of the exact pixels: the chain then starts from the blocks
                D3DLOCKED_RECT locked;
                chain->LockRect(0, &locked, nullptr, 0);
                chain->UnlockRect(0);
            }
            D3DXFilterTexture(chain, nullptr, 0, D3DX_DEFAULT);
            std::vector<double> level = reference;
            UINT w = width, h = height;
            for (int l = 1; l < kLevels && l < int(chain->GetLevelCount()); ++l) {
                level = halve(level, w, h);
                w = w > 1 ? w / 2 : 1;
                h = h > 1 ? h / 2 : 1;
                std::vector<std::uint8_t> decoded(std::size_t(w) * h * 4);
                decompressImage(D3DFMT_DXT1, chain->levelBytes(l), w, h, decoded.data());
                sums[way][l] += psnr(level, decoded);
                if (way == 0)
                    ++counts[l];
            }
            from->Release();
            to->Release();
            chain->Release();
        }
        source->Release();
    }
    std::printf(
        "| level | from exact pixels (dB) | from decoded level 0 (dB) | images |\n|---|---|---|---|\n");
    for (int l = 1; l < kLevels; ++l)
        if (counts[l])
            std::printf("| %d | %.2f | %.2f | %d |\n", l, sums[0][l] / counts[l], sums[1][l] / counts[l],
                        counts[l]);
    device->Release();
    direct3D->Release();
    return 0;
}
