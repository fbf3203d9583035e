// The file entry points themselves: argument and path handling, the fault seam, format detection by
// content, channel order of freshly written files, and refusal of every truncated prefix.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "ImageService/D3DX.h"
#include "ImageService/TestSeams.h"
#include "ImageService/Win32.h"
#include "support/ImageFiles.h"
#include "support/TempFolder.h"

namespace {

using namespace ImageService;

const std::string kData = QUILLPACK_TESTDATA_DIR;

std::u16string widen(const std::string& path) {
    std::u16string wide;
    for (char c : path)
        wide.push_back(static_cast<char16_t>(static_cast<signed char>(c)));
    return wide;
}

class ImageFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        direct3D = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(direct3D, nullptr);
        D3DPRESENT_PARAMETERS parameters{};
        ASSERT_EQ(direct3D->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device), D3D_OK);
        liveAtStart = TestSeams::liveObjectCount();
    }
    void TearDown() override {
        TestSeams::clearFaults();
        EXPECT_EQ(TestSeams::liveObjectCount(), liveAtStart);
        if (device)
            device->Release();
        if (direct3D)
            direct3D->Release();
    }

    // Loading must fail, leaving no texture and nothing alive. Header info can only refuse what
    // the header shows: damage inside run-length or compressed data is found while decoding.
    void expectRefused(const std::u16string& path, const std::string& what, bool headerShowsIt = true) {
        D3DXIMAGE_INFO info{};
        if (headerShowsIt) {
            EXPECT_TRUE(FAILED(D3DXGetImageInfoFromFileW(path.c_str(), &info))) << what;
        }
        IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
        EXPECT_TRUE(FAILED(D3DXCreateTextureFromFileW(device, path.c_str(), &texture))) << what;
        EXPECT_EQ(texture, nullptr) << what;
        EXPECT_EQ(TestSeams::liveObjectCount(), liveAtStart) << what;
    }

    IDirect3DTexture9* loadTexture(const std::string& path) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(D3DXCreateTextureFromFileW(device, widen(path).c_str(), &texture), D3D_OK) << path;
        return texture;
    }

    IDirect3D9* direct3D = nullptr;
    IDirect3DDevice9* device = nullptr;
    std::size_t liveAtStart = 0;
    TempFolder folder;
};

TEST_F(ImageFileTest, ArgumentsAndPathsThatNameNoImageAreRefused) {
    const std::u16string png = widen(kData + "/pngsuite/basn2c08.png");
    D3DXIMAGE_INFO info{};
    EXPECT_EQ(D3DXGetImageInfoFromFileW(nullptr, &info), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXGetImageInfoFromFileW(png.c_str(), nullptr), D3DERR_INVALIDCALL);
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(D3DXCreateTextureFromFileW(nullptr, png.c_str(), &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);

    expectRefused(widen(folder / "missing.png"), "missing file");
    expectRefused(widen(folder.path()), "folder");
    writeFile(folder / "empty.png", "");
    expectRefused(widen(folder / "empty.png"), "empty file");
    writeFile(folder / "text.tga", "just some words, not a picture\n");
    expectRefused(widen(folder / "text.tga"), "text under an image name");
    // A refused path conversion leaves "-" behind; it must never be opened as a file of that name.
    writeFile(folder / "-", readFile(kData + "/pngsuite/basn2c08.png"));
    WCHAR refused[4] = {};
    markRefusedPath(refused);
    char* previous = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    expectRefused(std::u16string(refused, 3), "refused path");
    EXPECT_EQ(chdir(previous), 0);
    free(previous);
}

TEST_F(ImageFileTest, InjectedFaultsAreReturnedAsGiven) {
    const std::u16string png = widen(kData + "/pngsuite/basn2c08.png");
    D3DXIMAGE_INFO info{};
    TestSeams::injectFault(Operation::D3DXGetImageInfoFromFile, E_FAIL);
    EXPECT_EQ(D3DXGetImageInfoFromFileW(png.c_str(), &info), E_FAIL);
    EXPECT_EQ(D3DXGetImageInfoFromFileW(png.c_str(), &info), D3D_OK);

    TestSeams::injectFault(Operation::D3DXCreateTextureFromFile, E_OUTOFMEMORY, 1);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileW(device, png.c_str(), &texture), D3D_OK);
    texture->Release();
    texture = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(D3DXCreateTextureFromFileW(device, png.c_str(), &texture), E_OUTOFMEMORY);
    EXPECT_EQ(texture, nullptr);
}

TEST_F(ImageFileTest, FileNamesBeyondAsciiSurviveTheWidePath) {
    const std::string name = folder / "bild-\xC3\xA4-\xE7\x94\xBB.png";  // UTF-8 "bild-ä-画.png"
    writeFile(name, readFile(kData + "/pngsuite/basn2c08.png"));
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXGetImageInfoFromFileW(widen(name).c_str(), &info), D3D_OK);
    EXPECT_EQ(info.Width, 32u);
    IDirect3DTexture9* texture = loadTexture(name);
    ASSERT_NE(texture, nullptr);
    texture->Release();
}

