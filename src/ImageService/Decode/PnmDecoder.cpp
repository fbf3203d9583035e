// Netpbm images: PBM, PGM and PPM, plain (P1-P3, decimal text) and binary (P4-P6), maxval 1 to
// 65535 with 16-bit samples big-endian, and PAM (P7) with grey, grey+alpha, RGB and RGB+alpha
// tuples. Samples are scaled to 8 bits with rounding; grey becomes R = G = B and images without an
// alpha channel are opaque. Only the first image of a multi-image file is read.
#include <cstring>
#include <string>

#include "ImageService/Decode/Decoders.h"
#include "ImageService/Decode/HeaderText.h"

namespace ImageService::Decode {
namespace {

constexpr std::uint64_t kLargestMaxval = 65535;

struct PnmLayout {
    const char* name = "PNM";  // as reasons call the file
    char kind = 0;             // the digit after 'P'
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned maxval = 1;
    unsigned depth = 1;   // samples per pixel: grey, grey+alpha, RGB, RGB+alpha
    bool plain = false;   // samples as decimal text
    bool bitmap = false;  // PBM: one bit or digit per pixel, 1 is black
    std::uint64_t rasterOffset = 0;
};

const char* nameOf(char kind) {
    switch (kind) {
        case '1':
        case '4':
            return "PBM";
        case '2':
        case '5':
            return "PGM";
        case '3':
        case '6':
            return "PPM";
        default:
            return "PAM";
    }
}

// PAM tuple types this reader understands, with the depth each must declare.
struct TupleType {
    const char* name;
    unsigned depth;
};
constexpr TupleType kTupleTypes[] = {{"GRAYSCALE", 1},           {"BLACKANDWHITE", 1}, {"GRAYSCALE_ALPHA", 2},
                                     {"BLACKANDWHITE_ALPHA", 2}, {"RGB", 3},           {"RGB_ALPHA", 4}};

HRESULT checkMaxval(const PnmLayout& layout, std::uint64_t maxval) {
    if (maxval == 0 || maxval > kLargestMaxval)
        return refuse("%s: maxval %s outside 1 to 65,535", layout.name, grouped(maxval).c_str());
    return D3D_OK;
}

// P1-P6: magic, width, height and (but for PBM) maxval, separated by whitespace and comments, then
// exactly one whitespace byte before the raster.
HRESULT parseClassicHeader(Reader& in, PnmLayout* layout) {
    HeaderText text(in);
    if (!text.skipSpace(true))
        return refuse("%s: no whitespace after the magic number", layout->name);
    std::uint64_t values[3] = {0, 0, 1};
    const char* fields[3] = {"width", "height", "maxval"};
    const int count = layout->bitmap ? 2 : 3;
    for (int i = 0; i < count; ++i) {
        text.skipSpace(true);
        if (!text.readNumber(&values[i])) {
            if (text.atEnd())
                return refuse("truncated %s: the header ends before the %s", layout->name, fields[i]);
            return refuse("%s: no %s in the header", layout->name, fields[i]);
        }
    }
    if (!text.takeOneSpace())
        return refuse("%s: no whitespace after the header", layout->name);
    if (HRESULT hr = checkDeclaredSides(layout->name, values[0], values[1]); FAILED(hr))
        return hr;
    if (HRESULT hr = checkMaxval(*layout, values[2]); FAILED(hr))
        return hr;
    layout->width = static_cast<std::uint32_t>(values[0]);
    layout->height = static_cast<std::uint32_t>(values[1]);
    layout->maxval = static_cast<unsigned>(values[2]);
    layout->depth = layout->kind == '3' || layout->kind == '6' ? 3 : 1;
    layout->rasterOffset = text.position();
    return D3D_OK;
}

// P7: "KEY value" lines up to ENDHDR. Without TUPLTYPE the depth alone says what the tuples hold.
HRESULT parsePamHeader(Reader& in, PnmLayout* layout) {
    HeaderText text(in);
    if (!text.skipLine())
        return refuse("truncated PAM: the header never ends");
    std::uint64_t width = 0, height = 0, depth = 0, maxval = 0;
    std::string tupleType;
    for (;;) {
        text.skipSpace(true);
        if (text.atEnd())
            return refuse("truncated PAM: the header never ends");
        const std::string key = text.readWord();
        if (key == "ENDHDR") {
            if (!text.skipLine())
                return refuse("truncated PAM: the header never ends");
            break;
        }
        std::uint64_t* number = key == "WIDTH"    ? &width
                                : key == "HEIGHT" ? &height
                                : key == "DEPTH"  ? &depth
                                : key == "MAXVAL" ? &maxval
                                                  : nullptr;
        text.skipSpace(false);
        if (number) {
            if (!text.readNumber(number))
                return refuse("PAM: no number after %s", key.c_str());
        } else if (key == "TUPLTYPE") {
            tupleType = text.readWord();
        } else {
            return refuse("PAM: unknown header line %s", key.c_str());
        }
    }
    if (width == 0 || height == 0 || depth == 0 || maxval == 0)
        return refuse("PAM: the header lacks WIDTH, HEIGHT, DEPTH or MAXVAL");
    if (HRESULT hr = checkDeclaredSides(layout->name, width, height); FAILED(hr))
        return hr;
    if (HRESULT hr = checkMaxval(*layout, maxval); FAILED(hr))
        return hr;
    if (tupleType.empty()) {
        if (depth > 4)
            return refuse("PAM: DEPTH %s without a TUPLTYPE", grouped(depth).c_str());
    } else {
        const TupleType* known = nullptr;
        for (const TupleType& type : kTupleTypes) {
            if (tupleType == type.name)
                known = &type;
        }
        if (!known)
            return refuse("PAM: TUPLTYPE %s is not read", tupleType.c_str());
        if (known->depth != depth) {
            return refuse("PAM: DEPTH %s does not match TUPLTYPE %s", grouped(depth).c_str(),
                          tupleType.c_str());
        }
    }
    layout->width = static_cast<std::uint32_t>(width);
    layout->height = static_cast<std::uint32_t>(height);
    layout->depth = static_cast<unsigned>(depth);
    layout->maxval = static_cast<unsigned>(maxval);
    layout->rasterOffset = text.position();
    return D3D_OK;
}

// The header, and the raster's length against the file: binary rasters exactly, text rasters by the
// fewest bytes that could hold them (one digit per PBM pixel, a digit and a separator per sample).
HRESULT parseLayout(Source& file, PnmLayout* layout) {
    std::uint8_t magic[2];
    if (file.readAt(0, magic, 2) != 2 || magic[0] != 'P' || magic[1] < '1' || magic[1] > '7')
        return refuse("PNM: no magic number");
    layout->kind = static_cast<char>(magic[1]);
    layout->name = nameOf(layout->kind);
    layout->plain = layout->kind <= '3';
    layout->bitmap = layout->kind == '1' || layout->kind == '4';
    Reader in(file, 2, Reader::kHeaderCapacity);
    HRESULT hr = layout->kind == '7' ? parsePamHeader(in, layout) : parseClassicHeader(in, layout);
    if (FAILED(hr))
        return hr;

    const std::uint64_t available = file.size() - layout->rasterOffset;
    const std::uint64_t pixels = std::uint64_t{layout->width} * layout->height;
    if (layout->plain) {
        const std::uint64_t samples = productOrMax(pixels, layout->depth);
        const std::uint64_t fewest = layout->bitmap ? samples : productOrMax(samples, 2) - 1;
        if (available < fewest) {
            return refuse("truncated %s: %s bytes cannot hold %s samples", layout->name,
                          grouped(available).c_str(), grouped(samples).c_str());
        }
        return D3D_OK;
    }
    const std::uint64_t sampleBytes = layout->maxval > 255 ? 2 : 1;
    const std::uint64_t rowBytes = layout->bitmap
                                       ? (std::uint64_t{layout->width} + 7) / 8
                                       : std::uint64_t{layout->width} * layout->depth * sampleBytes;
    const std::uint64_t needed = productOrMax(rowBytes, layout->height);
    if (available < needed) {
        return refuse("truncated %s: %s of %s pixel bytes", layout->name, grouped(available).c_str(),
                      grouped(needed).c_str());
    }
    return D3D_OK;
}

// Hands out the raster's samples in file order, whichever way they are stored.
class SampleReader {
public:
    SampleReader(Source& file, const PnmLayout& layout)
        : file(file), layout(layout), in(file, layout.rasterOffset), text(in) {}

