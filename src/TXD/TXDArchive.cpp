#include "TXD/TXDArchive.h"

#include "Common/WideStringBuffer.h"

namespace TXD {

TXDArchive::TXDArchive() : widePathBuffer(WideStringBuffer::acquire()) {}

TXDArchive::~TXDArchive() {
    // Textures first, index 0 upward, before any name is dropped.
    for (TextureRecord& record : textures) {
        if (record.texture)
            record.texture->Release();
    }
    textures.clear();
    textures.shrink_to_fit();
    WideStringBuffer::release();
    widePathBuffer = nullptr;
}

}  // namespace TXD
