// Block compression quality on real textures: each corpus image goes RGBA -> DXT1 or DXT3 -> RGBA
// through D3DXLoadSurfaceFromSurface and must keep its measured RGB PSNR (floors sit about 0.1 dB
// under what libsquish's cluster fit gave) and each format's alpha rule exactly. The corpus is made
// by ../shared/bench/make_corpus.sh; the tests skip unless QUILLPACK_CORPUS_DIR names it.
#include <gtest/gtest.h>
#include <spng.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ImageService/BlockCodec.h"
#include "ImageService/D3DX.h"

namespace ImageService {
namespace {

struct Floor {
    const char* image;
    double dxt1;  // RGB PSNR over the pixels DXT1 keeps opaque (alpha >= 128)
    double dxt3;  // RGB PSNR over every pixel
};

constexpr Floor kFloors[] = {
    {"01_cb_factory", 45.45, 44.05},     {"02_cb_button1", 41.66, 40.61},
    {"03_cb_cloud03", 45.62, 45.58},     {"04_cb_desert5", 37.42, 37.42},
    {"05_cb_face01", 42.19, 42.18},      {"06_cb_planet_earth", 34.89, 35.42},
    {"07_cb_plant", 33.83, 33.56},       {"08_cb_effect03", 42.93, 51.91},
    {"09_oa_nebulae_ft", 40.36, 40.34},  {"10_oa_plasma1", 42.97, 42.97},
    {"11_oa_wood01", 31.50, 31.50},      {"12_oa_blocks15", 37.20, 37.20},
    {"13_oa_rusted", 37.29, 37.29},      {"14_oa_blue_banner", 44.83, 44.79},
    {"15_oa_nki_forest2", 39.35, 39.35}, {"16_oa_shiny3", 46.62, 46.62},
    {"17_oa_steel_bev", 38.11, 38.11},   {"18_oa_x_support", 34.67, 36.42},
    {"19_oa_leafs1", 38.65, 39.74},      {"20_oa_jump_pad02", 34.97, 35.60},
    {"21_oa_flame1", 41.88, 42.24},      {"22_oa_explosion05", 25.51, 31.44},
    {"23_gn_grid_d_2048", 40.18, 40.13}, {"24_gn_truchet_l_4096", 45.08, 45.01},
};

struct Releaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using Ref = std::unique_ptr<T, Releaser>;

// The image as RGBA8 in an A8B8G8R8 texture, whose bytes are in that order.
Ref<IDirect3DTexture9> loadPng(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return nullptr;
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(0), &spng_ctx_free);
    spng_ihdr ihdr{};
    std::size_t size = 0;
    if (spng_set_png_file(ctx.get(), file.get()) != 0 || spng_get_ihdr(ctx.get(), &ihdr) != 0 ||
        spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0) {
        return nullptr;
    }
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(IDirect3DTexture9::create(ihdr.width, ihdr.height, 1, 0, D3DFMT_A8B8G8R8, D3DPOOL_MANAGED,
                                         &texture))) {
        return nullptr;
    }
    Ref<IDirect3DTexture9> owned(texture);
    if (texture->levelSize(0) != size ||
        spng_decode_image(ctx.get(), texture->levelBytes(0), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) {
        return nullptr;
    }
    return owned;
}

Ref<IDirect3DTexture9> convertTo(IDirect3DTexture9* from, D3DFORMAT format) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(
        IDirect3DTexture9::create(from->width(), from->height(), 1, 0, format, D3DPOOL_MANAGED, &texture),
        D3D_OK);
    Ref<IDirect3DTexture9> to(texture);
    IDirect3DSurface9 *destination = nullptr, *source = nullptr;
    EXPECT_EQ(to->GetSurfaceLevel(0, &destination), D3D_OK);
    EXPECT_EQ(from->GetSurfaceLevel(0, &source), D3D_OK);
    EXPECT_EQ(D3DXLoadSurfaceFromSurface(destination, nullptr, nullptr, source, nullptr, nullptr,
                                         D3DX_FILTER_NONE, 0),
              D3D_OK);
    destination->Release();
    source->Release();
    return to;
}

struct Measured {
    double psnr = 0;
    std::size_t alphaFaults = 0;
};

// `dxt1` measures colour on the pixels that stay opaque and wants alpha 0 or 255 by the 128 threshold;
// otherwise colour counts everywhere and alpha must be the nearest of 16 steps.
Measured measure(const std::uint8_t* original, const std::uint8_t* decoded, std::size_t pixels, bool dxt1) {
    Measured result;
    double error = 0;
    std::size_t samples = 0;
    for (std::size_t i = 0; i < pixels * 4; i += 4) {
        const int alpha = original[i + 3];
        const int wanted = dxt1 ? (alpha < 128 ? 0 : 255) : 17 * ((alpha + 8) / 17);
        if (decoded[i + 3] != wanted)
            ++result.alphaFaults;
        if (dxt1 && alpha < 128)
            continue;
        for (int c = 0; c < 3; ++c) {
            const double d = double(original[i + c]) - decoded[i + c];
            error += d * d;
        }
        samples += 3;
    }
    result.psnr = samples == 0 || error == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * samples / error);
    return result;
}

TEST(BlockCodecCorpusTest, EveryImageKeepsItsQualityFloorAndAlphaRule) {
    const char* folder = std::getenv("QUILLPACK_CORPUS_DIR");
    if (!folder)
        GTEST_SKIP() << "QUILLPACK_CORPUS_DIR is not set";
    for (const Floor& floor : kFloors) {
        SCOPED_TRACE(floor.image);
        auto original = loadPng(std::string(folder) + "/" + floor.image + ".png");
        ASSERT_TRUE(original) << "unreadable corpus image";
        const std::size_t pixels = static_cast<std::size_t>(original->width()) * original->height();
        for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT3}) {
            // The blocks themselves are scored: converting the level back would hand out the exact
            // pixels it keeps beside them.
            auto blocks = convertTo(original.get(), format);
            std::vector<std::uint8_t> decoded(pixels * 4);
            ASSERT_TRUE(decompressImage(format, blocks->levelBytes(0), original->width(), original->height(),
                                        decoded.data()));
            Measured m = measure(original->levelBytes(0), decoded.data(), pixels, format == D3DFMT_DXT1);
            EXPECT_GE(m.psnr, format == D3DFMT_DXT1 ? floor.dxt1 : floor.dxt3)
                << (format == D3DFMT_DXT1 ? "DXT1" : "DXT3");
            EXPECT_EQ(m.alphaFaults, 0u) << (format == D3DFMT_DXT1 ? "DXT1" : "DXT3");
        }
    }
}

}  // namespace
}  // namespace ImageService
