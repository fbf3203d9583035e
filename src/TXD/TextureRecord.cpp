#include "TXD/TextureRecord.h"

#include <array>

namespace TXD {
namespace {

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        table[i] = r;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

unsigned char fold(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + 0x20);
    return c == '/' ? '\\' : c;
}

}  // namespace

std::uint32_t hashName(const std::string& text) {
    std::uint32_t r = 0xFFFFFFFFu;
    for (unsigned char c : text)
        r = (r >> 8) ^ kCrcTable[(r ^ fold(c)) & 0xFF];
    return r;
}

std::string foldedName(const std::string& text) {
    std::string folded = text;
    for (char& c : folded)
        c = static_cast<char>(fold(static_cast<unsigned char>(c)));
    return folded;
}

bool namesMatch(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

void TextureRecord::setName(std::string text) {
    name = std::move(text);
    if (!name.empty())
        nameHash = hashName(name);
}

void TextureRecord::setMaskName(std::string text) {
    maskName = std::move(text);
    if (!maskName.empty())
        maskNameHash = hashName(maskName);
}

}  // namespace TXD
