// The colour quantiser on real textures (the corpus made by scripts/make-corpus; skipped unless
// QUILLPACK_CORPUS_DIR names it). Each image of more than 256 colours must keep its PSNR floor (what
// the quantiser gives, less 0.05 dB): RGB with alpha made opaque, as bench/run scores it against
// pngquant, and over all four channels with its own alpha when it has one. Under the sanitizers only
// the images of up to 512 x 512 pixels run, to stay far from the test's time limit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ImageService/Quantise/Quantise.h"
#include "support/ImageFiles.h"
#include "support/Quantised.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct Floor {
    const char* image;
    double opaque;       // RGB PSNR, alpha made opaque first
    double translucent;  // B, G, R, A PSNR with the image's alpha; 0: the image is opaque
};

// 16_oa_shiny3 (23 colours) and 17_oa_steel_bev (194) are left as they are: another test's concern.
constexpr Floor kFloors[] = {
    {"01_cb_factory", 55.04, 0},     {"02_cb_button1", 48.67, 0},
    {"03_cb_cloud03", 48.43, 0},     {"04_cb_desert5", 49.80, 0},
    {"05_cb_face01", 51.56, 0},      {"06_cb_planet_earth", 45.24, 45.53},
    {"07_cb_plant", 49.15, 50.37},   {"08_cb_effect03", 61.05, 62.25},
    {"09_oa_nebulae_ft", 45.64, 0},  {"10_oa_plasma1", 48.94, 0},
    {"11_oa_wood01", 38.89, 0},      {"12_oa_blocks15", 46.34, 0},
    {"13_oa_rusted", 48.17, 0},      {"14_oa_blue_banner", 55.48, 0},
    {"15_oa_nki_forest2", 39.92, 0}, {"18_oa_x_support", 47.20, 45.94},
    {"19_oa_leafs1", 48.76, 49.38},  {"20_oa_jump_pad02", 58.59, 49.26},
    {"21_oa_flame1", 56.14, 50.28},  {"22_oa_explosion05", 52.93, 46.97},
    {"23_gn_grid_d_2048", 44.85, 0}, {"24_gn_truchet_l_4096", 40.30, 0},
};

Bgra toBgra(const Rgba& image, bool opaque) {
    Bgra bgra(image.width, image.height);
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        bgra.bytes[i] = image.pixels[i + 2];
        bgra.bytes[i + 1] = image.pixels[i + 1];
        bgra.bytes[i + 2] = image.pixels[i];
        bgra.bytes[i + 3] = opaque ? 255 : image.pixels[i + 3];
    }
    return bgra;
}

// The reduced image's PSNR, after checking that it holds a palette's worth of colours.
double reducedPsnr(const Bgra& original, bool withAlpha) {
    Bgra reduced = original;
    EXPECT_TRUE(ImageService::Quantise::reduceColours(reduced.data(), reduced.width, reduced.height, {}));
    EXPECT_LE(distinctColours(reduced), 256u);
    return psnr(original, reduced, withAlpha);
}

TEST(QuantiseCorpusTest, EveryImageKeepsItsFloor) {
    const char* folder = std::getenv("QUILLPACK_CORPUS_DIR");
    if (!folder)
        GTEST_SKIP() << "QUILLPACK_CORPUS_DIR is not set";
    for (const Floor& floor : kFloors) {
        SCOPED_TRACE(floor.image);
        const Rgba image = readPng(std::string(folder) + "/" + floor.image + ".png");
        ASSERT_FALSE(image.pixels.empty()) << "unreadable corpus image";
        if (kSanitized && std::size_t(image.width) * image.height > 512 * 512)
            continue;
        const double opaque = reducedPsnr(toBgra(image, true), false);
        EXPECT_GE(opaque, floor.opaque);
        std::printf("%-24s RGB %.3f dB", floor.image, opaque);
        if (floor.translucent > 0) {
            const double translucent = reducedPsnr(toBgra(image, false), true);
            EXPECT_GE(translucent, floor.translucent);
            std::printf("  with alpha %.3f dB", translucent);
        }
        std::printf("\n");
    }
}

}  // namespace
