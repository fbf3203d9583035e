#include "Common/WideStringBuffer.h"

namespace {
Win32::WCHAR* buffer = nullptr;
int holders = 0;
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
