#include "Common/WideStringBuffer.h"

namespace {
ImageService::WCHAR* buffer = nullptr;
int holders = 0;
}  // namespace

ImageService::WCHAR* WideStringBuffer::acquire() {
    if (!buffer)
        buffer = new ImageService::WCHAR[kCapacity]();
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
