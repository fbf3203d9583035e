#include "support/ImageFiles.h"

#include <spng.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "support/TempFolder.h"

namespace {

// Appends the low `bytes` bytes of `value`, least significant first.
void put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i, value >>= 8)
        out.push_back(static_cast<char>(value & 0xFF));
}

// The file and info headers of an uncompressed, bottom-up BMP; the pixels start right after them.
std::string bmpHeaders(std::uint32_t width, std::uint32_t height, int bitsPerPixel, std::uint64_t pixelBytes,
                       std::uint64_t statedPixelBytes) {
    std::string out = "BM";
    put(out, 54 + pixelBytes, 4);
    put(out, 0, 4);
    put(out, 54, 4);
    put(out, 40, 4);
    put(out, width, 4);
    put(out, height, 4);
    put(out, 1, 2);  // planes
    put(out, std::uint64_t(bitsPerPixel), 2);
    put(out, 0, 4);  // no compression
    put(out, statedPixelBytes, 4);
    put(out, 0, 16);  // resolution and palette counts
    return out;
}

}  // namespace

Rgba Rgba::filled(std::uint32_t width, std::uint32_t height, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                  std::uint8_t a) {
    Rgba image{width, height, {}};
    for (std::size_t i = 0; i < std::size_t(width) * height; ++i)
        image.pixels.insert(image.pixels.end(), {r, g, b, a});
    return image;
}

Rgba Rgba::pattern(std::uint32_t width, std::uint32_t height, bool withAlpha) {
    Rgba image{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* p = image.at(x, y);
            p[0] = static_cast<std::uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
            p[2] = static_cast<std::uint8_t>(128 + 60 * std::sin((x + y) * 0.2));
            p[3] = withAlpha ? static_cast<std::uint8_t>((x * 7 + y * 3) & 0xFF) : 255;
        }
    }
    return image;
}

void writePng(const std::string& path, const Rgba& image, bool withAlpha) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = image.width;
    ihdr.height = image.height;
    ihdr.bit_depth = 8;
    ihdr.color_type = withAlpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    std::vector<std::uint8_t> data;
    if (withAlpha) {
        data = image.pixels;
    } else {
        for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
            data.insert(data.end(), {image.pixels[i], image.pixels[i + 1], image.pixels[i + 2]});
        }
    }
    if (spng_encode_image(ctx, data.data(), data.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) != 0) {
        spng_ctx_free(ctx);
        throw std::runtime_error("png encode failed");
    }
    size_t length = 0;
    int error = 0;
    void* png = spng_get_png_buffer(ctx, &length, &error);
    writeFile(path, std::string(static_cast<char*>(png), length));
    free(png);
    spng_ctx_free(ctx);
}

void writeBmp(const std::string& path, const Rgba& image) {
    std::uint32_t rowSize = (image.width * 3 + 3) & ~3u;
    std::string out = bmpHeaders(image.width, image.height, 24, rowSize * image.height, 0);
    for (std::uint32_t y = image.height; y-- > 0;) {
        std::string row;
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const std::uint8_t* p = &image.pixels[(std::size_t(y) * image.width + x) * 4];
            row += {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
        }
        row.resize(rowSize, '\0');
        out += row;
    }
    writeFile(path, out);
}

void writeTga(const std::string& path, const Rgba& image) {
    std::string out(12, '\0');
    out[2] = 2;  // uncompressed true colour
    put(out, image.width, 2);
    put(out, image.height, 2);
    out += {32, 0x28};  // 8 alpha bits, top-left origin
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        out += {static_cast<char>(image.pixels[i + 2]), static_cast<char>(image.pixels[i + 1]),
                static_cast<char>(image.pixels[i]), static_cast<char>(image.pixels[i + 3])};
    }
    writeFile(path, out);
}

void writeJpeg(const std::string& path, const Rgba& image) {
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, image.pixels.data(), static_cast<int>(image.width), 0, static_cast<int>(image.height),
                TJPF_RGBA, &jpeg, &size, TJSAMP_444, 95, 0);
    writeFile(path, std::string(reinterpret_cast<char*>(jpeg), size));
    tjFree(jpeg);
    tjDestroy(handle);
}

