#include "Common/STDFunctions/STDFunctions.h"

#include "Common/MessageLog.h"
#include "Common/WideStringBuffer.h"
#include "Platform/Win32.h"

namespace STDFunctions {
namespace {

void removeLeadingRun(std::string& text, char c) {
    std::size_t first = text.find_first_not_of(c);
    text.erase(0, first == std::string::npos ? text.size() : first);
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

void trimLeft(std::string& text) {
    if (text.empty())
        return;
    removeLeadingRun(text, '\t');
    removeLeadingRun(text, ' ');
}

void trimRight(std::string& text) {
    if (text.empty())
        return;
    removeLeadingRun(text, '\t');
    std::size_t last = text.find_last_not_of(' ');
    text.erase(last == std::string::npos ? 0 : last + 1);
}

void split(const std::string& source, char delimiter, std::vector<std::string>& tokens) {
    tokens.clear();
    std::size_t start = 0;
    for (std::size_t at = source.find(delimiter); at != std::string::npos;
         at = source.find(delimiter, start)) {
        tokens.push_back(source.substr(start, at - start));
        start = at + 1;
    }
    if (start < source.size())
        tokens.push_back(source.substr(start));
    for (std::string& token : tokens) {
        trimLeft(token);
        trimRight(token);
    }
    // A lone token is kept even when empty; from two up, trailing empties go, possibly all of them.
    if (tokens.size() > 1) {
        while (!tokens.empty() && tokens.back().empty())
            tokens.pop_back();
    }
}

std::string getFileName(const std::string& path) {
    if (path.empty())
        return path;
    // Forward slashes separate folders as well, so "art/wall.png" names "wall.png".
    std::string unified = path;
    for (char& c : unified) {
        if (isSeparator(c))
            c = '\\';
    }
    std::vector<std::string> tokens;
    split(unified, '\\', tokens);
    if (!tokens.empty())
        return tokens.back();
    return path;
}

std::string getFileNameNoExtension(const std::string& path) {
    if (path.empty())
        return path;
    std::string name = getFileName(path);
    std::vector<std::string> tokens;
    split(name, '.', tokens);
    if (tokens.size() < 2)
        return name;
    std::string result = tokens[0];
    for (std::size_t i = 1; i + 1 < tokens.size(); ++i)
        result += "." + tokens[i];
    return result;
}

std::string getFolder(const std::string& path) {
    if (path.empty())
        return path;
    std::size_t last = path.find_last_of("\\/");
    if (last == std::string::npos)
        return path;
    return path.substr(0, last);
}

bool fileExists(const std::string& path) {
    // Callers hold the buffer already; holding it here as well keeps a caller that forgot safe.
    const Win32::WCHAR* wide = stringToLPCWSTR(path, WideStringBuffer::acquire());
    bool exists = Win32::GetFileAttributesW(wide) != Win32::INVALID_FILE_ATTRIBUTES;
    WideStringBuffer::release();
    return exists;
}

const Win32::WCHAR* stringToLPCWSTR(const std::string& text, Win32::WCHAR* destination) {
    if (text.size() >= kMaxWideLength) {
        MessageLog::getInstance()->logMessage(
            MessageLog::Error, "String size: %i is greater than max length: %i",
            "Common\\STDFunctions\\STDFunctions", "STDFunctions::stringToLPCWSTR", 840,
            static_cast<int>(text.size()), static_cast<int>(kMaxWideLength));
        Win32::markRefusedPath(destination);
        return destination;
    }
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        destination[i] =
            static_cast<Win32::WCHAR>(static_cast<std::int16_t>(static_cast<signed char>(text[i])));
    }
    destination[i] = 0;
    // Clears a refusal marker left by an earlier conversion, within the destination's promised size.
    if (i + 1 < kMaxWideLength)
        destination[i + 1] = 0;
    return destination;
}

}  // namespace STDFunctions