    HRESULT next(unsigned* value) {
        if (layout.plain)
            return nextText(value);
        if (layout.bitmap) {
            // Each PBM row starts on a byte boundary; a set bit is black.
            if (column == 0 && !(row = in.take((layout.width + 7) / 8)))
                return refuseShortRead(layout.name, file);
            const std::uint8_t byte = row[column / 8];
            *value = (byte >> (7 - column % 8)) & 1 ? 0 : 1;
            if (++column == layout.width)
                column = 0;
            return D3D_OK;
        }
        const std::uint8_t* sample = in.take(layout.maxval > 255 ? 2 : 1);
        if (!sample)
            return refuseShortRead(layout.name, file);
        *value = layout.maxval > 255 ? (sample[0] << 8) | sample[1] : sample[0];
        return checkRange(*value);
    }

private:
    HRESULT nextText(unsigned* value) {
        text.skipSpace(true);
        if (text.atEnd()) {
            const std::uint64_t total = std::uint64_t{layout.width} * layout.height * layout.depth;
            return refuse("truncated %s: %s of %s samples", layout.name, grouped(taken).c_str(),
                          grouped(total).c_str());
        }
        ++taken;
        const int c = text.peek();
        if (layout.bitmap) {
            // Plain PBM digits need no separator between them.
            if (c != '0' && c != '1')
                return refuse("%s: '%c' where a pixel belongs", layout.name, c);
            text.skip(1);
            *value = c == '1' ? 0 : 1;
            return D3D_OK;
        }
        std::uint64_t number = 0;
        if (!text.readNumber(&number))
            return refuse("%s: '%c' where a sample belongs", layout.name, c);
        if (number > layout.maxval)
            return refuse("%s: sample %s above maxval %u", layout.name, grouped(number).c_str(),
                          layout.maxval);
        *value = static_cast<unsigned>(number);
        return D3D_OK;
    }

