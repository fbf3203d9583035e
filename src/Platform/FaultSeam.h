// A seam for tests, never reachable from the command line: make a chosen operation fail with a
// chosen result code, so a test can walk every failure path. It sits at the bottom so that every
// layer, the operating-system stand-ins included, can ask it.
#pragma once

#include "Platform/Win32.h"

namespace FaultSeam {

enum class Operation {
    Direct3DCreate9,
    GetAdapterDisplayMode,
    CreateDevice,
    CreateTexture,  // IDirect3DDevice9::CreateTexture
    D3DXCreateTexture,
    D3DXCreateTextureFromFile,
    D3DXGetImageInfoFromFile,
    GetSurfaceLevel,
    GetLevelDesc,
    LockRect,
    LoadSurfaceFromSurface,
    FilterTexture,
    CreateVertexBuffer,
    VertexBufferLock,
    CreateFont,
    CreateSprite,
    GetDC,
    FileWrite,       // archive file output: a write, seek, sync or rename
    QuantiseMemory,  // the colour quantiser's working memory
    Count
};

// The call of `operation` that comes after `skipCalls` successful ones fails with `code`, and so do
// the following `times - 1` calls.
void injectFault(Operation operation, Win32::HRESULT code, int skipCalls = 0, int times = 1);
void clearFaults();

// Asked by each operation on entry: a failure code when a fault is due, else 0.
Win32::HRESULT takeFault(Operation operation);

}  // namespace FaultSeam
