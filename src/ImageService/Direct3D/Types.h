// The plain value types and result codes of the graphics platform that the archive code was written
// against. They live in namespace ImageService so they can never clash with a real platform header;
// the operating system's own value types come from its stand-ins (Platform/Win32.h).
#pragma once

#include <cstdint>

#include "Platform/Win32.h"

namespace ImageService {

using Win32::BOOL;
using Win32::DWORD;
using Win32::HRESULT;
using Win32::HWND;
using Win32::INT;
using Win32::LPCWSTR;
using Win32::UINT;
using Win32::ULONG;
using Win32::WCHAR;

// Result codes; negative means failure.
constexpr HRESULT D3D_OK = 0;
constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017C);
constexpr HRESULT D3DERR_INVALIDDEVICE = static_cast<HRESULT>(0x8876086B);
constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086C);
constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086A);
constexpr HRESULT D3DXERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

constexpr DWORD D3D_SDK_VERSION = 32;

// Pools, usages, filters and lock flags, with the values callers pass.
constexpr DWORD D3DPOOL_DEFAULT = 0;
constexpr DWORD D3DPOOL_MANAGED = 1;
constexpr DWORD D3DUSAGE_AUTOGENMIPMAP = 0x400;
constexpr DWORD D3DUSAGE_DYNAMIC = 0x200;
constexpr DWORD D3DUSAGE_POINTS = 0x40;
constexpr DWORD D3DUSAGE_WRITEONLY = 0x8;
constexpr DWORD D3DX_FILTER_NONE = 1;
// D3DX's best filter value: here Lanczos-3 in linear light whenever a conversion changes the size
// (D3DX_DEFAULT too, as in D3DX). Box is the mip filter's 2x2 average only.
constexpr DWORD D3DX_FILTER_TRIANGLE = 4;
constexpr DWORD D3DX_FILTER_BOX = 5;
constexpr DWORD D3DX_DEFAULT = 0xFFFFFFFF;
constexpr DWORD D3DLOCK_DISCARD = 0x2000;

struct RECT {
    std::int32_t left, top, right, bottom;
};

struct D3DLOCKED_RECT {
    INT Pitch;
    void* pBits;
};

}  // namespace ImageService
