// The device and the object that makes it. No window or display is needed: the device keeps the
// render states, sampler states, vertex format and transforms it is given as plain records (the
// tool never draws), and creates textures and vertex buffers in memory.
#pragma once

#include <map>
#include <utility>

#include "ImageService/Direct3D/Format.h"
#include "ImageService/Direct3D/Texture.h"
#include "ImageService/Direct3D/Unknown.h"

namespace ImageService {

struct D3DMATRIX {
    float m[4][4];
};

struct D3DDISPLAYMODE {
    UINT Width;
    UINT Height;
    UINT RefreshRate;
    D3DFORMAT Format;
};

struct D3DPRESENT_PARAMETERS {
    UINT BackBufferWidth;
    UINT BackBufferHeight;
    D3DFORMAT BackBufferFormat;
    UINT BackBufferCount;
    DWORD MultiSampleType;
    DWORD MultiSampleQuality;
    DWORD SwapEffect;
    HWND hDeviceWindow;
    BOOL Windowed;
    BOOL EnableAutoDepthStencil;
    D3DFORMAT AutoDepthStencilFormat;
    DWORD Flags;
    UINT FullScreen_RefreshRateInHz;
    UINT PresentationInterval;
};

constexpr UINT D3DADAPTER_DEFAULT = 0;
constexpr DWORD D3DDEVTYPE_HAL = 1;
constexpr DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr DWORD D3DMULTISAMPLE_NONE = 0;
constexpr DWORD D3DSWAPEFFECT_DISCARD = 1;
constexpr DWORD D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL = 2;
constexpr UINT D3DPRESENT_INTERVAL_DEFAULT = 0;

constexpr DWORD D3DRS_SRCBLEND = 19;
constexpr DWORD D3DRS_DESTBLEND = 20;
constexpr DWORD D3DRS_ALPHABLENDENABLE = 27;
constexpr DWORD D3DRS_LIGHTING = 137;
constexpr DWORD D3DRS_POINTSPRITEENABLE = 156;
constexpr DWORD D3DRS_POINTSCALEENABLE = 157;
constexpr DWORD D3DRS_POINTSCALE_A = 158;
constexpr DWORD D3DRS_POINTSCALE_C = 160;
constexpr DWORD D3DBLEND_SRCALPHA = 5;
constexpr DWORD D3DBLEND_INVSRCALPHA = 6;
constexpr DWORD D3DSAMP_MAGFILTER = 5;
constexpr DWORD D3DSAMP_MINFILTER = 6;
constexpr DWORD D3DTEXF_LINEAR = 2;
constexpr DWORD D3DTS_PROJECTION = 3;
constexpr DWORD D3DFVF_XYZ = 0x002;
constexpr DWORD D3DFVF_DIFFUSE = 0x040;
constexpr DWORD D3DFVF_TEX1 = 0x100;

// The largest vertex buffer made; a larger request fails as a device out of memory would, rather than
// taking gigabytes for geometry that is never drawn.
constexpr UINT kMaxVertexBufferBytes = UINT{64} << 20;

// Vertex memory, written through Lock/Unlock and otherwise kept as it is.
class IDirect3DVertexBuffer9 : public IUnknown {
public:
    static HRESULT create(UINT length, DWORD usage, DWORD fvf, DWORD pool, IDirect3DVertexBuffer9** buffer);

    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT Unlock();

    UINT length() const { return static_cast<UINT>(bytes.size()); }
    const std::uint8_t* data() const { return bytes.data(); }
    DWORD usage() const { return usageFlags; }
    DWORD fvf() const { return vertexFormat; }

private:
    IDirect3DVertexBuffer9() = default;
    PixelBuffer bytes;
    DWORD usageFlags = 0;
    DWORD vertexFormat = 0;
    bool locked = false;
};

class IDirect3DDevice9 : public IUnknown {
public:
    HRESULT SetRenderState(DWORD state, DWORD value);
    HRESULT SetSamplerState(DWORD sampler, DWORD type, DWORD value);
    HRESULT SetFVF(DWORD fvf);
    HRESULT SetTransform(DWORD state, const D3DMATRIX* matrix);
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, DWORD pool,
                          IDirect3DTexture9** texture, void* sharedHandle);
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, DWORD pool,
                               IDirect3DVertexBuffer9** buffer, void* sharedHandle);

    // What was set, for inspection (the tool never draws with it).
    const std::map<DWORD, DWORD>& renderStates() const { return renderStateRecord; }
    const std::map<std::pair<DWORD, DWORD>, DWORD>& samplerStates() const { return samplerStateRecord; }
    DWORD fvf() const { return vertexFormat; }
    const std::map<DWORD, D3DMATRIX>& transforms() const { return transformRecord; }
    HWND window() const { return focusWindow; }
    const D3DPRESENT_PARAMETERS& presentParameters() const { return parameters; }

    // A block-compressed texture just made through D3DXCreateTexture is, as a rule, filled next from
    // an image file of its size; the file load takes the hint (once) and compresses while it decodes.
    void expectCompressionInto(D3DFORMAT format, UINT width, UINT height);
    // The block format expected for an image of this size, or D3DFMT_UNKNOWN; clears the hint.
    D3DFORMAT takeExpectedCompression(UINT width, UINT height);

private:
    friend class IDirect3D9;
    IDirect3DDevice9(HWND window, const D3DPRESENT_PARAMETERS& parameters);

    HWND focusWindow;
    D3DPRESENT_PARAMETERS parameters;
    std::map<DWORD, DWORD> renderStateRecord;
    std::map<std::pair<DWORD, DWORD>, DWORD> samplerStateRecord;
    DWORD vertexFormat = 0;
    std::map<DWORD, D3DMATRIX> transformRecord;
    D3DFORMAT expectedFormat = D3DFMT_UNKNOWN;
    UINT expectedWidth = 0;
    UINT expectedHeight = 0;
};

class IDirect3D9 : public IUnknown {
public:
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode);
    HRESULT CreateDevice(UINT adapter, DWORD deviceType, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device);

private:
    friend IDirect3D9* Direct3DCreate9(UINT sdkVersion);
    IDirect3D9() = default;
};

// Nullptr when the platform (or an injected fault) gives no Direct3D object.
IDirect3D9* Direct3DCreate9(UINT sdkVersion);

}  // namespace ImageService
