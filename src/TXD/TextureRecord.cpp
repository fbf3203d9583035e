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

}  // namespace

std::uint32_t hashName(const std::string& text) {
    std::uint32_t r = 0xFFFFFFFFu;
    for (unsigned char c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c + 0x20);
        if (c == '/')
            c = '\\';
        r = (r >> 8) ^ kCrcTable[(r ^ c) & 0xFF];
    }
    return r;
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
