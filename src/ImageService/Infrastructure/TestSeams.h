// Two seams for tests, never reachable from the command line: make a chosen service operation fail
// with a chosen result code, and count the live service objects so a test can prove that a failure
// path released everything it made.
#pragma once

#include <cstddef>

#include "ImageService/Direct3D/Types.h"

namespace ImageService {

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
    FileWrite,  // archive file output: a write, seek, sync or rename
    Count
};

namespace TestSeams {

// The call of `operation` that comes after `skipCalls` successful ones fails with `code`, and so do
// the following `times - 1` calls.
void injectFault(Operation operation, HRESULT code, int skipCalls = 0, int times = 1);
void clearFaults();

// Asked by each operation on entry: a failure code when a fault is due, else D3D_OK.
HRESULT takeFault(Operation operation);

// Objects created by the service and not yet destroyed (textures, surfaces, devices, buffers...).
std::size_t liveObjectCount();

}  // namespace TestSeams
}  // namespace ImageService
