// Textures and their level surfaces. A texture owns one zeroed, packed byte buffer per level: rows
// without gaps, and for block-compressed formats rows of 4x4 blocks, so a lock's pitch is the
// packed row size and callers may read the level as one run of bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ImageService/Direct3D/Format.h"
#include "ImageService/Direct3D/PixelBuffer.h"
#include "ImageService/Direct3D/Unknown.h"

namespace ImageService {

struct D3DSURFACE_DESC {
    D3DFORMAT Format;
    DWORD Type;
    DWORD Usage;
    DWORD Pool;
    UINT Width;
    UINT Height;
};

class IDirect3DSurface9;

class IDirect3DTexture9 : public IUnknown {
public:
    // Levels 0 means the full chain down to 1x1. Sides of 0 or above kMaxTextureSide, unknown
    // formats and level counts beyond the chain give D3DERR_INVALIDCALL; memory that cannot be had
    // gives E_OUTOFMEMORY.
    static HRESULT create(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, DWORD pool,
                          IDirect3DTexture9** texture);

    DWORD GetLevelCount() const { return static_cast<DWORD>(levels.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc);
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface);
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
    HRESULT UnlockRect(UINT level);

    // Direct access for the service's own pixel work. A level the texture does not have reads as
    // empty: sides and size 0, no bytes, not locked.
    D3DFORMAT format() const { return pixelFormat; }
    UINT width(UINT level = 0) const { return level < levels.size() ? levels[level].width : 0; }
    UINT height(UINT level = 0) const { return level < levels.size() ? levels[level].height : 0; }
    std::uint8_t* levelBytes(UINT level) {
        return level < levels.size() ? levels[level].bytes.data() : nullptr;
    }
    std::size_t levelSize(UINT level) const { return level < levels.size() ? levels[level].bytes.size() : 0; }
    bool isLocked(UINT level) const { return level < levels.size() && levels[level].locked; }
    // Installs a decoder's buffer as a level's bytes without a copy; the size must match the level.
    bool adoptLevel(UINT level, PixelBuffer&& bytes);

    // Exact pixels beside blocks. When a block-compressed level is made from uncompressed pixels, the
    // service keeps a reference to those pixels, so that reading the level back (converting it, or
    // filtering mip levels from it) starts from what was compressed rather than from the lossy blocks:
    // the alpha merge and the mip chain then compress colour once, not twice. The reference lapses as
    // soon as either side may have changed (a lock, a new conversion into it) or the level is written.
    void keepExactPixels(UINT level, IDirect3DTexture9* source, UINT sourceLevel);
    // The uncompressed level this level was made from, while it still holds; else nullptr.
    IDirect3DTexture9* exactPixels(UINT level, UINT* sourceLevel);
    // For a write into part of the level: its exact pixels when only this level holds them (nobody
    // else can see them change), so that the writer updates them too and then calls
    // exactPixelsRewritten; nullptr otherwise, and the write drops them as any other does.
    IDirect3DTexture9* soleExactPixels(UINT level, UINT* sourceLevel);
    void exactPixelsRewritten(UINT level);
    // Lets go of every level's exact pixels: a finished texture that waits beside others (a whole
    // dictionary being built) should hold its blocks only.
    void forgetExactPixels();
    // Blocks compressed from a level's pixels before anyone asked (see CompressAhead), for the
    // conversion expected next. Any write to the level drops them; taking them hands them over.
    void keepBlocksAhead(UINT level, D3DFORMAT format, PixelBuffer&& blocks);
    PixelBuffer takeBlocksAhead(UINT level, D3DFORMAT format);
    // Every write into a level goes through here (locks included): it drops the level's kept pixels
    // and invalidates any reference other levels keep to this one.
    void markWritten(UINT level);

private:
    IDirect3DTexture9() = default;
    ~IDirect3DTexture9() override;

    struct ExactSource {
        IDirect3DTexture9* texture = nullptr;  // one reference held while kept
        UINT level = 0;
        std::uint64_t generation = 0;  // the source level's generation when the pixels were compressed
    };
    struct Level {
        UINT width = 0;
        UINT height = 0;
        PixelBuffer bytes;
        bool locked = false;
        std::uint64_t generation = 0;  // bumped by every write
        ExactSource exact;
        PixelBuffer blocksAhead;
        D3DFORMAT blocksAheadFormat = D3DFMT_UNKNOWN;
    };
    void dropExactPixels(UINT level);
    D3DFORMAT pixelFormat = D3DFMT_UNKNOWN;
    DWORD usage = 0;
    DWORD pool = 0;
    std::vector<Level> levels;
};

// A view of one level; it holds a reference to its texture, so the texture outlives it.
class IDirect3DSurface9 : public IUnknown {
public:
    IDirect3DSurface9(IDirect3DTexture9* texture, UINT level);
    ~IDirect3DSurface9() override;

    HRESULT GetDesc(D3DSURFACE_DESC* desc) { return owner->GetLevelDesc(levelIndex, desc); }
    IDirect3DTexture9* texture() const { return owner; }
    UINT level() const { return levelIndex; }

private:
    IDirect3DTexture9* owner;
    UINT levelIndex;
};

}  // namespace ImageService
