// Internal to the DXT encoder: the block layout every fitting step works on, the 565 endpoint form,
// and the steps' entry points. Each step lives in its own file; ColourBlock.cpp chains them.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

// Vector values returned from the always-inline helpers below never cross a real call, so GCC's
// ABI warning about them does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

// The fitting steps are inline and forced into one entry per instruction-set level (see
// ColourBlock.cpp), so that each copy runs at its own vector width; vectors are passed by reference
// for the same reason: no vector ever crosses a real call. GCC builds the x86-64-v3 and v4 copies;
// clang refuses vector-returning helpers inside a wider target than their own, so it builds the
// baseline copy alone.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define DXT_X86_LEVELS 1
#else
#define DXT_X86_LEVELS 0
#endif
#define DXT_INLINE inline __attribute__((always_inline))

namespace ImageService::Dxt::detail {

// Eight-lane vectors are the widest that GCC compiles well for the AVX2 and AVX-512 copies (wider
// generic vectors fall back to per-lane code for compares on AVX2). The SSE2 fallback splits them
// less well and runs several times slower, with the same quality.
typedef float F8 __attribute__((vector_size(32)));
typedef std::int32_t I8 __attribute__((vector_size(32)));
typedef float F4 __attribute__((vector_size(16)));

DXT_INLINE F8 loadF8(const float* p) {
    F8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Lane-wise mask ? a : b, with bit operations: GCC's vector ?: is lowered lane by lane on some
// targets.
template <class V, class M>
DXT_INLINE V select(const M& mask, const V& a, const V& b) {
    return (V)((mask & (M)a) | (~mask & (M)b));
}

// Sixteen lanes, one per pixel of a block, as two eight-lane halves.
struct F16 {
    F8 lo;
    F8 hi;
};
struct I16 {
    I8 lo;
    I8 hi;
    int operator[](int i) const { return i < 8 ? lo[i] : hi[i - 8]; }
};

DXT_INLINE F16 loadF16(const float* p) {
    return {loadF8(p), loadF8(p + 8)};
}
DXT_INLINE F16 operator+(const F16& a, const F16& b) {
    return {a.lo + b.lo, a.hi + b.hi};
}
DXT_INLINE F16 operator-(const F16& a, const F16& b) {
    return {a.lo - b.lo, a.hi - b.hi};
}
DXT_INLINE F16 operator*(const F16& a, const F16& b) {
    return {a.lo * b.lo, a.hi * b.hi};
}
DXT_INLINE F16 operator+(const F16& a, float b) {
    return {a.lo + b, a.hi + b};
}
DXT_INLINE F16 operator-(const F16& a, float b) {
    return {a.lo - b, a.hi - b};
}
DXT_INLINE I16 operator<(const F16& a, const F16& b) {
    return {a.lo < b.lo, a.hi < b.hi};
}
DXT_INLINE I16 operator+(const I16& a, int b) {
    return {a.lo + b, a.hi + b};
}
DXT_INLINE I16 operator==(const I16& a, int b) {
    return {a.lo == b, a.hi == b};
}
DXT_INLINE I16 operator&(const I16& a, const I16& b) {
    return {a.lo & b.lo, a.hi & b.hi};
}
DXT_INLINE F16 select(const I16& m, const F16& a, const F16& b) {
    return {select(m.lo, a.lo, b.lo), select(m.hi, a.hi, b.hi)};
}
DXT_INLINE I16 select(const I16& m, const I16& a, const I16& b) {
    return {select(m.lo, a.lo, b.lo), select(m.hi, a.hi, b.hi)};
}
// Lane-wise minimum of floats that are never negative: their bit patterns order as integers, and
// an integer minimum is one instruction where a float compare-and-select takes two.
DXT_INLINE F8 minNonNegative(const F8& a, const F8& b) {
    const I8 x = (I8)a;
    const I8 y = (I8)b;
    return (F8)(x < y ? x : y);
}
DXT_INLINE F16 minNonNegative(const F16& a, const F16& b) {
    return {minNonNegative(a.lo, b.lo), minNonNegative(a.hi, b.hi)};
}
// v where m is set, 0 elsewhere.
DXT_INLINE F16 keep(const I16& m, const F16& v) {
    return {(F8)(m.lo & (I8)v.lo), (F8)(m.hi & (I8)v.hi)};
}
DXT_INLINE F8 keep(const I8& m, const F8& v) {
    return (F8)(m & (I8)v);
}
// Eight lanes whose sum is v's.
DXT_INLINE F8 fold(const F16& v) {
    return v.lo + v.hi;
}
DXT_INLINE F8 fold(const F8& v) {
    return v;
}

// The sum of all lanes, of a block's sixteen pixels or its (at most eight) distinct colours. Pairwise
// halving keeps the reduction's dependency chain short (and its rounding independent of the vector
// width the copy runs at).
DXT_INLINE float sum16(const F8& v) {
    F4 a;
    F4 b;
    std::memcpy(&a, &v, 16);
    std::memcpy(&b, reinterpret_cast<const char*>(&v) + 16, 16);
    const F4 s4 = a + b;
    return (s4[0] + s4[2]) + (s4[1] + s4[3]);
}
DXT_INLINE float sum16(const F16& v) {
    return sum16(v.lo + v.hi);
}

// Lane j holds the sum of v[j]'s lanes, for eight vectors at once: pairs of vectors are
// interleaved and added three times over, a third of the work of eight separate reductions. The
// order of the additions differs from sum16's, so it serves sums that are exact in any order.
DXT_INLINE F8 sumEach(const F8* v) {
    F8 a[4];
    for (int i = 0; i < 4; ++i) {
        a[i] = __builtin_shufflevector(v[2 * i], v[2 * i + 1], 0, 8, 2, 10, 4, 12, 6, 14) +
               __builtin_shufflevector(v[2 * i], v[2 * i + 1], 1, 9, 3, 11, 5, 13, 7, 15);
    }
    F8 b[2];
    for (int i = 0; i < 2; ++i) {
        b[i] = __builtin_shufflevector(a[2 * i], a[2 * i + 1], 0, 1, 8, 9, 4, 5, 12, 13) +
               __builtin_shufflevector(a[2 * i], a[2 * i + 1], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    return __builtin_shufflevector(b[0], b[1], 0, 1, 2, 3, 8, 9, 10, 11) +
           __builtin_shufflevector(b[0], b[1], 4, 5, 6, 7, 12, 13, 14, 15);
}

// One block's pixels split by channel (0..255 as floats, exact) so that all 16 are handled at once.
struct ColourBlock {
    alignas(64) float r[16];
    alignas(64) float g[16];
    alignas(64) float b[16];
    // 1 where the pixel's colour counts toward the error; 0 outside the image or transparent.
    alignas(64) float w[16];
    // DXT1 only: pixels that must decode transparent, which forces the three-colour palette.
    std::uint32_t transparent = 0;
};

// The colours a fit scores and their weights: a block's sixteen pixels (V = F16, weight 1 where the
// pixel counts), or for a block of at most eight colours its distinct colours weighted by their
// pixel counts (V = F8). Every error and sum taken over them is a sum of integers below 2^24, exact
// in either form, so both give the same results; the second takes half the lanes.
template <class V>
struct Colours {
    V x[3];
    V w;
};
// Per-lane palette indices of each form.
template <class V>
using IndexLanes = std::conditional_t<std::is_same_v<V, F16>, I16, I8>;

DXT_INLINE Colours<F16> pixelsOf(const ColourBlock& block) {
    return {{loadF16(block.r), loadF16(block.g), loadF16(block.b)}, loadF16(block.w)};
}

// DXT1 decides the palette from the order of the two packed endpoints: c0 > c1 gives four
// colours, c0 <= c1 gives three plus transparent black.
enum class Mode { Four, Three };

// Endpoint channels at storage precision: red and blue 0..31, green 0..63.
struct Endpoints {
    int c[2][3];
};

inline constexpr int kChannelMax[3] = {31, 63, 31};

DXT_INLINE int expandChannel(int value, int channel) {
    return channel == 1 ? (value << 2) | (value >> 4) : (value << 3) | (value >> 2);
}
DXT_INLINE std::uint16_t pack565(const int* c) {
    return std::uint16_t((c[0] << 11) | (c[1] << 5) | c[2]);
}

// A finished colour block plus its squared RGB error over the pixels that count.
struct Encoded {
    std::uint16_t c0 = 0;
    std::uint16_t c1 = 0;
    std::uint32_t indices = 0;
    float error = 3.4e38f;
    Endpoints ends{};  // matches c0/c1
    Mode mode = Mode::Four;
};

DXT_INLINE std::uint32_t packIndices(const I16& idx, std::uint32_t transparent) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        const std::uint32_t k = (transparent >> i) & 1u ? 3u : std::uint32_t(idx[i]);
        bits |= k << (2 * i);
    }
    return bits;
}

// A block's distinct colours sorted along its principal axis, with prefix sums of their pixel
// counts and of count-weighted colours, for the cluster search. Working on distinct colours keeps
// the search small for the many blocks that use only a few.
struct SortedPoints {
    int n = 0;
    // prefix[ch][k] = sum of the first k colours times their counts; weight[k] = their count sum.
    // Entries past n repeat the totals, so that two eight-wide loads from any cut stay in bounds.
    alignas(32) float prefix[3][32];
    alignas(32) float weight[32];
    alignas(32) float t[16];  // sorted projections, for the first guess at the clusters; FLT_MAX past n
};

// Endpoints for a block whose counted pixels are all one colour: per channel, the pair whose
// interpolant (two-thirds point for Four, midpoint for Three) lands nearest the value.
Endpoints singleColourEndpoints(const int* rgb, Mode mode);

// The whole 8-byte colour block for a block of one opaque colour, in the mode with the lower error.
void encodeSolidBlock(const int* rgb, bool allowThree, std::uint8_t* out);

struct SearchEffort;

// Full colour half of a block: chooses mode, fits, packs c0, c1 and the 32 index bits (8 bytes), at
// the instruction-set level in use (SimdLevel.h).
void encodeColourBlock(const ColourBlock& block, bool allowThree, const SearchEffort& effort,
                       std::uint8_t* out);

}  // namespace ImageService::Dxt::detail
