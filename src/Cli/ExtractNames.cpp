#include "Cli/ExtractNames.h"

#include <algorithm>
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

std::string FileNames::candidate(const std::string& stem, unsigned suffix) {
    return suffix == 0 ? stem + ".png" : stem + "-" + std::to_string(suffix) + ".png";
}

std::string FileNames::choose(const std::string& stem) {
    unsigned& prefix = takenBelow[folded(stem)];
    unsigned& own = unavailableBelow[stem];
    // Suffixes below the later of the two marks were found unavailable and stay so; the others are
    // tried in the order of a search from "<stem>.png" upward, so the names are that search's.
    for (unsigned suffix = std::max(prefix, own);; ++suffix) {
        const std::string name = candidate(stem, suffix);
        const std::string key = folded(name);
        own = suffix + 1;
        ++tried;
        if (taken.count(key) != 0) {
            if (suffix == prefix)
                ++prefix;
            continue;
        }
        if (blockedNames.count(name) != 0)
            continue;
        if (blocked(name)) {
            blockedNames.insert(name);
            continue;
        }
        taken.insert(key);
        if (suffix == prefix)
            ++prefix;
        return name;
    }
}

}  // namespace Cli
