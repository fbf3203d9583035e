// Writers of small test images in each input format, from 8-bit R,G,B,A pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rgba {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;  // R, G, B, A per pixel, rows from the top

    static Rgba filled(std::uint32_t width, std::uint32_t height, std::uint8_t r, std::uint8_t g,
                       std::uint8_t b, std::uint8_t a = 255);
    // A smooth gradient with some texture, the kind block compression handles well but not exactly.
    static Rgba pattern(std::uint32_t width, std::uint32_t height, bool withAlpha = false);
    std::uint8_t* at(std::uint32_t x, std::uint32_t y) { return &pixels[(std::size_t(y) * width + x) * 4]; }
};

void writePng(const std::string& path, const Rgba& image, bool withAlpha = true);
void writeBmp(const std::string& path, const Rgba& image);   // 24-bit, bottom-up
void writeTga(const std::string& path, const Rgba& image);   // 32-bit, uncompressed
void writeJpeg(const std::string& path, const Rgba& image);  // quality 95
// Netpbm, float map and Radiance files as bytes, so that tests can damage them before writing.
// `magic` '1' to '7' picks the kind; grey kinds store each pixel's red, bilevel ones store red < 128 as
// black, PAM stores RGB_ALPHA. Samples are scaled to `maxval` with rounding.
std::string encodePnm(const Rgba& image, char magic, unsigned maxval = 255);
// Each channel as value / 255, rows from the bottom; `grey` stores red alone.
std::string encodePfm(const Rgba& image, bool grey = false, bool littleEndian = true);
// RGBE as Radiance writes it (channels as value / 255), "-Y h +X w", run-length scanlines.
std::string encodeHdr(const Rgba& image);
// Large images without holding their pixels: a PNG of one colour written row by row (deflate level 0
// stores it uncompressed, as big as its pixels), a black 32-bit BMP whose pixels are a hole in the
// file (no disk or time spent on them), and a progressive JPEG of four components (CMYK) whose header
// claims `width` x `height` over the scans of an 8x8 image, as a decompression bomb does.
void writeFlatPng(const std::string& path, std::uint32_t width, std::uint32_t height, std::uint8_t grey,
                  std::uint8_t alpha, int compressionLevel = 1);
void writeBlackBmp(const std::string& path, std::uint32_t width, std::uint32_t height);
void writeProgressiveJpegBomb(const std::string& path, std::uint32_t width, std::uint32_t height);
void writeDxt1Dds(const std::string& path, std::uint32_t width, std::uint32_t height,
                  const std::vector<std::uint8_t>& blocks);

// libspng's whole-image decode to RGBA8: a second path beside the service's own row-by-row reader.
// Empty when the file does not decode.
Rgba readPng(const std::string& path);

// CRC-32 of bytes[from, from + count), as PNG chunks carry it.
std::uint32_t pngCrc(const std::string& bytes, std::size_t from, std::size_t count);

// Mean-squared-error PSNR over R, G, B (and A when asked). With `skipClear`, pixels whose alpha in
// `original` is below 128 do not count: DXT1 stores them as transparent black.
double psnr(const Rgba& original, const Rgba& decoded, bool withAlpha = false, bool skipClear = false);
