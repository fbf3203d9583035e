// Creates and owns the device on which all image work runs, with its fixed render states and
// projection, and the drawing resources beside it (font, resource textures, vertex buffers, sprite).
// The tool never draws: what matters is the creation order, each failure's message, and that
// shutDown releases exactly what was made.
#pragma once

#include "ImageService/D3DX/D3DX.h"

class RenderSystem {
public:
    // Billboard vertex: position and ARGB colour.
    struct BillboardVertex {
        float x, y, z;
        ImageService::DWORD colour;
    };
    // Mesh vertex: position and texture coordinates.
    struct MeshVertex {
        float x, y, z, u, v;
    };
    static_assert(sizeof(BillboardVertex) == 16);
    static_assert(sizeof(MeshVertex) == 20);

    static constexpr int kMeshVertexCount = 28;
    static const MeshVertex kMeshVertices[kMeshVertexCount];

    Win32::HWND& window;
    float width;
    float height;
    ImageService::IDirect3D9* direct3D = nullptr;
    ImageService::IDirect3DDevice9* device = nullptr;
    ImageService::D3DPRESENT_PARAMETERS presentParameters{};
    bool deviceCreated = false;

    // The render extras and the flags that say which of them exist.
    ImageService::ID3DXFont* font = nullptr;
    ImageService::IDirect3DTexture9* resourceTexture = nullptr;
    ImageService::IDirect3DVertexBuffer9* billboardBuffer = nullptr;
    BillboardVertex billboardTemplate{};
    ImageService::ID3DXSprite* sprite = nullptr;
    bool resourceTextureLoaded = true;
    bool billboardsEnabled = true;
    bool spriteCreated = true;
    ImageService::IDirect3DVertexBuffer9* meshBuffer = nullptr;
    ImageService::IDirect3DTexture9* circleTexture = nullptr;
    bool circleTextureLoaded = true;

    RenderSystem(Win32::HWND& window, float width, float height);
    RenderSystem(const RenderSystem&) = delete;
    RenderSystem& operator=(const RenderSystem&) = delete;

    bool initialize();
    bool shutDown();
    bool initializeFont();
    void initializeExtras();
};
