// The device the image work of one call runs on, made and torn down as the command line's --add does:
// a render system, whose optional extras simply stay off where their resources are missing.
#pragma once

#include "RenderSystem.h"

namespace Web {

class ImageDevice {
public:
    ImageDevice();
    ~ImageDevice();
    ImageDevice(const ImageDevice&) = delete;
    ImageDevice& operator=(const ImageDevice&) = delete;

    bool ready() const { return system.deviceCreated; }
    ImageService::IDirect3DDevice9*& get() { return system.device; }

private:
    Win32::HWND window;
    RenderSystem system;
};

}  // namespace Web
