// The one buffer into which paths are widened just before a call that opens a file, one per thread.
// Every holder (the archive for its life, the argument check while it runs) acquires it; the last
// release frees it, and the next acquire makes a new one.
#pragma once

#include "Platform/Win32.h"

class WideStringBuffer {
public:
    static constexpr int kCapacity = 768;

    static Win32::WCHAR* acquire();
    static void release();
    static int holderCount();
};