    HRESULT checkRange(unsigned value) const {
        if (value > layout.maxval)
            return refuse("%s: sample %u above maxval %u", layout.name, value, layout.maxval);
        return D3D_OK;
    }

    Source& file;
    const PnmLayout& layout;
    Reader in;
    HeaderText text;
    const std::uint8_t* row = nullptr;  // the PBM row being read
    std::uint32_t column = 0;
    std::uint64_t taken = 0;
};

}  // namespace

HRESULT probePnm(Source& file, ImageHeader* header) {
    PnmLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    const bool alpha = layout.depth == 2 || layout.depth == 4;
    const D3DFORMAT stored = alpha ? D3DFMT_A8R8G8B8 : layout.depth == 1 ? D3DFMT_L8 : D3DFMT_X8R8G8B8;
    *header = ImageHeader{layout.width, layout.height, 1, stored, D3DFMT_A8R8G8B8, D3DXIFF_PPM};
    return D3D_OK;
}

HRESULT decodePnm(Source& file, const ImageHeader& header, Destination out) {
    PnmLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    if (layout.width != header.width || layout.height != header.height ||
        out.size != std::size_t{layout.width} * layout.height * 4) {
        return D3DXERR_INVALIDDATA;
    }
    const unsigned maxval = layout.bitmap ? 1 : layout.maxval;
    auto scale = [maxval](unsigned v) {
        return static_cast<std::uint8_t>(maxval == 255 ? v : (v * 255u + maxval / 2) / maxval);
    };
    SampleReader reader(file, layout);
    const std::size_t pixels = std::size_t{layout.width} * layout.height;
    std::uint8_t* target = out.bytes;
    for (std::size_t i = 0; i < pixels; ++i, target += 4) {
        unsigned samples[4] = {0, 0, 0, maxval};
        for (unsigned s = 0; s < layout.depth; ++s) {
            if (HRESULT hr = reader.next(&samples[s]); FAILED(hr))
                return hr;
        }
        if (layout.depth <= 2) {
            samples[3] = layout.depth == 2 ? samples[1] : maxval;
            samples[1] = samples[2] = samples[0];
        }
        target[0] = scale(samples[2]);
        target[1] = scale(samples[1]);
        target[2] = scale(samples[0]);
        target[3] = scale(samples[3]);
    }
    return D3D_OK;
}

}  // namespace ImageService::Decode
