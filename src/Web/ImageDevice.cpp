#include "Web/ImageDevice.h"

#include "Platform/Win32.h"

namespace Web {

ImageDevice::ImageDevice() : window(Win32::GetForegroundWindow()), system(window, 800.0f, 600.0f) {}

ImageDevice::~ImageDevice() {
    system.shutDown();
}

}  // namespace Web
