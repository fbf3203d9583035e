// The colour quantiser on made images: what must stay untouched, what 257 colours must give, alpha's
// part, error diffusion, refusals, and results that depend on nothing but the pixels (thread count,
// platform). Real textures are in QuantiseCorpusTest.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "ImageService/Quantise/Quantise.h"
#include "Platform/FailureReason.h"
#include "Platform/FaultSeam.h"
#include "support/Quantised.h"

namespace {

using ImageService::Quantise::Options;
using ImageService::Quantise::reduceColours;

Options withThreads(unsigned threads, bool dither = false) {
    Options options;
    options.dither = dither;
    options.threads = threads;
    return options;
}

// A small deterministic generator, so that "noise" is the same image everywhere.
struct Noise {
    std::uint32_t state;
    int next(int range) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 16) % static_cast<std::uint32_t>(range));
    }
};

// Smooth colour gradients with a little noise: thousands of colours, as in a photo.
Bgra gradient(std::uint32_t width, std::uint32_t height, int noise, bool translucent) {
    Noise random{width * 31 + height};
    Bgra image(width, height);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const int b = int(x * 255 / std::max(1u, width - 1));
            const int g = int(y * 255 / std::max(1u, height - 1));
            const int r = int(128 + 100 * std::sin((x + 2.0 * y) * 0.05));
            const int a = translucent ? int((x + y) * 255 / std::max(1u, width + height - 2)) : 255;
            image.set(x, y, {b + random.next(noise + 1), g + random.next(noise + 1), r, a});
        }
    }
    return image;
}

// More colours than the quantiser counts exactly (2^18), so it groups them: a gradient whose every
// channel has three bits of noise.
Bgra groupedColours() {
    Noise random{7};
    Bgra image(512, 576);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        for (std::uint32_t x = 0; x < image.width; ++x) {
            image.set(x, y,
                      {int(x / 2) + random.next(8), int(y / 4) + random.next(8),
                       int((x + y) / 6) + random.next(8), 248 + random.next(8)});
        }
    }
    return image;
}