std::string encodePnm(const Rgba& image, char magic, unsigned maxval) {
    const bool bilevel = magic == '1' || magic == '4', plain = magic <= '3';
    const unsigned depth = magic == '7' ? 4 : (magic == '3' || magic == '6') ? 3 : 1;
    const std::string size = std::to_string(image.width) + " " + std::to_string(image.height);
    std::string out = std::string("P") + magic + "\n# made by the tests\n";
    if (magic == '7') {
        out += "WIDTH " + std::to_string(image.width) + "\nHEIGHT " + std::to_string(image.height) +
               "\nDEPTH 4\nMAXVAL " + std::to_string(maxval) + "\n# a comment\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    } else {
        out += size + (bilevel ? "\n" : "\n" + std::to_string(maxval) + "\n");
    }
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::uint8_t bits = 0;
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const std::uint8_t* p = &image.pixels[(std::size_t(y) * image.width + x) * 4];
            if (bilevel) {
                const bool black = p[0] < 128;
                if (plain)
                    out += black ? "1" : "0";  // digits need no separator
                bits = static_cast<std::uint8_t>(bits | (black << (7 - x % 8)));
                if (!plain && (x % 8 == 7 || x + 1 == image.width)) {
                    out.push_back(static_cast<char>(bits));
                    bits = 0;
                }
                continue;
            }
            for (unsigned c = 0; c < depth; ++c) {
                const unsigned v = (p[c] * maxval + 127) / 255;
                if (plain)
                    out += std::to_string(v) + " ";
                else if (maxval > 255)
                    out += {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
                else
                    out.push_back(static_cast<char>(v));
            }
        }
        if (plain)
            out += "\n";
    }
    return out;
}

std::string encodePfm(const Rgba& image, bool grey, bool littleEndian) {
    std::string out = std::string(grey ? "Pf" : "PF") + "\n" + std::to_string(image.width) + " " +
                      std::to_string(image.height) + "\n" + (littleEndian ? "-1.0" : "1.0") + "\n";
    for (std::uint32_t y = image.height; y-- > 0;) {
        for (std::uint32_t x = 0; x < image.width; ++x) {
            for (unsigned c = 0; c < (grey ? 1u : 3u); ++c) {
                const float value = image.pixels[(std::size_t(y) * image.width + x) * 4 + c] / 255.0f;
                std::uint32_t bits;
                std::memcpy(&bits, &value, 4);
                for (int i = 0; i < 4; ++i)
                    out.push_back(static_cast<char>(bits >> (littleEndian ? 8 * i : 24 - 8 * i)));
            }
        }
    }
    return out;
}

namespace {

// One channel of a scanline: runs of three or more equal bytes, literals between them.
void appendRunLength(std::string& out, const std::vector<std::uint8_t>& channel) {
    auto runAt = [&](std::size_t i) {
        std::size_t n = 1;
        while (i + n < channel.size() && n < 127 && channel[i + n] == channel[i])
            ++n;
        return n;
    };
    for (std::size_t i = 0; i < channel.size();) {
        if (std::size_t run = runAt(i); run >= 3) {
            out += {static_cast<char>(128 + run), static_cast<char>(channel[i])};
            i += run;
            continue;
        }
        std::size_t end = i;
        while (end < channel.size() && end - i < 128 && (end == i || runAt(end) < 3))
            ++end;
        out.push_back(static_cast<char>(end - i));
        out.append(channel.begin() + i, channel.begin() + end);
        i = end;
    }
}

}  // namespace

std::string encodeHdr(const Rgba& image) {
    std::string out = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1.0\n\n-Y " +
                      std::to_string(image.height) + " +X " + std::to_string(image.width) + "\n";
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::vector<std::uint8_t> channels[4];
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const std::uint8_t* p = &image.pixels[(std::size_t(y) * image.width + x) * 4];
            const double largest = std::max({p[0], p[1], p[2]}) / 255.0;
            int exponent = 0;
            const double scale = largest > 0 ? std::frexp(largest, &exponent) * 256.0 / largest : 0;
            for (int c = 0; c < 3; ++c)
                channels[c].push_back(static_cast<std::uint8_t>(p[c] / 255.0 * scale));
            channels[3].push_back(static_cast<std::uint8_t>(largest > 0 ? exponent + 128 : 0));
        }
        out += {2, 2, static_cast<char>(image.width >> 8), static_cast<char>(image.width & 0xFF)};
        for (const auto& channel : channels)
            appendRunLength(out, channel);
    }
    return out;
}

