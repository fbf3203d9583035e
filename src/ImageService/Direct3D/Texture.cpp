#include "ImageService/Direct3D/Texture.h"

#include <new>

#include "ImageService/Direct3D/TestSeams.h"

namespace ImageService {
namespace {

UINT fullChainLength(UINT width, UINT height) {
    UINT count = 1;
    while (width > 1 || height > 1) {
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
        ++count;
    }
    return count;
}

}  // namespace

HRESULT IDirect3DTexture9::create(UINT width, UINT height, UINT levelCount, DWORD usage, D3DFORMAT format,
                                  DWORD pool, IDirect3DTexture9** texture) {
    if (!texture)
        return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (width == 0 || height == 0 || width > kMaxTextureSide || height > kMaxTextureSide) {
        return D3DERR_INVALIDCALL;
    }
    if (!formatInfo(format))
        return D3DERR_INVALIDCALL;
    UINT chain = fullChainLength(width, height);
    if (levelCount == 0)
        levelCount = chain;
    if (levelCount > chain)
        return D3DERR_INVALIDCALL;

    auto* made = new (std::nothrow) IDirect3DTexture9();
    if (!made)
        return E_OUTOFMEMORY;
    made->pixelFormat = format;
    made->usage = usage;
    made->pool = pool;
    try {
        made->levels.resize(levelCount);
    } catch (const std::bad_alloc&) {
        made->Release();
        return E_OUTOFMEMORY;
    }
    for (UINT i = 0; i < levelCount; ++i) {
        Level& level = made->levels[i];
        level.width = levelExtent(width, i);
        level.height = levelExtent(height, i);
        level.bytes = PixelBuffer::allocate(*levelByteSize(format, level.width, level.height));
        if (level.bytes.empty()) {
            made->Release();
            return E_OUTOFMEMORY;
        }
    }
    *texture = made;
    return D3D_OK;
}

HRESULT IDirect3DTexture9::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (HRESULT fault = TestSeams::takeFault(Operation::GetLevelDesc); FAILED(fault))
        return fault;
    if (!desc || level >= levels.size())
        return D3DERR_INVALIDCALL;
    *desc = D3DSURFACE_DESC{pixelFormat, 1, usage, pool, levels[level].width, levels[level].height};
    return D3D_OK;
}

HRESULT IDirect3DTexture9::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
    if (!surface)
        return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (HRESULT fault = TestSeams::takeFault(Operation::GetSurfaceLevel); FAILED(fault))
        return fault;
    if (level >= levels.size())
        return D3DERR_INVALIDCALL;
    auto* made = new (std::nothrow) IDirect3DSurface9(this, level);
    if (!made)
        return E_OUTOFMEMORY;
    *surface = made;
    return D3D_OK;
}

HRESULT IDirect3DTexture9::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD) {
    if (!locked)
        return D3DERR_INVALIDCALL;
    locked->pBits = nullptr;
    locked->Pitch = 0;
    if (HRESULT fault = TestSeams::takeFault(Operation::LockRect); FAILED(fault))
        return fault;
    // Callers always lock whole levels; a sub-rectangle would need an unpacked view.
    if (rect || level >= levels.size() || levels[level].locked)
        return D3DERR_INVALIDCALL;
    markWritten(level);  // a lock hands out writable bytes
    levels[level].locked = true;
    locked->pBits = levels[level].bytes.data();
    locked->Pitch = static_cast<INT>(*rowPitch(pixelFormat, levels[level].width));
    return D3D_OK;
}

HRESULT IDirect3DTexture9::UnlockRect(UINT level) {
    if (level >= levels.size() || !levels[level].locked)
        return D3DERR_INVALIDCALL;
    levels[level].locked = false;
    return D3D_OK;
}

bool IDirect3DTexture9::adoptLevel(UINT level, PixelBuffer&& bytes) {
    if (level >= levels.size() || bytes.size() != levels[level].bytes.size())
        return false;
    markWritten(level);
    levels[level].bytes = std::move(bytes);
    return true;
}

IDirect3DTexture9::~IDirect3DTexture9() {
    for (UINT level = 0; level < levels.size(); ++level)
        dropExactPixels(level);
}

void IDirect3DTexture9::dropExactPixels(UINT level) {
    ExactSource& exact = levels[level].exact;
    if (exact.texture)
        exact.texture->Release();
    exact = ExactSource{};
}

void IDirect3DTexture9::forgetExactPixels() {
    for (UINT level = 0; level < levels.size(); ++level)
        dropExactPixels(level);
}

void IDirect3DTexture9::markWritten(UINT level) {
    if (level >= levels.size())
        return;
    ++levels[level].generation;
    dropExactPixels(level);
    levels[level].blocksAhead = PixelBuffer{};
}

void IDirect3DTexture9::keepBlocksAhead(UINT level, D3DFORMAT format, PixelBuffer&& blocks) {
    if (level >= levels.size())
        return;
    levels[level].blocksAhead = std::move(blocks);
    levels[level].blocksAheadFormat = format;
}

PixelBuffer IDirect3DTexture9::takeBlocksAhead(UINT level, D3DFORMAT format) {
    if (level >= levels.size() || levels[level].blocksAheadFormat != format)
        return PixelBuffer{};
    return std::move(levels[level].blocksAhead);
}

void IDirect3DTexture9::keepExactPixels(UINT level, IDirect3DTexture9* source, UINT sourceLevel) {
    if (level >= levels.size() || !source || sourceLevel >= source->levels.size())
        return;
    const FormatInfo* info = formatInfo(source->pixelFormat);
    if (!info || info->blockCompressed || source->width(sourceLevel) != width(level) ||
        source->height(sourceLevel) != height(level)) {
        return;
    }
    source->AddRef();
    dropExactPixels(level);
    levels[level].exact = ExactSource{source, sourceLevel, source->levels[sourceLevel].generation};
}

IDirect3DTexture9* IDirect3DTexture9::exactPixels(UINT level, UINT* sourceLevel) {
    if (level >= levels.size())
        return nullptr;
    ExactSource& exact = levels[level].exact;
    if (!exact.texture)
        return nullptr;
    if (exact.texture->levels[exact.level].generation != exact.generation) {
        dropExactPixels(level);  // the source changed since: its pixels are no longer what was compressed
        return nullptr;
    }
    *sourceLevel = exact.level;
    return exact.texture;
}

IDirect3DTexture9* IDirect3DTexture9::soleExactPixels(UINT level, UINT* sourceLevel) {
    IDirect3DTexture9* exact = exactPixels(level, sourceLevel);
    return exact && exact->referenceCount() == 1 ? exact : nullptr;
}

void IDirect3DTexture9::exactPixelsRewritten(UINT level) {
    if (level >= levels.size())
        return;
    ++levels[level].generation;  // its own bytes changed too: a reader of them must know
    ExactSource& exact = levels[level].exact;
    if (exact.texture)
        exact.generation = exact.texture->levels[exact.level].generation;
}

IDirect3DSurface9::IDirect3DSurface9(IDirect3DTexture9* texture, UINT level)
    : owner(texture), levelIndex(level) {
    owner->AddRef();
}

IDirect3DSurface9::~IDirect3DSurface9() {
    owner->Release();
}

}  // namespace ImageService
