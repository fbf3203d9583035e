// Resizing through the conversion: answers known by hand (linear-light means, alpha that lends no
// colour), agreement with a plain double-precision Lanczos-3, what must not change (same size,
// constant images, mirrored images, thread counts), extreme ratios, and each refusal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ImageService/D3DX/LinearLight.h"
#include "ImageService/D3DX/Resample.h"
#include "support/Textures.h"

namespace ImageService {
namespace {

class ResampleTest : public LeakCheckedTest {};

// sRGB by the textbook formula, in double, independently of the service's own tables.
double toLinear(int code) {
    const double c = code / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
int toCode(double linear) {
    linear = std::clamp(linear, 0.0, 1.0);
    const double coded = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return static_cast<int>(std::floor(coded * 255.0 + 0.5));
}

Rgba randomImage(UINT width, UINT height, bool withAlpha, unsigned seed) {
    std::mt19937 random(seed);
    Rgba image{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = (i % 4 == 3 && !withAlpha) ? 255 : static_cast<std::uint8_t>(random() & 0xFF);
    return image;
}

// A texture of `format` holding `image` (through the conversion when the format is not A8B8G8R8).
TextureRef textureOf(const Rgba& image, D3DFORMAT format = D3DFMT_A8B8G8R8) {
    TextureRef plain = makeTexture(image.width, image.height, D3DFMT_A8B8G8R8);
    std::memcpy(plain->levelBytes(0), image.pixels.data(), image.pixels.size());
    if (format == D3DFMT_A8B8G8R8)
        return plain;
    TextureRef held = makeTexture(image.width, image.height, format);
    EXPECT_EQ(convert(held.get(), plain.get()), D3D_OK);
    return held;
}

// `source` resized to width x height through D3DXLoadSurfaceFromSurface, read back as RGBA.
Rgba resized(IDirect3DTexture9* source, UINT width, UINT height, D3DFORMAT format = D3DFMT_A8B8G8R8,
             DWORD filter = D3DX_FILTER_TRIANGLE) {
    TextureRef destination = makeTexture(width, height, format);
    EXPECT_EQ(convert(destination.get(), source, filter), D3D_OK) << width << "x" << height;
    return rgbaOf(destination.get());
}

Rgba mirrored(const Rgba& image, bool across) {
    Rgba out = image;
    for (UINT y = 0; y < image.height; ++y) {
        for (UINT x = 0; x < image.width; ++x) {
            const UINT fromX = across ? image.width - 1 - x : x, fromY = across ? y : image.height - 1 - y;
            std::memcpy(out.at(x, y), &image.pixels[(std::size_t(fromY) * image.width + fromX) * 4], 4);
        }
    }
    return out;
}

// Lanczos-3 weights of one axis as the textbook states them (centres at (i + 1/2) n / m - 1/2, the
// kernel widened by the ratio when shrinking, taps beyond the edge on the edge pixel), in double.
std::vector<std::vector<double>> referenceWeights(UINT n, UINT m) {
    const double pi = 3.14159265358979323846;
    auto sinc = [&](double x) { return x == 0 ? 1.0 : std::sin(pi * x) / (pi * x); };
    const double ratio = double(n) / m, widen = std::max(1.0, ratio);
    std::vector<std::vector<double>> table(m, std::vector<double>(n, 0.0));
    for (UINT i = 0; i < m; ++i) {
        const double centre = (i + 0.5) * ratio - 0.5;
        double total = 0;
        for (long j = long(std::floor(centre - 3 * widen)); j <= long(std::ceil(centre + 3 * widen)); ++j) {
            const double x = (j - centre) / widen;
            const double weight = std::abs(x) < 3 ? sinc(x) * sinc(x / 3) : 0.0;
            table[i][std::clamp<long>(j, 0, long(n) - 1)] += weight;
            total += weight;
        }
        for (double& weight : table[i])
            weight /= total;
    }
    return table;
}

// An opaque image resized by the reference: separable, in linear light, in double.
Rgba referenceResize(const Rgba& image, UINT width, UINT height) {
    const auto across = referenceWeights(image.width, width), down = referenceWeights(image.height, height);
    Rgba out{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    for (UINT y = 0; y < height; ++y) {
        for (UINT x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (UINT j = 0; j < image.height; ++j) {
                    for (UINT i = 0; i < image.width; ++i)
                        sum += down[y][j] * across[x][i] *
                               toLinear(image.pixels[(std::size_t(j) * image.width + i) * 4 + c]);
                }
                out.at(x, y)[c] = static_cast<std::uint8_t>(toCode(sum));
            }
            out.at(x, y)[3] = 255;
        }
    }
    return out;
}

int largestDifference(const Rgba& a, const Rgba& b) {
    int most = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i)
        most = std::max(most, std::abs(int(a.pixels[i]) - int(b.pixels[i])));
    return most;
}

TEST_F(ResampleTest, NearestPowerOfTwoByValueTiesUpCappedAtTheLargestSide) {
    const std::pair<UINT, UINT> cases[] = {
        {0, 1},        {1, 1},         {2, 2},         {3, 4},         {5, 4},         {6, 8},
        {192, 256},    {200, 256},     {300, 256},     {383, 256},     {384, 512},     {1000, 1024},
        {12287, 8192}, {12288, 16384}, {16384, 16384}, {16385, 16384}, {20000, 16384}, {0xFFFFFFFFu, 16384},
    };
    for (const auto& [side, expected] : cases)
        EXPECT_EQ(nearestPowerOfTwo(side), expected) << side;
}

TEST_F(ResampleTest, LinearLightCodesBackToTheNearestCode) {
    const LinearLight& light = linearLight();
    for (int code = 0; code < 256; ++code) {
        EXPECT_NEAR(light.fromCode(static_cast<std::uint8_t>(code)), toLinear(code), 1e-7) << code;
        EXPECT_EQ(light.toCode(light.fromCode(static_cast<std::uint8_t>(code))), code);
    }
    // Values on a fine grid, each against the textbook curve, except the few within float rounding of
    // a half-way point.
    for (int step = -10; step <= 1000010; ++step) {
        const float value = step / 1e6f;
        const double linear = std::clamp(double(value), 0.0, 1.0);
        const double coded =
            (linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055);
        if (std::abs(coded * 255.0 - std::floor(coded * 255.0) - 0.5) < 1e-4)
            continue;
        ASSERT_EQ(light.toCode(value), toCode(linear)) << value;
    }
    EXPECT_EQ(light.toCode(std::nanf("")), 0);
}

TEST_F(ResampleTest, TheSameSizeGivesTheSamePixelsFromEveryFormat) {
    // Straight through the filter (the conversion would copy a same-size level without it).
    const Rgba image = randomImage(13, 9, true, 1);
    for (D3DFORMAT format : {D3DFMT_A8B8G8R8, D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8, D3DFMT_DXT1,
                             D3DFMT_DXT3, D3DFMT_DXT5}) {
        TextureRef source = textureOf(image, format);
        if (format == D3DFMT_DXT1 || format == D3DFMT_DXT3 || format == D3DFMT_DXT5)
            source->markWritten(0);  // read the blocks themselves, not the pixels they came from
        const Rgba expected = rgbaOf(source.get());
        TextureRef destination = makeTexture(13, 9, D3DFMT_A8B8G8R8);
        ASSERT_EQ(resampleLevel(*source, 0, *destination, 0), D3D_OK);
        EXPECT_EQ(bytesOf(destination.get()), expected.pixels) << format;
    }
}

TEST_F(ResampleTest, ConstantImagesStayConstantThroughEveryPath) {
    struct Case {
        D3DFORMAT from, to;
        std::uint8_t rgba[4];
        UINT width, height, toWidth, toHeight;
    };
    // 0x84 0x28 0xF7 survives 5:6:5 exactly, and DXT3 keeps alpha 0x99 exactly; a fully transparent
    // image keeps its colour.
    const Case cases[] = {
        {D3DFMT_A8B8G8R8, D3DFMT_A8B8G8R8, {0x84, 0x28, 0xF7, 0x99}, 7, 5, 16, 16},
        {D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, {0x84, 0x28, 0xF7, 0x99}, 300, 200, 256, 256},
        {D3DFMT_A8R8G8B8, D3DFMT_A8B8G8R8, {10, 200, 30, 0}, 45, 33, 8, 64},
        {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, {1, 2, 3, 255}, 9, 9, 2, 1},
        {D3DFMT_R8G8B8, D3DFMT_X8R8G8B8, {250, 128, 0, 255}, 3, 17, 16, 4},
        {D3DFMT_DXT1, D3DFMT_A8R8G8B8, {0x84, 0x28, 0xF7, 255}, 12, 20, 32, 8},
        {D3DFMT_DXT3, D3DFMT_A8B8G8R8, {0x84, 0x28, 0xF7, 0x99}, 6, 7, 4, 16},
        {D3DFMT_DXT5, D3DFMT_A8R8G8B8, {0x84, 0x28, 0xF7, 255}, 21, 5, 1, 1},
        {D3DFMT_A8R8G8B8, D3DFMT_DXT1, {0x84, 0x28, 0xF7, 255}, 30, 30, 16, 64},
        {D3DFMT_A8R8G8B8, D3DFMT_DXT3, {0x84, 0x28, 0xF7, 0x99}, 5, 3, 8, 8},
    };
    for (const Case& c : cases) {
        const Rgba image = Rgba::filled(c.width, c.height, c.rgba[0], c.rgba[1], c.rgba[2], c.rgba[3]);
        TextureRef source = textureOf(image, c.from);
        source->markWritten(0);
        const Rgba out = resized(source.get(), c.toWidth, c.toHeight, c.to);
        const Rgba expected = Rgba::filled(c.toWidth, c.toHeight, c.rgba[0], c.rgba[1], c.rgba[2], c.rgba[3]);
        EXPECT_EQ(out.pixels, expected.pixels) << c.from << " to " << c.to << ", " << c.width << "x"
                                               << c.height << " to " << c.toWidth << "x" << c.toHeight;
    }
}

TEST_F(ResampleTest, ACheckerShrunkToOnePixelIsItsLinearLightMean) {
    struct Case {
        std::uint8_t pixels[16];  // 2x2, R G B A each
    };
    const Case cases[] = {
        {{0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0, 0, 0, 255}},  // grey 188, not 128
        {{255, 0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 255, 255, 0, 0, 255}},
        {{30, 60, 90, 255, 200, 150, 100, 255, 100, 150, 200, 255, 90, 60, 30, 255}},
        // Partly transparent: colour weighted by alpha, alpha averaged as it is.
        {{255, 0, 0, 255, 0, 255, 0, 51, 0, 0, 255, 102, 255, 255, 255, 0}},
    };
    for (const Case& c : cases) {
        Rgba image{2, 2, std::vector<std::uint8_t>(c.pixels, c.pixels + 16)};
        TextureRef source = textureOf(image);
        const Rgba out = resized(source.get(), 1, 1);
        double alphaSum = 0;
        for (int p = 0; p < 4; ++p)
            alphaSum += c.pixels[p * 4 + 3];
        for (int channel = 0; channel < 3; ++channel) {
            double light = 0;
            for (int p = 0; p < 4; ++p)
                light += toLinear(c.pixels[p * 4 + channel]) * c.pixels[p * 4 + 3];
            EXPECT_EQ(out.pixels[channel], toCode(light / alphaSum)) << "channel " << channel;
        }
        EXPECT_EQ(out.pixels[3], static_cast<int>(std::floor(alphaSum / 4 + 0.5)));
    }
}

TEST_F(ResampleTest, TransparentPixelsLendNoColour) {
    // An opaque red pixel beside a clear green one: half as opaque, and still pure red.
    Rgba pair{2, 1, {255, 0, 0, 255, 0, 255, 0, 0}};
    TextureRef source = textureOf(pair);
    EXPECT_EQ(resized(source.get(), 1, 1).pixels, std::vector<std::uint8_t>({255, 0, 0, 128}));

    // Red on the left half, clear green on the right, at ratios down, up and neither.
    Rgba halves = Rgba::filled(24, 6, 0, 255, 0, 0);
    for (UINT y = 0; y < 6; ++y) {
        for (UINT x = 0; x < 12; ++x)
            std::memcpy(halves.at(x, y), "\xFF\x00\x00\xFF", 4);
    }
    TextureRef split = textureOf(halves);
    for (UINT width : {5u, 16u, 24u, 64u}) {
        const Rgba out = resized(split.get(), width, 4);
        for (UINT x = 0; x < width; ++x) {
            const std::vector<std::uint8_t> colour(&out.pixels[x * 4], &out.pixels[x * 4 + 3]);
            // Clear pixels too are one colour or the other: clear beside the edge's ringing (where
            // the filter's sum of alpha goes below 0) they take the source pixel under them.
            const std::vector<std::uint8_t> red{255, 0, 0}, green{0, 255, 0};
            if (out.pixels[x * 4 + 3] != 0)
                EXPECT_EQ(colour, red) << width << " at " << x;
            else
                EXPECT_TRUE(colour == red || colour == green) << width << " at " << x;
        }
        // Where the edge is out of the filter's reach (not at 5, whose filter spans 29 pixels), the
        // ends stay as they were: clear pixels keep their own colour.
        if (width < 16)
            continue;
        EXPECT_EQ(std::vector<std::uint8_t>(&out.pixels[(width - 1) * 4], &out.pixels[width * 4]),
                  std::vector<std::uint8_t>({0, 255, 0, 0}))
            << width;
        EXPECT_EQ(out.pixels[3], 255) << width;
    }
}

TEST_F(ResampleTest, AgreesWithADoublePrecisionLanczosWithinOneStep) {
    const struct {
        UINT width, height, toWidth, toHeight;
    } cases[] = {{13, 7, 32, 16}, {40, 30, 16, 8}, {30, 20, 32, 16}, {9, 50, 4, 64}, {64, 3, 5, 2}};
    unsigned seed = 10;
    for (const auto& c : cases) {
        const Rgba image = randomImage(c.width, c.height, false, seed++);
        TextureRef source = textureOf(image);
        const Rgba out = resized(source.get(), c.toWidth, c.toHeight);
        EXPECT_LE(largestDifference(out, referenceResize(image, c.toWidth, c.toHeight)), 1)
            << c.width << "x" << c.height << " to " << c.toWidth << "x" << c.toHeight;
    }
}

TEST_F(ResampleTest, MirroredImagesGiveMirroredResults) {
    const Rgba image = randomImage(37, 23, true, 3);
    for (bool across : {true, false}) {
        TextureRef source = textureOf(image), flipped = textureOf(mirrored(image, across));
        for (auto [width, height] : {std::pair<UINT, UINT>{16, 32}, {64, 8}, {37, 23}, {3, 1}}) {
            EXPECT_EQ(resized(flipped.get(), width, height).pixels,
                      mirrored(resized(source.get(), width, height), across).pixels)
                << (across ? "across " : "down ") << width << "x" << height;
        }
    }
}

TEST_F(ResampleTest, EveryThreadCountGivesTheSameBytes) {
    // Enough destination rows for many bands, so the threads split them differently on every run.
    const Rgba image = randomImage(300, 200, true, 4);
    for (D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_DXT3}) {
        TextureRef source = textureOf(image, format);
        source->markWritten(0);
        std::vector<std::uint8_t> first;
        for (unsigned threads : {1u, 2u, 0u, 3u}) {
            TextureRef destination = makeTexture(256, 256, D3DFMT_A8R8G8B8);
            ASSERT_EQ(resampleLevel(*source, 0, *destination, 0, threads), D3D_OK);
            if (first.empty())
                first = bytesOf(destination.get());
            EXPECT_EQ(bytesOf(destination.get()), first) << format << " on " << threads << " threads";
        }
    }
}

TEST_F(ResampleTest, TheBytesAreTheSameOnEveryCompilerAndSystem) {
    // Digests of results from the Linux build (g++ and clang alike); the Windows build, run by the
    // same tests, must match them. Alpha images, a block source, and a filter wider than the rows
    // kept in linear light (16x400 down to 5x5).
    const struct {
        UINT width, height, toWidth, toHeight;
        D3DFORMAT format;
        std::uint64_t digest;
    } cases[] = {
        {300, 200, 256, 256, D3DFMT_A8B8G8R8, 14884340882264638490u},
        {37, 23, 64, 8, D3DFMT_A8B8G8R8, 12305095225351749764u},
        {16, 400, 5, 5, D3DFMT_A8B8G8R8, 1503124682642211428u},
        {100, 1, 2048, 1, D3DFMT_A8B8G8R8, 11288786898427984223u},
        {64, 48, 24, 96, D3DFMT_DXT1, 4666364914106840093u},
    };
    unsigned seed = 20;
    for (const auto& c : cases) {
        TextureRef source = textureOf(randomImage(c.width, c.height, true, seed++), c.format);
        source->markWritten(0);
        const Rgba out = resized(source.get(), c.toWidth, c.toHeight);
        std::uint64_t digest = 14695981039346656037u;  // FNV-1a
        for (std::uint8_t byte : out.pixels)
            digest = (digest ^ byte) * 1099511628211u;
        EXPECT_EQ(digest, c.digest) << c.width << "x" << c.height << " to " << c.toWidth << "x" << c.toHeight;
    }
}

TEST_F(ResampleTest, ExtremeRatiosWork) {
    // Alternate black and white columns (or rows) of the largest side down to one pixel: grey 188.
    for (bool wide : {true, false}) {
        Rgba stripes = Rgba::filled(wide ? 16384 : 1, wide ? 1 : 16384, 0, 0, 0);
        for (UINT i = 0; i < 16384; i += 2)
            std::memset(stripes.pixels.data() + std::size_t(i) * 4, 255, 3);
        TextureRef source = textureOf(stripes);
        EXPECT_EQ(resized(source.get(), 1, 1).pixels, std::vector<std::uint8_t>({188, 188, 188, 255}));
        const Rgba back = resized(source.get(), wide ? 16384 : 16, wide ? 16 : 16384);
        EXPECT_EQ(back.pixels[0], 255);
        EXPECT_EQ(back.pixels[4 * (wide ? 1 : 16)], 0);
    }
    // One pixel up to 16 on a side, and a two-pixel edge up to 16: the ends keep their colours.
    TextureRef dot = textureOf(Rgba::filled(1, 1, 9, 99, 199, 77));
    EXPECT_EQ(resized(dot.get(), 16, 16).pixels, Rgba::filled(16, 16, 9, 99, 199, 77).pixels);
    TextureRef edge = textureOf(Rgba{2, 1, {0, 0, 0, 255, 255, 255, 255, 255}});
    const Rgba line = resized(edge.get(), 16, 1);
    EXPECT_EQ(line.pixels[0], 0);
    EXPECT_EQ(line.pixels[60], 255);
}

TEST_F(ResampleTest, RefusesWhatItCannotDoAndLeavesTheDestination) {
    TextureRef source = textureOf(randomImage(8, 8, true, 5));
    TextureRef destination = makeTexture(4, 4, D3DFMT_A8R8G8B8);
    IDirect3DSurface9 *to = nullptr, *from = nullptr;
    destination->GetSurfaceLevel(0, &to);
    source->GetSurfaceLevel(0, &from);
    Ref<IDirect3DSurface9> ownTo(to), ownFrom(from);
    auto load = [&](const RECT* toRect, const RECT* fromRect, DWORD filter, DWORD colorKey) {
        return D3DXLoadSurfaceFromSurface(to, nullptr, toRect, from, nullptr, fromRect, filter, colorKey);
    };
    // Only a resampling filter resizes, only whole levels, and without a colour key.
    const RECT top{0, 0, 8, 4}, whole{0, 0, 8, 8};
    EXPECT_EQ(load(nullptr, nullptr, D3DX_FILTER_NONE, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(load(nullptr, nullptr, D3DX_FILTER_BOX, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(load(nullptr, &top, D3DX_FILTER_TRIANGLE, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(load(nullptr, nullptr, D3DX_FILTER_TRIANGLE, 0xFF000000), D3DERR_INVALIDCALL);
    D3DLOCKED_RECT locked;
    for (IDirect3DTexture9* side : {source.get(), destination.get()}) {
        ASSERT_EQ(side->LockRect(0, &locked, nullptr, 0), D3D_OK);
        EXPECT_EQ(load(nullptr, nullptr, D3DX_FILTER_TRIANGLE, 0), D3DERR_INVALIDCALL);
        side->UnlockRect(0);
    }
    TestSeams::injectFault(Operation::LoadSurfaceFromSurface, E_OUTOFMEMORY);
    EXPECT_EQ(load(nullptr, nullptr, D3DX_FILTER_TRIANGLE, 0), E_OUTOFMEMORY);
    // A level cannot be its own source.
    TextureRef chain = makeTexture(8, 8, D3DFMT_A8R8G8B8, 2);
    EXPECT_EQ(resampleLevel(*chain, 0, *chain, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(bytesOf(destination.get()), std::vector<std::uint8_t>(64, 0));
    // A whole-level rectangle and D3DX_DEFAULT resize as the triangle filter does.
    EXPECT_EQ(load(nullptr, &whole, D3DX_DEFAULT, 0), D3D_OK);
    const std::vector<std::uint8_t> byDefault = bytesOf(destination.get());
    EXPECT_EQ(load(nullptr, nullptr, D3DX_FILTER_TRIANGLE, 0), D3D_OK);
    EXPECT_EQ(bytesOf(destination.get()), byDefault);
    EXPECT_EQ(resampleLevel(*chain, 0, *chain, 1), D3D_OK);  // another level of the same texture
}

}  // namespace
}  // namespace ImageService
