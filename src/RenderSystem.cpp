#include "RenderSystem.h"

#include <cstring>

#include "Common/MessageLog.h"
#include "Platform/Win32.h"

using namespace ImageService;

namespace {

constexpr const char* kFile = "RenderSystem";

DWORD floatBits(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

template <typename T>
void releaseIf(T*& object) {
    if (object)
        object->Release();
    object = nullptr;
}

}  // namespace

// Six cube faces, four vertices each in triangle-strip order, then the floor quad just below the cube.
const RenderSystem::MeshVertex RenderSystem::kMeshVertices[kMeshVertexCount] = {
    {-1, 1, -1, 0, 0},
    {1, 1, -1, 1, 0},
    {-1, -1, -1, 0, 1},
    {1, -1, -1, 1, 1},
    {-1, 1, 1, 1, 0},
    {-1, -1, 1, 1, 1},
    {1, 1, 1, 0, 0},
    {1, -1, 1, 0, 1},
    {-1, 1, 1, 0, 0},
    {1, 1, 1, 1, 0},
    {-1, 1, -1, 0, 1},
    {1, 1, -1, 1, 1},
    {-1, -1, 1, 0, 1},
    {-1, -1, -1, 0, 0},
    {1, -1, 1, 1, 1},
    {1, -1, -1, 1, 0},
    {1, 1, -1, 0, 0},
    {1, 1, 1, 1, 0},
    {1, -1, -1, 0, 1},
    {1, -1, 1, 1, 1},
    {-1, 1, -1, 1, 0},
    {-1, -1, -1, 1, 1},
    {-1, 1, 1, 0, 0},
    {-1, -1, 1, 0, 1},
    {-1.7f, -1.05f, 1.7f, 0, 1},
    {-1.7f, -1.05f, -1.7f, 0, 0},
    {1.7f, -1.05f, 1.7f, 1, 1},
    {1.7f, -1.05f, -1.7f, 1, 0},
};

RenderSystem::RenderSystem(HWND& windowHandle, float widthValue, float heightValue)
    : window(windowHandle), width(widthValue), height(heightValue) {
    if (!initialize())
        return;
    initializeFont();
    initializeExtras();
    MessageLog::getInstance()->logMessage(MessageLog::Info, "Render system initialized", kFile,
                                          "RenderSystem::RenderSystem", 67);
}

bool RenderSystem::initialize() {
    MessageLog* log = MessageLog::getInstance();
    direct3D = Direct3DCreate9(D3D_SDK_VERSION);
    if (!direct3D) {
        log->logMessage(MessageLog::Error, "Unable to access Direct3D", kFile, "RenderSystem::initialize",
                        242);
        return false;
    }

    D3DDISPLAYMODE displayMode{};
    if (FAILED(direct3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &displayMode))) {
        log->logMessage(MessageLog::Error, "Unable to get display mode information", kFile,
                        "RenderSystem::initialize", 252);
        releaseIf(direct3D);
        return false;
    }

    presentParameters = D3DPRESENT_PARAMETERS{};
    presentParameters.BackBufferWidth = 0;
    presentParameters.BackBufferHeight = 0;
    presentParameters.BackBufferFormat = displayMode.Format;
    presentParameters.BackBufferCount = 1;
    presentParameters.MultiSampleType = D3DMULTISAMPLE_NONE;
    presentParameters.MultiSampleQuality = 0;
    presentParameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentParameters.hDeviceWindow = window;
    presentParameters.Windowed = 1;
    presentParameters.EnableAutoDepthStencil = 1;
    presentParameters.AutoDepthStencilFormat = D3DFMT_D24S8;
    presentParameters.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL;
    presentParameters.FullScreen_RefreshRateInHz = 0;
    presentParameters.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;

    if (FAILED(direct3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &presentParameters, &device))) {
        log->logMessage(MessageLog::Error, "Failed to create 3D Device", kFile, "RenderSystem::initialize",
                        301);
        device = nullptr;
        releaseIf(direct3D);
        return false;
    }

    device->SetRenderState(D3DRS_LIGHTING, 0);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetRenderState(D3DRS_POINTSPRITEENABLE, 1);
    device->SetRenderState(D3DRS_POINTSCALEENABLE, 1);
    device->SetRenderState(D3DRS_POINTSCALE_A, floatBits(0.0f));
    device->SetRenderState(D3DRS_POINTSCALE_C, floatBits(1.0f));
    device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);

    D3DMATRIX projection;
    float fieldOfView;
    const DWORD kQuarterPiBits = 0x3F490FDB;  // pi / 4 as the 32-bit float the projection was tuned with
    std::memcpy(&fieldOfView, &kQuarterPiBits, sizeof fieldOfView);
    D3DXMatrixPerspectiveFovRH(&projection, fieldOfView, width / height, 0.1f, 1000.0f);
    device->SetTransform(D3DTS_PROJECTION, &projection);

    deviceCreated = true;
    return true;
}

