// Whether the tests run under AddressSanitizer and UBSan (the sanitize build), where every allocation
// and memory access costs several times more and resident memory is not the tool's own. Heavy
// comparisons over the whole corpus belong to the optimised pass; under the sanitizers a test takes a
// sample that still walks every code path, so it stays far from its time limit on a busy machine.
#pragma once

#include <cstddef>

#if defined(QUILLPACK_TESTS_SANITIZED) || defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderSanitizers = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderSanitizers = true;
#else
constexpr bool kUnderSanitizers = false;
#endif
#else
constexpr bool kUnderSanitizers = false;
#endif

// The corpus images a sanitized run keeps: those of at most 256 x 256 pixels (eight of the 24, five
// with alpha), every image otherwise.
inline bool sampledUnderSanitizers(unsigned width, unsigned height) {
    return !kUnderSanitizers || std::size_t(width) * height <= 256 * 256;
}
