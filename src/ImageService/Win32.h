// The few operating-system calls the tool makes, and the one place where a wide path becomes a file
// name again.
#pragma once

#include <string>

#include "ImageService/Direct3D/Types.h"

namespace ImageService {

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr int LOGPIXELSY = 90;

struct DeviceContext;
using HDC = DeviceContext*;

// There is no window system here: the "foreground window" is one fixed handle that only identifies
// the device's owner.
HWND GetForegroundWindow();
DWORD GetFileAttributesW(LPCWSTR path);
HDC GetDC(HWND window);
int GetDeviceCaps(HDC context, int index);
int ReleaseDC(HWND window, HDC context);

// Paths are widened byte by byte with sign extension; taking each wide character's low byte is the
// exact inverse, so UTF-8 names survive the round trip. Empty for the wide text of a refused path
// (see markRefusedPath), which therefore names no file at all.
std::string narrowPath(LPCWSTR path);

// A conversion that refused an over-long path writes "-" and marks the buffer, so that the refusal
// is never mistaken for a real file called "-".
void markRefusedPath(WCHAR* buffer);

}  // namespace ImageService
