// The few operating-system calls the tool was written against, as stand-ins that work the same on
// every system, with the plain value types they take; and the one place where a wide path becomes a
// file name again. Namespace Win32 keeps them apart from a real <windows.h>.
#pragma once

#include <cstdint>
#include <string>

namespace Win32 {

using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using WCHAR = char16_t;  // the platform's 16-bit wide character
using LPCWSTR = const WCHAR*;

struct WindowHandle;  // never defined: a handle is only passed along
using HWND = WindowHandle*;
struct DeviceContext;
using HDC = DeviceContext*;

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr int LOGPIXELSY = 90;

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

}  // namespace Win32