TEST(QuantiseTest, ImagesOfAtMost256ColoursAreLeftByteForByte) {
    struct Case {
        const char* name;
        std::function<Bgra()> make;
    };
    const Case cases[] = {
        {"1x1",
         [] {
             return Bgra::filled(1, 1, {1, 2, 3, 4});
         }},
        {"one colour",
         [] {
             return Bgra::filled(7, 3, {200, 10, 0, 255});
         }},
        {"256 colours, alpha among the differences",
         [] {
             Bgra image(32, 32);
             for (std::uint32_t p = 0; p < 32 * 32; ++p)
                 image.set(p % 32, p / 32, {int(p % 256), 7, int(p % 16), int(255 - p % 256 / 16)});
             return image;
         }},
        {"256 colours that differ only in alpha",
         [] {
             Bgra image(256, 2);
             for (std::uint32_t x = 0; x < 256; ++x)
                 image.set(x, 0, {9, 9, 9, int(x)}), image.set(x, 1, {9, 9, 9, int(255 - x)});
             return image;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bgra image = c.make();
        const Bgra before = image;
        EXPECT_TRUE(reduceColours(image.data(), image.width, image.height, Options{}));
        EXPECT_TRUE(image.bytes == before.bytes);
    }
    // No pixels: nothing is read.
    EXPECT_TRUE(reduceColours(nullptr, 0, 5, Options{}));
    EXPECT_TRUE(reduceColours(nullptr, 5, 0, Options{}));
}

TEST(QuantiseTest, TwoHundredFiftySevenColoursMergeOnlyTheNearestPair) {
    // 256 colours far apart, three pixels of the first and one of a colour 1 step of blue from it:
    // merging that pair costs 1, anything else far more, and the entry of least error is the first.
    Bgra image(16, 17);
    for (std::uint32_t p = 0; p < 256; ++p)
        image.set(p % 16, p / 16, {int(p % 16 * 17), int(p / 16 * 17), int((p * 5) % 256), 255});
    const Colour first = image.get(0, 0), neighbour{first[0] + 1, first[1], first[2], first[3]};
    for (std::uint32_t x = 0; x < 16; ++x)
        image.set(x, 16, x < 3 ? first : x == 3 ? neighbour : image.get(x, 0));
    ASSERT_EQ(distinctColours(image), 257u);
    Bgra expected = image;
    expected.set(3, 16, first);
    ASSERT_TRUE(reduceColours(image.data(), image.width, image.height, Options{}));
    EXPECT_TRUE(image.bytes == expected.bytes);
}

TEST(QuantiseTest, ManyColoursBecomeAtMost256NearTheOriginal) {
    struct Case {
        const char* name;
        Bgra image;
        double minimumPsnr;  // over the four channels; what the quantiser gives, less 0.05 dB
    };
    const Case cases[] = {
        {"opaque gradient", gradient(128, 64, 3, false), 33.98},
        {"translucent gradient", gradient(128, 64, 3, true), 33.63},
        {"smooth gradient", gradient(64, 64, 0, false), 34.66},
        {"grouped colours", groupedColours(), 37.82},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bgra image = c.image;
        ASSERT_GT(distinctColours(image), image.width * image.height > 1u << 18 ? 1u << 18 : 256u);
        ASSERT_TRUE(reduceColours(image.data(), image.width, image.height, Options{}));
        EXPECT_LE(distinctColours(image), 256u);
        EXPECT_GE(psnr(c.image, image, true), c.minimumPsnr);
        std::printf("%-22s %.3f dB\n", c.name, psnr(c.image, image, true));
    }
}

TEST(QuantiseTest, AlphaTakesPartOnlyWhenSomePixelIsNotOpaque) {
    // Opaque: every pixel stays opaque, however alpha would otherwise be spent.
    Bgra opaque = gradient(64, 64, 5, false);
    ASSERT_TRUE(reduceColours(opaque.data(), opaque.width, opaque.height, Options{}));
    for (std::size_t i = 3; i < opaque.bytes.size(); i += 4)
        ASSERT_EQ(opaque.bytes[i], 255) << i / 4;

    // Two colours at every alpha: 512 colours on two lines along alpha, far apart. Each pixel keeps
    // its colour; 128 entries on each line leave each alpha at most 1 away.
    Bgra lines(256, 2);
    for (std::uint32_t x = 0; x < 256; ++x)
        lines.set(x, 0, {0, 0, 0, int(x)}), lines.set(x, 1, {255, 255, 255, int(x)});
    Bgra reduced = lines;
    ASSERT_TRUE(reduceColours(reduced.data(), reduced.width, reduced.height, Options{}));
    EXPECT_LE(distinctColours(reduced), 256u);
    for (std::uint32_t y = 0; y < 2; ++y) {
        for (std::uint32_t x = 0; x < 256; ++x) {
            const Colour was = lines.get(x, y), now = reduced.get(x, y);
            ASSERT_EQ((Colour{now[0], now[1], now[2], was[3]}), was) << x << "," << y;
            ASSERT_LE(std::abs(now[3] - was[3]), 1) << x << "," << y;
        }
    }

    // One clear pixel among thousands of opaque colours costs more than any other entry saves.
    Bgra hole = gradient(64, 64, 5, false);
    hole.set(10, 20, {40, 80, 120, 0});
    ASSERT_TRUE(reduceColours(hole.data(), hole.width, hole.height, Options{}));
    EXPECT_EQ(hole.get(10, 20)[3], 0);
}

TEST(QuantiseTest, DitherIsRepeatableAndKeepsLocalAverages) {
    const Bgra original = gradient(128, 128, 0, true);
    Bgra plain = original, dithered = original, again = original;
    ASSERT_TRUE(reduceColours(plain.data(), plain.width, plain.height, Options{}));
    ASSERT_TRUE(reduceColours(dithered.data(), dithered.width, dithered.height, withThreads(0, true)));
    ASSERT_TRUE(reduceColours(again.data(), again.width, again.height, withThreads(1, true)));
    EXPECT_TRUE(dithered.bytes == again.bytes);
    EXPECT_LE(distinctColours(dithered), 256u);
    EXPECT_FALSE(dithered.bytes == plain.bytes);
    // Diffusion trades per-pixel error for the error of areas: averaged over 4x4 squares, the
    // dithered image is nearer the original than the plain one.
    EXPECT_LT(blockMeanError(original, dithered, 4), blockMeanError(original, plain, 4) * 0.75);
    EXPECT_GT(psnr(original, dithered, true), 30.0);
}

TEST(QuantiseTest, ResultDoesNotDependOnTheThreadCount) {
    // Large enough for several bands of counting, chunks of clustering and bands of rewriting; the
    // second has more colours than are counted exactly.
    for (const Bgra& original : {gradient(512, 256, 3, true), groupedColours()}) {
        Bgra one = original;
        ASSERT_TRUE(reduceColours(one.data(), one.width, one.height, withThreads(1)));
        for (unsigned threads : {2u, 5u}) {
            Bgra many = original;
            ASSERT_TRUE(reduceColours(many.data(), many.width, many.height, withThreads(threads)));
            EXPECT_TRUE(many.bytes == one.bytes) << threads << " threads";
        }
    }
}

// The same bytes on every platform and compiler: the Windows build runs this under wine.
TEST(QuantiseTest, KnownResultsOnEveryPlatform) {
    struct Case {
        const char* name;
        Bgra image;
        bool dither;
        std::uint64_t digest;
    };
    const Case cases[] = {
        {"plain", gradient(96, 64, 6, true), false, 4700358564707860232ull},
        {"dithered", gradient(96, 64, 6, true), true, 15835013670430978384ull},
        {"grouped", groupedColours(), false, 8344640185765373785ull},
    };
    for (const Case& c : cases) {
        Bgra image = c.image;
        ASSERT_TRUE(reduceColours(image.data(), image.width, image.height, withThreads(0, c.dither)));
        EXPECT_EQ(digest(image), c.digest) << c.name;
    }
}

TEST(QuantiseTest, RefusalsLeaveThePixelsAlone) {
    Bgra image = gradient(32, 32, 4, false);
    const Bgra before = image;
    // 2^32 pixels: refused on the size alone, before anything is read. Each refusal notes its cause.
    FailureReason::clear();
    EXPECT_FALSE(reduceColours(image.data(), 65536, 65536, Options{}));
    EXPECT_EQ(FailureReason::take(), "4294967296 pixels are more than the colour reduction counts");
    FaultSeam::injectFault(FaultSeam::Operation::QuantiseMemory, -1);
    EXPECT_FALSE(reduceColours(image.data(), image.width, image.height, Options{}));
    FaultSeam::clearFaults();
    EXPECT_EQ(FailureReason::take(), "not enough memory to reduce the colours");
    EXPECT_TRUE(image.bytes == before.bytes);
}

}  // namespace