bool RenderSystem::initializeFont() {
    int dotsPerInch = 0;
    if (Win32::HDC screen = Win32::GetDC(nullptr)) {
        dotsPerInch = Win32::GetDeviceCaps(screen, Win32::LOGPIXELSY);
        Win32::ReleaseDC(nullptr, screen);
    }
    INT fontHeight = (-11 * dotsPerInch) / 72;
    if (FAILED(D3DXCreateFontW(device, fontHeight, 0, 700, 1, 0, 1, 0, 4, 0, u"Arial", &font))) {
        font = nullptr;
        MessageLog::getInstance()->logMessage(MessageLog::Error, "Failed to create font", kFile,
                                              "RenderSystem::initializeFont", 378);
        return false;
    }
    return true;
}

void RenderSystem::initializeExtras() {
    MessageLog* log = MessageLog::getInstance();
    if (FAILED(D3DXCreateTextureFromFileW(device, u"resources/textures/texture.dds", &resourceTexture))) {
        resourceTexture = nullptr;
        log->logMessage(MessageLog::Error,
                        "Unable to load the texture \"texture.dds\", please ensure it's in the "
                        "\"resources\\textures\" folder",
                        kFile, "RenderSystem::initializeExtras", 403);
        resourceTextureLoaded = false;
    }
    if (FAILED(D3DXCreateTextureFromFileW(device, u"resources/textures/tech_circle.dds", &circleTexture))) {
        circleTexture = nullptr;
        log->logMessage(MessageLog::Error,
                        "Unable to load the texture \"Tech_Circle.dds\", please ensure it's in the "
                        "\"resources\\textures\" folder",
                        kFile, "RenderSystem::initializeExtras", 410);
        circleTextureLoaded = false;
    }

    billboardTemplate = BillboardVertex{5.0f, 5.0f, 0.0f, 0xFFFFFFFF};
    billboardBuffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(
            2048 * sizeof(BillboardVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_POINTS | D3DUSAGE_WRITEONLY,
            D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_DEFAULT, &billboardBuffer, nullptr))) {
        billboardBuffer = nullptr;
        billboardsEnabled = false;
        log->logMessage(MessageLog::Error, "Unable to create billboard vertex buffer, billboards disabled",
                        kFile, "RenderSystem::initializeExtras", 429);
    } else {
        void* vertices = nullptr;
        // A buffer that will not lock stays unwritten rather than being written through a null pointer.
        if (SUCCEEDED(billboardBuffer->Lock(0, sizeof(BillboardVertex), &vertices, D3DLOCK_DISCARD))) {
            std::memcpy(vertices, &billboardTemplate, sizeof billboardTemplate);
            billboardBuffer->Unlock();
        }
    }

    if (FAILED(D3DXCreateSprite(device, &sprite))) {
        sprite = nullptr;
        log->logMessage(MessageLog::Error, "Failed to create sprite", kFile, "RenderSystem::initializeExtras",
                        445);
        spriteCreated = false;
    }

    if (SUCCEEDED(device->CreateVertexBuffer(864, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                             D3DFVF_XYZ | D3DFVF_TEX1, D3DPOOL_DEFAULT, &meshBuffer,
                                             nullptr))) {
        void* vertices = nullptr;
        if (SUCCEEDED(meshBuffer->Lock(0, sizeof kMeshVertices, &vertices, 0))) {
            std::memcpy(vertices, kMeshVertices, sizeof kMeshVertices);
            meshBuffer->Unlock();
        }
    } else {
        meshBuffer = nullptr;
    }
}

bool RenderSystem::shutDown() {
    if (!deviceCreated)
        return true;
    releaseIf(direct3D);
    releaseIf(device);
    releaseIf(font);
    if (resourceTextureLoaded)
        releaseIf(resourceTexture);
    if (circleTextureLoaded)
        releaseIf(circleTexture);
    if (billboardsEnabled)
        releaseIf(billboardBuffer);
    if (spriteCreated)
        releaseIf(sprite);
    releaseIf(meshBuffer);
    deviceCreated = false;
    MessageLog::getInstance()->logMessage(MessageLog::Info, "Render system shutdown", kFile,
                                          "RenderSystem::shutDown", 227);
    return true;
}
