#include "ImageService/Direct3D/Device.h"

#include <cstring>
#include <new>

#include "ImageService/Direct3D/TestSeams.h"

namespace ImageService {

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    if (FAILED(TestSeams::takeFault(Operation::Direct3DCreate9)))
        return nullptr;
    if (sdkVersion != D3D_SDK_VERSION)
        return nullptr;
    return new (std::nothrow) IDirect3D9();
}

HRESULT IDirect3D9::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (HRESULT fault = TestSeams::takeFault(Operation::GetAdapterDisplayMode); FAILED(fault))
        return fault;
    if (!mode || adapter != D3DADAPTER_DEFAULT)
        return D3DERR_INVALIDCALL;
    // A headless service has no screen; it reports the common desktop mode.
    *mode = D3DDISPLAYMODE{800, 600, 60, D3DFMT_X8R8G8B8};
    return D3D_OK;
}

HRESULT IDirect3D9::CreateDevice(UINT adapter, DWORD, HWND focusWindow, DWORD,
                                 D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) {
    if (!device)
        return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (HRESULT fault = TestSeams::takeFault(Operation::CreateDevice); FAILED(fault))
        return fault;
    if (!parameters || adapter != D3DADAPTER_DEFAULT)
        return D3DERR_INVALIDCALL;
    auto* made = new (std::nothrow) IDirect3DDevice9(focusWindow, *parameters);
    if (!made)
        return E_OUTOFMEMORY;
    *device = made;
    return D3D_OK;
}

IDirect3DDevice9::IDirect3DDevice9(HWND window, const D3DPRESENT_PARAMETERS& present)
    : focusWindow(window), parameters(present) {}

HRESULT IDirect3DDevice9::SetRenderState(DWORD state, DWORD value) {
    renderStateRecord[state] = value;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::SetSamplerState(DWORD sampler, DWORD type, DWORD value) {
    samplerStateRecord[{sampler, type}] = value;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::SetFVF(DWORD format) {
    vertexFormat = format;
    return D3D_OK;
}

void IDirect3DDevice9::expectCompressionInto(D3DFORMAT format, UINT width, UINT height) {
    expectedFormat = format;
    expectedWidth = width;
    expectedHeight = height;
}

D3DFORMAT IDirect3DDevice9::takeExpectedCompression(UINT width, UINT height) {
    const D3DFORMAT format =
        width == expectedWidth && height == expectedHeight ? expectedFormat : D3DFMT_UNKNOWN;
    expectedFormat = D3DFMT_UNKNOWN;
    return format;
}

HRESULT IDirect3DDevice9::SetTransform(DWORD state, const D3DMATRIX* matrix) {
    if (!matrix)
        return D3DERR_INVALIDCALL;
    transformRecord[state] = *matrix;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                        DWORD pool, IDirect3DTexture9** texture, void*) {
    if (texture)
        *texture = nullptr;
    if (HRESULT fault = TestSeams::takeFault(Operation::CreateTexture); FAILED(fault))
        return fault;
    return IDirect3DTexture9::create(width, height, levels, usage, format, pool, texture);
}

HRESULT IDirect3DDevice9::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, DWORD pool,
                                             IDirect3DVertexBuffer9** buffer, void*) {
    if (buffer)
        *buffer = nullptr;
    if (HRESULT fault = TestSeams::takeFault(Operation::CreateVertexBuffer); FAILED(fault))
        return fault;
    return IDirect3DVertexBuffer9::create(length, usage, fvf, pool, buffer);
}

HRESULT IDirect3DVertexBuffer9::create(UINT length, DWORD usage, DWORD fvf, DWORD,
                                       IDirect3DVertexBuffer9** buffer) {
    if (!buffer)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0)
        return D3DERR_INVALIDCALL;
    if (length > kMaxVertexBufferBytes)
        return D3DERR_OUTOFVIDEOMEMORY;
    auto* made = new (std::nothrow) IDirect3DVertexBuffer9();
    if (!made)
        return E_OUTOFMEMORY;
    made->bytes = PixelBuffer::allocate(length);
    if (made->bytes.empty()) {
        made->Release();
        return E_OUTOFMEMORY;
    }
    made->usageFlags = usage;
    made->vertexFormat = fvf;
    *buffer = made;
    return D3D_OK;
}

HRESULT IDirect3DVertexBuffer9::Lock(UINT offset, UINT size, void** data, DWORD) {
    if (!data)
        return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (HRESULT fault = TestSeams::takeFault(Operation::VertexBufferLock); FAILED(fault))
        return fault;
    // Size 0 means "to the end", as the platform has it.
    if (locked || offset > bytes.size() || size > bytes.size() - offset)
        return D3DERR_INVALIDCALL;
    locked = true;
    *data = bytes.data() + offset;
    return D3D_OK;
}

HRESULT IDirect3DVertexBuffer9::Unlock() {
    if (!locked)
        return D3DERR_INVALIDCALL;
    locked = false;
    return D3D_OK;
}

}  // namespace ImageService
