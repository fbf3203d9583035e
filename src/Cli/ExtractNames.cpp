#include "Cli/ExtractNames.h"

#include <cctype>

namespace Cli {
namespace {

bool keeps(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

std::string folded(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool reservedOnWindows(const std::string& stem) {
    const std::string device = folded(stem.substr(0, stem.find('.')));
    if (device == "con" || device == "prn" || device == "aux" || device == "nul")
        return true;
    return device.size() == 4 && (device.compare(0, 3, "com") == 0 || device.compare(0, 3, "lpt") == 0) &&
           device[3] >= '1' && device[3] <= '9';
}

}  // namespace

std::string safeFileStem(const std::string& textureName) {
    std::string stem;
    for (unsigned char c : textureName)
        stem += keeps(c) ? static_cast<char>(c) : '_';
    if (stem.empty())
        return "unnamed";
    if (stem[0] == '.')
        stem[0] = '_';
    if (reservedOnWindows(stem))
        stem.insert(0, "_");
    return stem;
}

std::string chooseFileName(const std::string& stem, std::set<std::string>& taken,
                           const std::function<bool(const std::string&)>& blocked) {
    std::string name = stem + ".png";
    for (unsigned suffix = 1; taken.count(folded(name)) != 0 || blocked(name); ++suffix)
        name = stem + "-" + std::to_string(suffix) + ".png";
    taken.insert(folded(name));
    return name;
}

}  // namespace Cli
