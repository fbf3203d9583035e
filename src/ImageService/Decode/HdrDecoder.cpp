// Radiance pictures ("#?RADIANCE" or "#?RGBE") in FORMAT=32-bit_rle_rgbe: header lines up to a
// blank line, a resolution line in any of the eight orientations, then one scanline after another,
// each either flat (four bytes a pixel) or run-length coded one channel after the other. Every run is
// checked against its scanline and the file, so damaged data is refused, never looped over.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "ImageService/Decode/Decoders.h"
#include "ImageService/Decode/FloatToByte.h"

namespace ImageService::Decode {
namespace {

// Run-length scanlines are only written for lengths in this range; others are always flat.
constexpr std::uint32_t kShortestCoded = 8, kLongestCoded = 0x7FFF;
constexpr std::size_t kLongestLine = 256;  // past this a header or resolution line is not text

// Which way the stored scanlines run. "-Y h +X w" is the usual top-down, left-to-right picture;
// with X first the scanlines are columns.
struct Orientation {
    bool columns = false;     // X is the slow axis
    bool topDown = true;      // -Y: Radiance's Y points up
    bool leftToRight = true;  // +X
};

struct HdrLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    Orientation orientation;
    std::uint32_t scanlines = 0;
    std::uint32_t scanlineLength = 0;
    std::uint64_t dataOffset = 0;
};

// The next line without its newline; false when no newline comes within kLongestLine.
bool readLine(Reader& in, std::string* line) {
    line->clear();
    for (int c = in.peek(); c >= 0 && c != '\n'; c = in.peek()) {
        if (line->size() == kLongestLine)
            return false;
        line->push_back(static_cast<char>(c));
        in.skip(1);
    }
    if (in.atEnd())
        return false;
    in.skip(1);
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return true;
}

// One axis of the resolution line: a sign, X or Y, a space, a size.
bool parseAxis(const std::string& line, std::size_t* at, char* axis, bool* positive, std::uint64_t* size) {
    while (*at < line.size() && line[*at] == ' ')
        ++*at;
    if (line.size() - *at < 4 || (line[*at] != '+' && line[*at] != '-') ||
        (line[*at + 1] != 'X' && line[*at + 1] != 'Y') || line[*at + 2] != ' ') {
        return false;
    }
    *positive = line[*at] == '+';
    *axis = line[*at + 1];
    *at += 3;
    if (*at >= line.size() || line[*at] < '0' || line[*at] > '9')
        return false;
    *size = 0;
    for (; *at < line.size() && line[*at] >= '0' && line[*at] <= '9'; ++*at) {
        if (*size <= UINT_MAX)  // stays just past what a header can report instead of wrapping
            *size = *size * 10 + (line[*at] - '0');
    }
    return true;
}

HRESULT parseResolution(const std::string& line, HdrLayout* layout) {
    std::size_t at = 0;
    char axes[2];
    bool positive[2];
    std::uint64_t sizes[2];
    if (!parseAxis(line, &at, &axes[0], &positive[0], &sizes[0]) ||
        !parseAxis(line, &at, &axes[1], &positive[1], &sizes[1]) || axes[0] == axes[1] ||
        line.find_first_not_of(' ', at) != std::string::npos) {
        return refuse("HDR: unreadable resolution line \"%s\"", line.c_str());
    }
    const int x = axes[0] == 'X' ? 0 : 1, y = 1 - x;
    if (HRESULT hr = checkDeclaredSides("HDR", sizes[x], sizes[y]); FAILED(hr))
        return hr;
    layout->width = static_cast<std::uint32_t>(sizes[x]);
    layout->height = static_cast<std::uint32_t>(sizes[y]);
    layout->orientation = Orientation{x == 0, !positive[y], positive[x]};
    layout->scanlines = static_cast<std::uint32_t>(sizes[0]);
    layout->scanlineLength = static_cast<std::uint32_t>(sizes[1]);
    return D3D_OK;
}

// The fewest bytes a scanline can take: flat, or coded with the longest runs.
std::uint64_t fewestScanlineBytes(std::uint32_t length) {
    const std::uint64_t flat = std::uint64_t{length} * 4;
    if (length < kShortestCoded || length > kLongestCoded)
        return flat;
    const std::uint64_t coded = 4 + 4 * 2 * ((length + 126) / 127);
    return coded < flat ? coded : flat;
}

HRESULT parseLayout(Source& file, HdrLayout* layout) {
    Reader in(file, 0, Reader::kHeaderCapacity);
    std::string line;
    if (!readLine(in, &line) || (line != "#?RADIANCE" && line != "#?RGBE"))
        return refuse("HDR: no #?RADIANCE or #?RGBE first line");
    for (;;) {
        if (!readLine(in, &line))
            return refuse("truncated HDR: the header never ends");
        if (line.empty())
            break;
        if (line.compare(0, 7, "FORMAT=") != 0)
            continue;  // exposure, colour primaries, the making program: none changes the stored values
        if (line == "FORMAT=32-bit_rle_xyze")
            return refuse("HDR: XYZE pixels are not read; convert the picture to RGBE");
        if (line != "FORMAT=32-bit_rle_rgbe")
            return refuse("HDR: %s is not read", line.c_str());
    }
    if (!readLine(in, &line))
        return refuse("truncated HDR: no resolution line");
    if (HRESULT hr = parseResolution(line, layout); FAILED(hr))
        return hr;
    layout->dataOffset = in.position();
    const std::uint64_t fewest = productOrMax(fewestScanlineBytes(layout->scanlineLength), layout->scanlines);
    const std::uint64_t available = file.size() - layout->dataOffset;
    if (available < fewest) {
        return refuse("truncated HDR: %s bytes cannot hold %s scanlines of %s pixels",
                      grouped(available).c_str(), grouped(layout->scanlines).c_str(),
                      grouped(layout->scanlineLength).c_str());
    }
    return D3D_OK;
}

// Reads the next scanline into `rgbe` (four bytes a pixel).
HRESULT readScanline(Reader& in, std::uint32_t index, std::vector<std::uint8_t>& rgbe) {
    const std::uint32_t length = static_cast<std::uint32_t>(rgbe.size() / 4);
    const std::uint8_t* start = in.peek(4);
    const bool coded = length >= kShortestCoded && length <= kLongestCoded && start && start[0] == 2 &&
                       start[1] == 2 && (start[2] & 0x80) == 0;
    if (!coded) {
        const std::uint8_t* flat = in.take(rgbe.size());
        if (!flat)
            return refuse("truncated HDR: scanline %u ends early", index);
        std::copy(flat, flat + rgbe.size(), rgbe.begin());
        return D3D_OK;
    }
    const std::uint32_t declared = (start[2] << 8) | start[3];
    if (declared != length)
        return refuse("HDR: scanline %u declares %u pixels, not %u", index, declared, length);
    in.skip(4);
    for (unsigned channel = 0; channel < 4; ++channel) {
        for (std::uint32_t x = 0; x < length;) {
            const int code = in.get();
            if (code < 0)
                return refuse("truncated HDR: scanline %u ends early", index);
            const bool run = code > 128;
            const std::uint32_t count = run ? code - 128 : code;
            if (count == 0)
                return refuse("HDR: zero-length run in scanline %u", index);
            if (count > length - x)
                return refuse("HDR: scanline run past the row end (scanline %u)", index);
            const std::uint8_t* data = in.take(run ? 1 : count);
            if (!data)
                return refuse("truncated HDR: scanline %u ends early", index);
            for (std::uint32_t i = 0; i < count; ++i, ++x)
                rgbe[std::size_t{x} * 4 + channel] = data[run ? 0 : i];
        }
    }
    return D3D_OK;
}

// The size of one mantissa step at each stored exponent; 0 for the exponent that means black.
std::array<float, 256> mantissaSteps() {
    std::array<float, 256> steps{};
    for (int exponent = 1; exponent < 256; ++exponent)
        steps[exponent] = std::ldexp(1.0f, exponent - (128 + 8));
    return steps;
}

}  // namespace

