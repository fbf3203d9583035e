#include "Common/WideStringBuffer.h"

namespace {
// One buffer per thread: an archive is used on the thread that made it, and archives built side by
// side on several threads must not overwrite each other's paths.
thread_local Win32::WCHAR* buffer = nullptr;
thread_local int holders = 0;
}  // namespace

Win32::WCHAR* WideStringBuffer::acquire() {
    if (!buffer)
        buffer = new Win32::WCHAR[kCapacity]();
    ++holders;
    return buffer;
}

void WideStringBuffer::release() {
    if (holders == 0)
        return;
    if (--holders == 0) {
        delete[] buffer;
        buffer = nullptr;
    }
}

int WideStringBuffer::holderCount() {
    return holders;
}
