// Sizes the service cannot hold, declared truthfully or not, in every format.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "Platform/FailureReason.h"
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

HRESULT infoOf(const std::string& path, D3DXIMAGE_INFO* info) {
    return D3DXGetImageInfoFromFileW(widen(path).c_str(), info);
}

// Header reads report the size the file declares, even one the service cannot hold, so that the
// caller can name it; loading refuses such a size, and a header that promises more than the file
// holds, before any pixel buffer exists: a few bytes must never make the tool ask for gigabytes.
class ImageLimits : public LeakCheckedDeviceTest {};

TEST_F(ImageLimits, HeadersTellTheTrueSizeAndLoadingRefusesWhatCannotBeHeld) {
    TempFolder folder;
    Rgba wide = Rgba::pattern(20000, 4), tall = Rgba::pattern(4, 16385), small = Rgba::pattern(8, 8);
    writePng(folder / "wide.png", wide);
    writeBmp(folder / "wide.bmp", wide);
    writeTga(folder / "wide.tga", wide);
    writeJpeg(folder / "tall.jpg", tall);
    writeDxt1Dds(folder / "tall.dds", 4, 16385, std::vector<std::uint8_t>(4097 * 8));
    writePng(folder / "a.png", small);
    writeBmp(folder / "a.bmp", small);
    writeTga(folder / "a.tga", small);
    writeJpeg(folder / "a.jpg", small);
    writeDxt1Dds(folder / "a.dds", 8, 8, std::vector<std::uint8_t>(32));

    struct Case {
        const char* name;
        void (*patch)(std::string&);  // makes the header lie; nullptr keeps the file as written
        UINT width, height;           // the size the header then reports; 0 when the header is refused
        const char* reason;           // what loading says
    };
    const Case cases[] = {
        {"wide.png", nullptr, 20000, 4, "PNG image too large: 20000 x 4, at most 16384 on a side"},
        {"wide.bmp", nullptr, 20000, 4, "BMP image too large: 20000 x 4"},
        {"wide.tga", nullptr, 20000, 4, "TGA image too large: 20000 x 4"},
        {"tall.jpg", nullptr, 4, 16385, "JPEG image too large: 4 x 16385"},
        {"tall.dds", nullptr, 4, 16385, "DDS image too large: 4 x 16385"},
        {"a.png",
         [](std::string& b) {
             put32(b, 16, 32768, true);
             put32(b, 29, pngCrc(b, 12, 17), true);
         },
         32768, 8, "PNG image too large: 32768 x 8"},
        {"a.jpg", [](std::string& b) { put16(b, b.find("\xFF\xC0") + 7, 20000, true); }, 20000, 8,
         "JPEG image too large"},
        {"a.bmp", [](std::string& b) { put32(b, 18, 32768); }, 0, 0, "truncated BMP: 8 rows of 98304 bytes"},
        {"a.tga", [](std::string& b) { put16(b, 12, 20000); }, 0, 0, "truncated TGA: 160000 pixels need"},
        {"a.dds", [](std::string& b) { put32(b, 16, 32768); }, 0, 0,
         "truncated DDS: 1 levels need 131072 bytes, 32 remain"},
    };
    for (const Case& c : cases) {
        std::string bytes = readFile(folder / c.name);
        if (c.patch)
            c.patch(bytes);
        writeFile(folder / "file", bytes);
        D3DXIMAGE_INFO info{};
        HRESULT header = infoOf(folder / "file", &info);
        EXPECT_EQ(SUCCEEDED(header), c.width != 0) << c.name;
        if (SUCCEEDED(header)) {
            EXPECT_EQ(std::make_pair(info.Width, info.Height), std::make_pair(c.width, c.height)) << c.name;
        }
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(D3DXCreateTextureFromFileW(d.device, widen(folder / "file").c_str(), &texture),
                  D3DXERR_INVALIDDATA)
            << c.name;
        const std::string reason = FailureReason::take();
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.name << ": " << reason;
        EXPECT_EQ(TestSeams::liveObjectCount(), liveAtStart) << c.name;
    }
}

}  // namespace
