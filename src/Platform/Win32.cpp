#include "Platform/Win32.h"

#include "Platform/FaultSeam.h"
#include "Platform/Files.h"

namespace Win32 {
namespace {

// The marker sits behind the terminator of "-", where a normal conversion writes a second zero.
constexpr WCHAR kRefusedMarker = 0xFFFF;

struct WindowHandle* const kForegroundWindow = reinterpret_cast<WindowHandle*>(0x1);
struct DeviceContext* const kScreenContext = reinterpret_cast<DeviceContext*>(0x1);

}  // namespace

HWND GetForegroundWindow() {
    return kForegroundWindow;
}

std::string narrowPath(LPCWSTR path) {
    std::string narrow;
    if (!path)
        return narrow;
    if (path[0] == u'-' && path[1] == 0 && path[2] == kRefusedMarker)
        return narrow;
    for (const WCHAR* p = path; *p != 0; ++p)
        narrow.push_back(static_cast<char>(*p & 0xFF));
    return narrow;
}

void markRefusedPath(WCHAR* buffer) {
    buffer[0] = u'-';
    buffer[1] = 0;
    buffer[2] = kRefusedMarker;
}

DWORD GetFileAttributesW(LPCWSTR path) {
    switch (Platform::pathKind(narrowPath(path))) {
        case Platform::PathKind::Missing:
            return INVALID_FILE_ATTRIBUTES;
        case Platform::PathKind::Folder:
            return FILE_ATTRIBUTE_DIRECTORY;
        default:
            return FILE_ATTRIBUTE_NORMAL;
    }
}

HDC GetDC(HWND) {
    if (FaultSeam::takeFault(FaultSeam::Operation::GetDC) < 0)
        return nullptr;
    return kScreenContext;
}

int GetDeviceCaps(HDC context, int index) {
    // Without a display the screen is taken at the platform's standard 96 dots per inch.
    return context && index == LOGPIXELSY ? 96 : 0;
}

int ReleaseDC(HWND, HDC context) {
    return context ? 1 : 0;
}

}  // namespace Win32
