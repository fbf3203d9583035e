// A seam for tests, never reachable from the command line: make a chosen operation fail with a
// chosen result code, so a test can walk every failure path, or act at a chosen moment as a rival
// process could. It sits at the bottom so that every layer, the operating-system stand-ins included,
// can ask it.
#pragma once

#include <functional>
#include <string>

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

// Moments at which another process may act and the code must still do the right thing.
enum class Moment {
    BeforePlacing,  // an output folder's file is written and synced, not yet given its name
    Count
};

// `action` runs each time the moment comes, with what it concerns (the name about to be taken);
// an empty action removes it. clearFaults() removes every action too.
void onMoment(Moment moment, std::function<void(const std::string&)> action);
void reach(Moment moment, const std::string& detail);

}  // namespace FaultSeam
