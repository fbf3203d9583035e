// stb_dxt's implementation lives in a unit of its own so that its warnings, which are not ours to
// fix, stay out of the benchmark's -Wall build; only the benchmark links it, never the tool.
// The header's implementation calls memcpy without including its declaration.
#include <cstring>

#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>
