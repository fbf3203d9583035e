// The one process-wide buffer into which paths are widened just before a call that opens a file.
// Every holder (the archive for its life, the argument check while it runs) acquires it; the last
// release frees it, and the next acquire makes a new one.
#pragma once

#include "ImageService/Direct3D/Types.h"

class WideStringBuffer {
public:
    static constexpr int kCapacity = 768;

    static ImageService::WCHAR* acquire();
    static void release();
    static int holderCount();
};
