// Sides the service cannot hold are refused from the header, for every format, before any pixel
// buffer exists: a few bytes must never make the tool ask for gigabytes.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "support/TempFolder.h"
#include "support/Textures.h"

namespace {

using namespace ImageService;

void put16(std::string& bytes, std::size_t at, std::uint32_t v, bool bigEndian = false) {
    bytes[at + (bigEndian ? 1 : 0)] = static_cast<char>(v & 0xFF);
    bytes[at + (bigEndian ? 0 : 1)] = static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& bytes, std::size_t at, std::uint32_t v, bool bigEndian = false) {
    for (int i = 0; i < 4; ++i)
        bytes[at + (bigEndian ? 3 - i : i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t crc32(const std::string& bytes, std::size_t from, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = from; i < from + count; ++i) {
        crc ^= static_cast<unsigned char>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

HRESULT infoOf(const std::string& path, D3DXIMAGE_INFO* info) {
    return D3DXGetImageInfoFromFileW(widen(path).c_str(), info);
}

TEST(ImageLimits, OversizedSidesAreRefusedFromTheHeaderInEveryFormat) {
    TempFolder folder;
    Rgba image = Rgba::pattern(8, 8);
    writePng(folder / "a.png", image);
    writeBmp(folder / "a.bmp", image);
    writeTga(folder / "a.tga", image);
    writeJpeg(folder / "a.jpg", image);
    writeDxt1Dds(folder / "a.dds", 8, 8, std::vector<std::uint8_t>(32));

    struct Case {
        const char* name;
        void (*patch)(std::string&, std::uint32_t);
        std::uint32_t side;
    };
    const Case cases[] = {
        {"a.png",
         [](std::string& b, std::uint32_t side) {
             put32(b, 16, side, true);
             put32(b, 29, crc32(b, 12, 17), true);
         },
         32768},
        {"a.bmp", [](std::string& b, std::uint32_t side) { put32(b, 18, side); }, 32768},
        {"a.tga", [](std::string& b, std::uint32_t side) { put16(b, 12, side); }, 20000},
        {"a.dds", [](std::string& b, std::uint32_t side) { put32(b, 16, side); }, 32768},
        {"a.jpg",
         [](std::string& b, std::uint32_t side) {
             std::size_t sof = b.find("\xFF\xC0");
             put16(b, sof + 7, side, true);
         },
         20000},
    };
    for (const Case& c : cases) {
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(infoOf(folder / c.name, &info), D3D_OK) << c.name;
        EXPECT_EQ(info.Width, 8u) << c.name;
        std::string bytes = readFile(folder / c.name);
        c.patch(bytes, 8);  // the same size, written by the patch: proves the patch hits the field
        writeFile(folder / "same", bytes);
        ASSERT_EQ(infoOf(folder / "same", &info), D3D_OK) << c.name;
        c.patch(bytes, c.side);
        writeFile(folder / "big", bytes);
        std::size_t live = TestSeams::liveObjectCount();
        EXPECT_LT(infoOf(folder / "big", &info), 0) << c.name;
        EXPECT_EQ(TestSeams::liveObjectCount(), live);
    }
}

}  // namespace
