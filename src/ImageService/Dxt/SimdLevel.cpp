// Level detection uses the compiler's processor check, which reads cpuid and the operating system's
// saved vector state the same way on Linux and Windows.
#include "ImageService/Dxt/SimdLevel.h"

#include <atomic>

#include "ImageService/Dxt/DxtBlock.h"

namespace ImageService::Dxt {
namespace {

SimdLevel detectSimdLevel() {
#if DXT_X86_LEVELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("x86-64-v4")) {
        return SimdLevel::X86_64_V4;
    }
    if (__builtin_cpu_supports("x86-64-v3")) {
        return SimdLevel::X86_64_V3;
    }
#endif
    return SimdLevel::Baseline;
}

SimdLevel bestSimdLevel() {
    static const SimdLevel best = detectSimdLevel();
    return best;
}

std::atomic<SimdLevel>& currentLevel() {
    static std::atomic<SimdLevel> level{bestSimdLevel()};
    return level;
}

}  // namespace

std::vector<SimdLevel> availableSimdLevels() {
    std::vector<SimdLevel> levels;
    for (const SimdLevel l : {SimdLevel::Baseline, SimdLevel::X86_64_V3, SimdLevel::X86_64_V4}) {
        if (l <= bestSimdLevel()) {
            levels.push_back(l);
        }
    }
    return levels;
}

SimdLevel simdLevel() {
    return currentLevel().load(std::memory_order_relaxed);
}

bool useSimdLevel(SimdLevel level) {
    if (level > bestSimdLevel()) {
        return false;
    }
    currentLevel().store(level, std::memory_order_relaxed);
    return true;
}

}  // namespace ImageService::Dxt
