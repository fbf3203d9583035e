// Images as the colour quantiser takes them (B, G, R, A bytes, rows packed) and the measures its tests
// apply: distinct colours, PSNR, the error of area averages, and a digest that pins exact results.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

using Colour = std::array<int, 4>;  // B, G, R, A

struct Bgra {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> bytes;

    Bgra(std::uint32_t w, std::uint32_t h) : width(w), height(h), bytes(std::size_t(w) * h * 4) {}
    static Bgra filled(std::uint32_t w, std::uint32_t h, const Colour& colour) {
        Bgra image(w, h);
        for (std::uint32_t p = 0; p < w * h; ++p)
            image.set(p % w, p / w, colour);
        return image;
    }
    std::uint8_t* data() { return bytes.data(); }
    std::uint8_t* at(std::uint32_t x, std::uint32_t y) { return &bytes[(std::size_t(y) * width + x) * 4]; }
    const std::uint8_t* at(std::uint32_t x, std::uint32_t y) const {
        return &bytes[(std::size_t(y) * width + x) * 4];
    }
    // Channels outside 0..255 are clamped.
    void set(std::uint32_t x, std::uint32_t y, const Colour& colour) {
        for (int c = 0; c < 4; ++c)
            at(x, y)[c] = static_cast<std::uint8_t>(std::clamp(colour[c], 0, 255));
    }
    Colour get(std::uint32_t x, std::uint32_t y) const {
        const std::uint8_t* p = at(x, y);
        return {p[0], p[1], p[2], p[3]};
    }
};

inline std::size_t distinctColours(const Bgra& image) {
    std::set<std::uint32_t> seen;
    for (std::size_t i = 0; i < image.bytes.size(); i += 4)
        seen.insert(std::uint32_t{image.bytes[i]} | std::uint32_t{image.bytes[i + 1]} << 8 |
                    std::uint32_t{image.bytes[i + 2]} << 16 | std::uint32_t{image.bytes[i + 3]} << 24);
    return seen.size();
}

// Over B, G, R, and A when asked; 99 for identical images.
inline double psnr(const Bgra& original, const Bgra& reduced, bool withAlpha) {
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < original.bytes.size(); ++i) {
        if (i % 4 == 3 && !withAlpha)
            continue;
        const double d = double(original.bytes[i]) - double(reduced.bytes[i]);
        sum += d * d;
        ++count;
    }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(count) / sum);
}

// Mean squared error of the averages of `side` x `side` squares, all four channels.
inline double blockMeanError(const Bgra& original, const Bgra& reduced, std::uint32_t side) {
    double sum = 0;
    std::size_t count = 0;
    for (std::uint32_t by = 0; by + side <= original.height; by += side) {
        for (std::uint32_t bx = 0; bx + side <= original.width; bx += side) {
            for (int c = 0; c < 4; ++c) {
                double difference = 0;
                for (std::uint32_t y = by; y < by + side; ++y)
                    for (std::uint32_t x = bx; x < bx + side; ++x)
                        difference += double(original.at(x, y)[c]) - double(reduced.at(x, y)[c]);
                difference /= double(side * side);
                sum += difference * difference;
                ++count;
            }
        }
    }
    return sum / double(count);
}

// FNV-1a over the bytes.
inline std::uint64_t digest(const Bgra& image) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (std::uint8_t byte : image.bytes)
        hash = (hash ^ byte) * 0x100000001B3ull;
    return hash;
}
