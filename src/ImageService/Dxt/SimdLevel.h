// Which instruction-set copy of the block encoder runs. The best level the processor supports is
// picked once at start; tests (and benchmarks) may pin a lower one. Every level gives the same
// blocks, so the choice only changes speed.
#pragma once

#include <vector>

namespace ImageService::Dxt {

enum class SimdLevel {
    Baseline,   // plain x86-64 (SSE2), or whatever the compiler targets elsewhere
    X86_64_V3,  // AVX2, FMA, BMI2
    X86_64_V4,  // AVX-512 F/BW/DQ/VL/CD
};

// Levels this build holds that the running processor can execute, lowest first.
std::vector<SimdLevel> availableSimdLevels();
SimdLevel simdLevel();
// Pins the level for every thread from now on; false (nothing changes) where it is not available.
bool useSimdLevel(SimdLevel level);

}  // namespace ImageService::Dxt
