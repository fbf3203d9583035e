// Internal to the DXT encoder: the block layout every fitting step works on, the 565 endpoint form,
// and the steps' entry points. Each step lives in its own file; ColourBlock.cpp chains them.
#pragma once

#include <cstdint>
#include <cstring>

// The vector types below never cross a library boundary, so the ABI notes GCC attaches to them
// do not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

// The fitting steps are built once per instruction-set level and picked at load time; helpers they
// call are forced inline so that each copy runs at its own vector width.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define DXT_KERNEL __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define DXT_KERNEL
#endif
#define DXT_INLINE inline __attribute__((always_inline))

namespace ImageService::Dxt::detail {

// Sixteen lanes, one per pixel: GCC lowers these to whatever vector width the target has, so the
// same source serves the SSE2 baseline and the AVX2 clones.
typedef float F16 __attribute__((vector_size(64)));
typedef std::int32_t I16 __attribute__((vector_size(64)));
typedef float F8 __attribute__((vector_size(32)));
typedef std::int32_t I8 __attribute__((vector_size(32)));

DXT_INLINE F16 loadF16(const float* p) {
    F16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
DXT_INLINE F8 loadF8(const float* p) {
    F8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
typedef float F4 __attribute__((vector_size(16)));

// Lane-wise mask ? a : b. Written with bit operations because GCC lowers the vector ?: operator
// lane by lane when the vector is wider than the target's registers.
template <class V, class M>
DXT_INLINE V select(M mask, V a, V b) {
    return (V)((mask & (M)a) | (~mask & (M)b));
}
// Pairwise halving keeps the reduction's dependency chain short (and its rounding independent of
// the vector width the clone runs at).
DXT_INLINE float sum16(F16 v) {
    F8 lo;
    F8 hi;
    std::memcpy(&lo, &v, 32);
    std::memcpy(&hi, reinterpret_cast<const char*>(&v) + 32, 32);
    const F8 s8 = lo + hi;
    F4 a;
    F4 b;
    std::memcpy(&a, &s8, 16);
    std::memcpy(&b, reinterpret_cast<const char*>(&s8) + 16, 16);
    const F4 s4 = a + b;
    return (s4[0] + s4[2]) + (s4[1] + s4[3]);
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
DXT_INLINE std::uint16_t pack565(const int* c) { return std::uint16_t((c[0] << 11) | (c[1] << 5) | c[2]); }

// A finished colour block plus its squared RGB error over the pixels that count.
struct Encoded {
    std::uint16_t c0 = 0;
    std::uint16_t c1 = 0;
    std::uint32_t indices = 0;
    float error = 3.4e38f;
    Endpoints ends{};  // matches c0/c1
    Mode mode = Mode::Four;
};

DXT_INLINE std::uint32_t packIndices(I16 idx, std::uint32_t transparent) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        const std::uint32_t k = (transparent >> i) & 1u ? 3u : std::uint32_t(idx[i]);
        bits |= k << (2 * i);
    }
    return bits;
}

// From real-valued endpoints (0..255 per channel): quantised least squares and unit endpoint
// moves until no candidate lowers the error. effort 0 = quick, 1 = full.
Encoded refine(const ColourBlock& block, Mode mode, const float* end0, const float* end1, int effort);

// A block's distinct colours sorted along its principal axis, with prefix sums of their pixel
// counts and of count-weighted colours, for the cluster search. Working on distinct colours keeps
// the search small for the many blocks that use only a few.
struct SortedPoints {
    int n = 0;
    // prefix[ch][k] = sum of the first k colours times their counts; weight[k] = their count sum.
    // Entries past n repeat the totals so that vector loads may run over the end.
    alignas(32) float prefix[3][32];
    alignas(32) float weight[32];
    float t[16];  // sorted projections, for the first guess at the clusters
};

// Best ordered split of the sorted points into the mode's clusters (4: weights 1, 2/3, 1/3, 0;
// 3: weights 1, 1/2, 0) by least squares; radius bounds how far each boundary moves from the guess
// per round (>= 16 searches every split).
void clusterFit(const SortedPoints& points, Mode mode, int radius, float* end0, float* end1);

// Endpoints for a block whose counted pixels are all one colour: per channel, the pair whose
// interpolant (two-thirds point for Four, midpoint for Three) lands nearest the value.
Endpoints singleColourEndpoints(const int* rgb, Mode mode);

// The whole 8-byte colour block for a block of one opaque colour, in the mode with the lower error.
void encodeSolidBlock(const int* rgb, bool allowThree, std::uint8_t* out);

// Search settings, adjustable while tuning.
struct Tuning {
    int radius4 = 16;
    int radius3 = 16;
    int effort = 1;
    bool tryThree = true;
    float threshold = -1.0f;  // blocks whose quick fit errs less are done
    int quickRadius = 1;
    int quickEffort = 0;
    float threeThreshold = 0.0f;  // try the three-colour palette only above this error
    float localThreshold = 0.0f;  // unit endpoint moves only above this error
    bool twoColour = false;
    bool snap = true;
    int pcaIters = 8;
    bool directional = false;
};
extern Tuning g_tuning;

// Full colour half of a block: chooses mode, fits, packs c0, c1 and the 32 index bits (8 bytes).
void encodeColourBlock(const ColourBlock& block, bool allowThree, std::uint8_t* out);

}  // namespace ImageService::Dxt::detail
