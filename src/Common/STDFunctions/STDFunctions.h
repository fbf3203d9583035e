// String and path helpers shared by the entry, the argument check and the archive. Both the
// backslash and the forward slash separate folders in getFileName; getFolder cuts at the last of
// either.
#pragma once

#include <string>
#include <vector>

#include "Platform/Win32.h"

namespace STDFunctions {

constexpr std::size_t kMaxWideLength = 512;

// Both remove a leading run of tabs; trimLeft then a leading run of spaces, trimRight a trailing one.
void trimLeft(std::string& text);
void trimRight(std::string& text);
void split(const std::string& source, char delimiter, std::vector<std::string>& tokens);

std::string getFileName(const std::string& path);
std::string getFileNameNoExtension(const std::string& path);
std::string getFolder(const std::string& path);
bool fileExists(const std::string& path);

// Widens byte by byte with sign extension into `destination` (at least 512 wide characters). A text
// of 512 characters or more is refused: it is logged and becomes "-", which names no file.
const Win32::WCHAR* stringToLPCWSTR(const std::string& text, Win32::WCHAR* destination);

}  // namespace STDFunctions