TEST_F(ImageFileTest, ContentDecidesTheFormatAndHeaderInfoDescribesIt) {
    struct Case {
        std::string source, disguise;
        D3DXIMAGE_FILEFORMAT container;
        D3DFORMAT fileFormat, textureFormat;
        UINT width, height, mipLevels;
    };
    for (const Case& c : {
             Case{"/bmpsuite/g/rgb24.bmp", "a.png", D3DXIFF_BMP, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 127, 64,
                  1},
             Case{"/pngsuite/basn6a08.png", "b.jpg", D3DXIFF_PNG, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 32, 32,
                  1},
             Case{"/stb-formats/jpeg/hopper.jpg", "c.dds", D3DXIFF_JPG, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 128,
                  128, 1},
             Case{"/tga/common/200x32_rgb_bl_raw.tga", "d.bmp", D3DXIFF_TGA, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8,
                  200, 32, 1},
             Case{"/dds/pillow/hopper.dds", "e.tga", D3DXIFF_DDS, D3DFMT_R8G8B8, D3DFMT_R8G8B8, 128, 128, 8},
             // X1R5G5B5 is reported as stored but widened on load.
             Case{"/dds/pillow/bgr15.dds", "f.png", D3DXIFF_DDS, static_cast<D3DFORMAT>(24), D3DFMT_A8R8G8B8,
                  128, 128, 1},
         }) {
        const std::string path = folder / c.disguise;
        writeFile(path, readFile(kData + c.source));
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(D3DXGetImageInfoFromFileW(widen(path).c_str(), &info), D3D_OK) << c.source;
        EXPECT_EQ(info.ImageFileFormat, c.container) << c.source;
        EXPECT_EQ(info.Format, c.fileFormat) << c.source;
        EXPECT_EQ(info.Width, c.width) << c.source;
        EXPECT_EQ(info.Height, c.height) << c.source;
        EXPECT_EQ(info.MipLevels, c.mipLevels) << c.source;
        EXPECT_EQ(info.Depth, 1u) << c.source;
        IDirect3DTexture9* texture = loadTexture(path);
        ASSERT_NE(texture, nullptr);
        EXPECT_EQ(texture->format(), c.textureFormat) << c.source;
        EXPECT_EQ(texture->GetLevelCount(), 1u) << c.source;
        texture->Release();
    }
}

TEST_F(ImageFileTest, WrittenImagesComeBackAsBlueGreenRedAlpha) {
    const Rgba image = Rgba::pattern(37, 19, true);
    struct Case {
        const char* name;
        void (*write)(const std::string&, const Rgba&);
        bool keepsAlpha;
    };
    auto png = [](const std::string& path, const Rgba& rgba) { writePng(path, rgba, true); };
    for (const Case& c :
         {Case{"p.png", png, true}, Case{"t.tga", writeTga, true}, Case{"b.bmp", writeBmp, false}}) {
        const std::string path = folder / c.name;
        c.write(path, image);
        IDirect3DTexture9* texture = loadTexture(path);
        ASSERT_NE(texture, nullptr) << c.name;
        ASSERT_EQ(texture->levelSize(0), image.pixels.size());
        const std::uint8_t* bgra = texture->levelBytes(0);
        bool same = true;
        for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
            same = same && bgra[i] == image.pixels[i + 2] && bgra[i + 1] == image.pixels[i + 1] &&
                   bgra[i + 2] == image.pixels[i] &&
                   bgra[i + 3] == (c.keepsAlpha ? image.pixels[i + 3] : 255);
        }
        EXPECT_TRUE(same) << c.name;
        texture->Release();
    }
}

TEST_F(ImageFileTest, EveryTruncatedPrefixOfAValidFileIsRefused) {
    for (const char* source : {"/pngsuite/basn2c08.png", "/pngsuite/basi6a16.png", "/bmpsuite/g/rgb24.bmp",
                               "/bmpsuite/g/pal8rle.bmp", "/bmpsuite/g/pal4rle.bmp",
                               "/tga/common/200x32_rgba_tl_raw.tga", "/tga/common/200x32_rgba_bl_rle.tga",
                               "/dds/synthetic/v_dxt1_8x8.dds", "/dds/pillow/uncompressed_rgb.dds",
                               "/stb-formats/jpeg/hopper.jpg", "/stb-formats/jpeg/ljt-testimgint.jpg"}) {
        const std::string whole = readFile(kData + source);
        ASSERT_GT(whole.size(), 64u) << source;
        // A TGA footer only names extension areas; cutting into it loses no pixel.
        const std::string footer("TRUEVISION-XFILE.\0", 18);
        std::size_t end = whole.size();
        if (whole.compare(end - footer.size(), footer.size(), footer) == 0)
            end -= 26;
        const std::string path = folder / "cut";
        for (std::size_t length : {std::size_t{1}, std::size_t{17}, std::size_t{60}, whole.size() / 3,
                                   end / 2, end - 2, end - 1}) {
            writeFile(path, whole.substr(0, length));
            expectRefused(widen(path), std::string(source) + " cut to " + std::to_string(length), false);
        }
    }
}

TEST_F(ImageFileTest, OversizedFilesAreRefusedWithoutBeingRead) {
    const std::string path = folder / "huge.png";
    writeFile(path, readFile(kData + "/pngsuite/basn2c08.png"));
    ASSERT_EQ(truncate(path.c_str(), (off_t{1} << 31)), 0);  // sparse: costs no disk space
    const auto start = std::chrono::steady_clock::now();
    expectRefused(widen(path), "2 GiB file");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