HRESULT probeHdr(Source& file, ImageHeader* header) {
    HdrLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    *header = ImageHeader{layout.width, layout.height, 1, D3DFMT_A32B32G32R32F, D3DFMT_A8R8G8B8, D3DXIFF_HDR};
    return D3D_OK;
}

HRESULT decodeHdr(Source& file, const ImageHeader& header, Destination out) {
    HdrLayout layout;
    if (HRESULT hr = parseLayout(file, &layout); FAILED(hr))
        return hr;
    if (layout.width != header.width || layout.height != header.height ||
        out.size != std::size_t{layout.width} * layout.height * 4) {
        return D3DXERR_INVALIDDATA;
    }
    const Orientation& o = layout.orientation;
    const std::array<float, 256> steps = mantissaSteps();
    std::vector<std::uint8_t> rgbe(std::size_t{layout.scanlineLength} * 4);
    Reader in(file, layout.dataOffset);
    for (std::uint32_t s = 0; s < layout.scanlines; ++s) {
        if (HRESULT hr = readScanline(in, s, rgbe); FAILED(hr))
            return hr;
        for (std::uint32_t i = 0; i < layout.scanlineLength; ++i) {
            const std::uint32_t slow = s, fast = i;
            const std::uint32_t x0 = o.columns ? slow : fast, y0 = o.columns ? fast : slow;
            const std::uint32_t x = o.leftToRight ? x0 : layout.width - 1 - x0;
            const std::uint32_t y = o.topDown ? y0 : layout.height - 1 - y0;
            const std::uint8_t* pixel = &rgbe[std::size_t{i} * 4];
            std::uint8_t* target = out.bytes + (std::size_t{y} * layout.width + x) * 4;
            // Radiance's own reading of a stored value: the middle of the step the mantissa stands for.
            const float step = steps[pixel[3]];
            for (int c = 0; c < 3; ++c)
                target[2 - c] = floatToByte((pixel[c] + 0.5f) * step);
            target[3] = 255;
        }
    }
    return D3D_OK;
}

}  // namespace ImageService::Decode
