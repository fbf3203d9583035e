// UTF-8 <-> UTF-16 for the Windows implementation: the tool's paths and arguments are UTF-8, the
// system's wide calls take UTF-16.
#pragma once

#include <string>

namespace Platform {

std::wstring widen(const std::string& utf8);
std::string narrow(const wchar_t* utf16);
// The system's message for a GetLastError code, without its trailing line break.
std::string errorText(unsigned long code);

}  // namespace Platform