void writeFlatPng(const std::string& path, std::uint32_t width, std::uint32_t height, std::uint8_t grey,
                  std::uint8_t alpha, int compressionLevel) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    FILE* file = std::fopen(path.c_str(), "wb");
    spng_ihdr ihdr{};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    std::vector<std::uint8_t> row(std::size_t{width} * 4, grey);
    for (std::size_t i = 3; i < row.size(); i += 4)
        row[i] = alpha;
    int status =
        !file || spng_set_png_file(ctx, file) || spng_set_ihdr(ctx, &ihdr) ||
        spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, compressionLevel) ||
        spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    for (std::uint32_t y = 0; status == 0 && y < height; ++y)
        status = spng_encode_row(ctx, row.data(), row.size());
    spng_ctx_free(ctx);
    if (file)
        std::fclose(file);
    if (status != SPNG_EOI)
        throw std::runtime_error("png encode failed");
}

void writeBlackBmp(const std::string& path, std::uint32_t width, std::uint32_t height) {
    const std::uint64_t pixelBytes = std::uint64_t{width} * height * 4;
    writeFile(path, bmpHeaders(width, height, 32, pixelBytes, pixelBytes));
    std::filesystem::resize_file(path, 54 + pixelBytes);
}

void writeProgressiveJpegBomb(const std::string& path, std::uint32_t width, std::uint32_t height) {
    tjhandle handle = tjInitCompress();
    std::vector<std::uint8_t> cmyk(8 * 8 * 4, 100);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, cmyk.data(), 8, 0, 8, TJPF_CMYK, &jpeg, &size, TJSAMP_444, 90, TJFLAG_PROGRESSIVE);
    std::string bytes(reinterpret_cast<char*>(jpeg), size);
    tjFree(jpeg);
    tjDestroy(handle);
    const std::size_t frame = bytes.find("\xFF\xC2");  // progressive frame header: height, then width
    bytes[frame + 5] = static_cast<char>(height >> 8);
    bytes[frame + 6] = static_cast<char>(height & 0xFF);
    bytes[frame + 7] = static_cast<char>(width >> 8);
    bytes[frame + 8] = static_cast<char>(width & 0xFF);
    writeFile(path, bytes);
}

void writeDxt1Dds(const std::string& path, std::uint32_t width, std::uint32_t height,
                  const std::vector<std::uint8_t>& blocks) {
    std::string out = "DDS ";
    put(out, 124, 4);
    put(out, 0x1 | 0x2 | 0x4 | 0x1000 | 0x80000, 4);  // caps, height, width, pixel format, linear size
    put(out, height, 4);
    put(out, width, 4);
    put(out, blocks.size(), 4);
    put(out, 0, 4);    // depth
    put(out, 1, 4);    // levels
    put(out, 0, 44);   // reserved
    put(out, 32, 4);   // pixel format size
    put(out, 0x4, 4);  // FourCC
    out += "DXT1";
    put(out, 0, 20);      // bit count and masks
    put(out, 0x1000, 4);  // a texture
    put(out, 0, 16);
    out.append(reinterpret_cast<const char*>(blocks.data()), blocks.size());
    writeFile(path, out);
}

Rgba readPng(const std::string& path) {
    const std::string bytes = readFile(path);
    spng_ctx* ctx = spng_ctx_new(0);
    spng_ihdr ihdr{};
    std::size_t size = 0;
    Rgba image;
    if (spng_set_png_buffer(ctx, bytes.data(), bytes.size()) == 0 && spng_get_ihdr(ctx, &ihdr) == 0 &&
        spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
        image = Rgba{ihdr.width, ihdr.height, std::vector<std::uint8_t>(size)};
        if (spng_decode_image(ctx, image.pixels.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0)
            image = Rgba{};
    }
    spng_ctx_free(ctx);
    return image;
}

double psnr(const Rgba& original, const Rgba& decoded, bool withAlpha, bool skipClear) {
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < original.pixels.size(); ++i) {
        if ((i % 4 == 3 && !withAlpha) || (skipClear && original.pixels[i | 3] < 128))
            continue;
        double d = double(original.pixels[i]) - double(decoded.pixels[i]);
        sum += d * d;
        ++count;
    }
    if (sum == 0)
        return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 / (sum / double(count)));
}

std::uint32_t pngCrc(const std::string& bytes, std::size_t from, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = from; i < from + count; ++i) {
        crc ^= static_cast<unsigned char>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}
