// Block compression on real textures (the corpus made by scripts/make-corpus; skipped
// unless QUILLPACK_CORPUS_DIR names it). Each image goes RGBA -> DXT1 and DXT3 through
// D3DXLoadSurfaceFromSurface and must keep its RGB PSNR floor (what our encoder gives, less 0.01 dB)
// and each format's alpha rule exactly. In the same run our encoder is compared with libsquish's: per
// image it may trail by at most 0.05 dB, DXT1 scored with alpha forced opaque and DXT3 on the images
// with alpha; the DXT1 mean must reach 40.55 dB (libsquish: 40.20). Under the sanitizers the images of
// at most 256 x 256 pixels are checked, without the corpus means.
#include <gtest/gtest.h>
#include <squish.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ImageService/D3DX/BlockCodec.h"
#include "support/Sanitizers.h"
#include "support/Textures.h"

namespace ImageService {
namespace {

struct Floor {
    const char* image;
    double dxt1;  // RGB PSNR over the pixels DXT1 keeps opaque (alpha >= 128)
    double dxt3;  // RGB PSNR over every pixel
};

constexpr Floor kFloors[] = {
    {"01_cb_factory", 45.72, 44.28},     {"02_cb_button1", 42.05, 40.98},
    {"03_cb_cloud03", 48.38, 48.27},     {"04_cb_desert5", 37.59, 37.59},
    {"05_cb_face01", 42.69, 42.70},      {"06_cb_planet_earth", 35.02, 35.58},
    {"07_cb_plant", 34.05, 33.91},       {"08_cb_effect03", 43.12, 52.10},
    {"09_oa_nebulae_ft", 40.71, 40.69},  {"10_oa_plasma1", 43.28, 43.29},
    {"11_oa_wood01", 31.62, 31.62},      {"12_oa_blocks15", 37.44, 37.44},
    {"13_oa_rusted", 37.52, 37.52},      {"14_oa_blue_banner", 45.29, 45.28},
    {"15_oa_nki_forest2", 39.62, 39.63}, {"16_oa_shiny3", 47.69, 47.69},
    {"17_oa_steel_bev", 38.37, 38.37},   {"18_oa_x_support", 34.88, 36.62},
    {"19_oa_leafs1", 38.87, 40.55},      {"20_oa_jump_pad02", 35.11, 35.75},
    {"21_oa_flame1", 42.11, 42.49},      {"22_oa_explosion05", 25.62, 31.56},
    {"23_gn_grid_d_2048", 40.56, 40.51}, {"24_gn_truchet_l_4096", 45.77, 45.68},
};

Rgba decode(D3DFORMAT format, const std::uint8_t* blocks, const Rgba& like) {
    Rgba decoded{like.width, like.height, std::vector<std::uint8_t>(like.pixels.size())};
    squish::DecompressImage(decoded.pixels.data(), int(like.width), int(like.height), blocks,
                            format == D3DFMT_DXT1 ? squish::kDxt1 : squish::kDxt3);
    return decoded;
}

// Pixels whose alpha is not what the format must give: 0 or 255 by the 128 threshold for DXT1, the
// nearest of 16 steps for DXT3.
std::size_t alphaFaults(D3DFORMAT format, const Rgba& original, const Rgba& decoded) {
    std::size_t faults = 0;
    for (std::size_t i = 3; i < original.pixels.size(); i += 4) {
        const int alpha = original.pixels[i];
        faults +=
            decoded.pixels[i] != (format == D3DFMT_DXT1 ? (alpha < 128 ? 0 : 255) : 17 * ((alpha + 8) / 17));
    }
    return faults;
}

double encodedPsnr(D3DFORMAT format, const Rgba& image, BlockEncoder encoder) {
    std::vector<std::uint8_t> blocks(*levelByteSize(format, image.width, image.height));
    useBlockEncoder(encoder);
    compressImage(format, image.pixels.data(), image.width, image.height, blocks.data());
    useBlockEncoder(BlockEncoder::Quillpack);
    return psnr(image, decode(format, blocks.data(), image));
}

TEST(BlockCodecCorpusTest, EveryImageKeepsItsFloorAlphaRuleAndLibsquishsQuality) {
    const char* folder = std::getenv("QUILLPACK_CORPUS_DIR");
    if (!folder)
        GTEST_SKIP() << "QUILLPACK_CORPUS_DIR is not set";
    double sumOurs = 0, sumTheirs = 0;
    for (const Floor& floor : kFloors) {
        SCOPED_TRACE(floor.image);
        const Rgba image = readPng(std::string(folder) + "/" + floor.image + ".png");
        ASSERT_FALSE(image.pixels.empty()) << "unreadable corpus image";
        if (!sampledUnderSanitizers(image.width, image.height))
            continue;
        TextureRef original = makeTexture(image.width, image.height, D3DFMT_A8B8G8R8);
        std::copy(image.pixels.begin(), image.pixels.end(), original->levelBytes(0));
        bool hasAlpha = false;
        for (std::size_t i = 3; i < image.pixels.size(); i += 4)
            hasAlpha |= image.pixels[i] != 255;
        for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT3}) {
            const char* name = format == D3DFMT_DXT1 ? "DXT1" : "DXT3";
            // The blocks themselves are scored: converting the level back would hand out the exact
            // pixels it keeps beside them.
            TextureRef blocks = makeTexture(image.width, image.height, format);
            ASSERT_EQ(convert(blocks.get(), original.get()), D3D_OK);
            const Rgba decoded = decode(format, blocks->levelBytes(0), image);
            EXPECT_GE(psnr(image, decoded, false, format == D3DFMT_DXT1),
                      format == D3DFMT_DXT1 ? floor.dxt1 : floor.dxt3)
                << name;
            EXPECT_EQ(alphaFaults(format, image, decoded), 0u) << name;
        }
        if (hasAlpha) {
            const double ours = encodedPsnr(D3DFMT_DXT3, image, BlockEncoder::Quillpack);
            const double theirs = encodedPsnr(D3DFMT_DXT3, image, BlockEncoder::Squish);
            EXPECT_GE(ours, theirs - 0.05) << "DXT3";
            std::printf("%-24s DXT3 ours %.3f dB  libsquish %.3f dB\n", floor.image, ours, theirs);
        }
        Rgba opaque = image;
        for (std::size_t i = 3; i < opaque.pixels.size(); i += 4)
            opaque.pixels[i] = 255;
        const double ours = encodedPsnr(D3DFMT_DXT1, opaque, BlockEncoder::Quillpack);
        const double theirs = encodedPsnr(D3DFMT_DXT1, opaque, BlockEncoder::Squish);
        EXPECT_GE(ours, theirs - 0.05) << "DXT1";
        std::printf("%-24s DXT1 ours %.3f dB  libsquish %.3f dB\n", floor.image, ours, theirs);
        sumOurs += ours;
        sumTheirs += theirs;
    }
    if (kUnderSanitizers)
        return;  // the means are the whole corpus's
    const double images = sizeof kFloors / sizeof kFloors[0];
    std::printf("DXT1 mean: ours %.3f dB  libsquish %.3f dB\n", sumOurs / images, sumTheirs / images);
    EXPECT_GE(sumOurs / images, 40.55);
    EXPECT_GE(sumOurs, sumTheirs);
}

}  // namespace
}  // namespace ImageService
