#include <cmath>
#include <new>

#include "ImageService/D3DX/D3DX.h"
#include "ImageService/Direct3D/Device.h"
#include "ImageService/Direct3D/TestSeams.h"

namespace ImageService {

HRESULT D3DXCreateTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT levels, DWORD usage,
                          D3DFORMAT format, DWORD pool, IDirect3DTexture9** texture) {
    if (texture)
        *texture = nullptr;
    if (HRESULT fault = TestSeams::takeFault(Operation::D3DXCreateTexture); FAILED(fault))
        return fault;
    if (!device)
        return D3DERR_INVALIDCALL;
    HRESULT hr = IDirect3DTexture9::create(width, height, levels, usage, format, pool, texture);
    if (SUCCEEDED(hr)) {
        const FormatInfo* info = formatInfo(format);
        device->expectCompressionInto(info && info->blockCompressed ? format : D3DFMT_UNKNOWN, width, height);
    }
    return hr;
}

HRESULT D3DXCreateFontW(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels,
                        BOOL italic, DWORD charSet, DWORD outputPrecision, DWORD quality,
                        DWORD pitchAndFamily, LPCWSTR faceName, ID3DXFont** font) {
    if (!font)
        return D3DERR_INVALIDCALL;
    *font = nullptr;
    if (HRESULT fault = TestSeams::takeFault(Operation::CreateFont); FAILED(fault))
        return fault;
    if (!device)
        return D3DERR_INVALIDCALL;
    auto* made = new (std::nothrow) ID3DXFont();
    if (!made)
        return E_OUTOFMEMORY;
    made->height = height;
    made->width = width;
    made->weight = weight;
    made->mipLevels = mipLevels;
    made->italic = italic;
    made->charSet = charSet;
    made->outputPrecision = outputPrecision;
    made->quality = quality;
    made->pitchAndFamily = pitchAndFamily;
    for (int i = 0; faceName && faceName[i] != 0 && i < 31; ++i)
        made->faceName[i] = faceName[i];
    *font = made;
    return D3D_OK;
}

HRESULT D3DXCreateSprite(IDirect3DDevice9* device, ID3DXSprite** sprite) {
    if (!sprite)
        return D3DERR_INVALIDCALL;
    *sprite = nullptr;
    if (HRESULT fault = TestSeams::takeFault(Operation::CreateSprite); FAILED(fault))
        return fault;
    if (!device)
        return D3DERR_INVALIDCALL;
    auto* made = new (std::nothrow) ID3DXSprite();
    if (!made)
        return E_OUTOFMEMORY;
    *sprite = made;
    return D3D_OK;
}

D3DMATRIX* D3DXMatrixPerspectiveFovRH(D3DMATRIX* out, float fovY, float aspect, float zNear, float zFar) {
    if (!out)
        return nullptr;
    float yScale = 1.0f / std::tan(fovY / 2.0f);
    float xScale = yScale / aspect;
    *out = D3DMATRIX{};
    out->m[0][0] = xScale;
    out->m[1][1] = yScale;
    out->m[2][2] = zFar / (zNear - zFar);
    out->m[2][3] = -1.0f;
    out->m[3][2] = zNear * zFar / (zNear - zFar);
    return out;
}

}  // namespace ImageService
