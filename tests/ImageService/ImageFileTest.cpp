// Reading image files. Every file of the public suites in tests/data is read or refused as its README
// says, with pixels compared against a second decoding wherever the suite gives one (libspng's
// whole-image decode for PngSuite, the reference PNGs for TGA and DDS, sibling files that encode the
// same picture). Then the entry points themselves: arguments and paths, the fault seam, detection by
// content, and refusal of every truncated prefix. Every refusal leaves nothing alive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ImageService/Win32.h"
#include "support/TempFolder.h"
#include "support/Textures.h"

namespace ImageService {
namespace {

const std::string kData = QUILLPACK_TESTDATA_DIR;

std::vector<std::string> filesIn(const std::string& folder, const std::string& extension = "") {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(kData + "/" + folder)) {
        if (extension.empty() || entry.path().extension() == extension)
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string nameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

struct Image {
    bool loaded = false;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    Rgba rgba;
};

class ImageFileTest : public ::testing::Test {
protected:
    void TearDown() override {
        TestSeams::clearFaults();
        EXPECT_EQ(TestSeams::liveObjectCount(), liveAtStart);
    }

    // Loads through both entry points and checks what must hold for any file: a refusal leaves no
    // texture and nothing alive, and a loaded texture has the size the header promised.
    Image load(const std::string& path) {
        SCOPED_TRACE(path);
        D3DXIMAGE_INFO info{};
        HRESULT infoResult = D3DXGetImageInfoFromFileW(widen(path).c_str(), &info);
        IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
        Image image;
        if (FAILED(D3DXCreateTextureFromFileW(d.device, widen(path).c_str(), &texture))) {
            EXPECT_EQ(texture, nullptr);
        } else {
            TextureRef owned(texture);
            EXPECT_TRUE(SUCCEEDED(infoResult));
            EXPECT_EQ(texture->GetLevelCount(), 1u);
            EXPECT_EQ(info.Width, texture->width());
            EXPECT_EQ(info.Height, texture->height());
            image = Image{true, texture->format(), rgbaOf(texture)};
        }
        EXPECT_EQ(TestSeams::liveObjectCount(), liveAtStart);
        return image;
    }
    // Header info can only refuse what the header shows: damage inside run-length or compressed data
    // is found while decoding.
    void expectRefused(const std::string& path, bool headerShowsIt = false) {
        EXPECT_FALSE(load(path).loaded) << path << " should be refused";
        D3DXIMAGE_INFO info{};
        if (headerShowsIt) {
            EXPECT_TRUE(FAILED(D3DXGetImageInfoFromFileW(widen(path).c_str(), &info))) << path;
        }
    }
    Image expectDecoded(const std::string& path) {
        Image image = load(path);
        EXPECT_TRUE(image.loaded) << path << " should decode";
        return image;
    }
    void expectSamePixels(const std::string& path, const std::string& referencePath) {
        Rgba image = expectDecoded(path).rgba, reference = expectDecoded(referencePath).rgba;
        EXPECT_EQ(image.width, reference.width) << path;
        EXPECT_TRUE(image.pixels == reference.pixels) << path << " differs from " << referencePath;
    }

    TestDevice d;
    TempFolder folder;
    std::size_t liveAtStart = TestSeams::liveObjectCount();
};

TEST_F(ImageFileTest, PngSuiteDecodesValidFilesExactlyAndRefusesCorruptOnes) {
    std::vector<std::string> files = filesIn("pngsuite", ".png");
    ASSERT_EQ(files.size(), 175u);
    for (const std::string& path : files) {
        if (nameOf(path)[0] == 'x')
            expectRefused(path);
        else
            EXPECT_TRUE(expectDecoded(path).rgba.pixels == readPng(path).pixels) << path;
    }
    // Damaged checksums, empty ancillary chunks and out-of-range palette indices may go either way.
    const std::set<std::string> either = {"badadler.png", "badcrc.png", "empty_ancillary_chunks.png"};
    for (const char* folder : {"libpng-crashers", "libspng-crashers", "pillow", "stb-fuzz"}) {
        for (const std::string& path : filesIn(std::string("png-malformed/") + folder, ".png")) {
            if (either.count(nameOf(path)))
                load(path);
            else
                expectRefused(path);
        }
    }
    for (const std::string& path : filesIn("png-malformed/libpng-badpal", ".png"))
        load(path);
}

TEST_F(ImageFileTest, BmpSuiteFollowsItsReadme) {
    for (const std::string& path : filesIn("bmpsuite/g", ".bmp"))
        expectDecoded(path);
    for (const std::string& path : filesIn("bmpsuite/q", ".bmp"))
        load(path);
    const std::set<std::string> refused = {"badbitcount.bmp", "badheadersize.bmp", "badplanes.bmp",
                                           "badwidth.bmp",    "reallybig.bmp",     "rletopdown.bmp",
                                           "shortfile.bmp"};
    for (const std::string& path : filesIn("bmpsuite/b", ".bmp")) {
        if (refused.count(nameOf(path)))
            expectRefused(path);
        else
            load(path);
    }
    expectRefused(kData + "/bmpsuite/x/ba-bm.bmp");
    // Header versions, orientation, run-length coding and palette size must not change the pixels.
    const std::string g = kData + "/bmpsuite/g/";
    for (const char* variant : {"pal8v4", "pal8v5", "pal8topdown", "pal8rle", "pal8os2", "pal8-0"})
        expectSamePixels(g + variant + ".bmp", g + "pal8.bmp");
    for (const char* variant : {"rgb24pal", "rgb32", "rgb32bf", "rgb32bfdef"})
        expectSamePixels(g + variant + ".bmp", g + "rgb24.bmp");
    expectSamePixels(g + "pal4rle.bmp", g + "pal4.bmp");
    expectSamePixels(g + "rgb16bfdef.bmp", g + "rgb16.bmp");
    expectSamePixels(g + "rgb16-565pal.bmp", g + "rgb16-565.bmp");
}

TEST_F(ImageFileTest, TgaFilesMatchTheirReferencePngs) {
    std::vector<std::string> files = filesIn("tga/common", ".tga");
    ASSERT_EQ(files.size(), 24u);
    for (const std::string& path : files) {
        std::string name = nameOf(path);
        std::string group = name.substr(0, name.find('_', name.find('_') + 1));  // "200x32_rgba"
        expectSamePixels(path, kData + "/tga/common/" + group + ".png");
    }
    const std::string misc = kData + "/tga/misc/";
    expectSamePixels(misc + "200x32_p_bl_raw_origin.tga", kData + "/tga/common/200x32_p.png");
    expectSamePixels(misc + "cross_scan_line.tga", misc + "cross_scan_line.png");
    expectSamePixels(misc + "p_16.tga", misc + "p_16.png");
    expectDecoded(misc + "la.tga");
    expectDecoded(misc + "tga_id_field.tga");
    load(misc + "p_8.tga");
    expectRefused(misc + "cross_scan_line_truncated.tga");
    expectRefused(misc + "truncated_raw_200x32_rgb.tga");
    // Colours as Pillow reads them; the alpha bit is read as the platform's A1R5G5B5 (set = opaque),
    // where Pillow reads it inverted.
    EXPECT_EQ(expectDecoded(misc + "rgba16.tga").rgba.pixels,
              (std::vector<std::uint8_t>{172, 0, 255, 0, 0, 255, 82, 255}));
}

TEST_F(ImageFileTest, DdsFilesKeepTheirFormatAndMatchReferences) {
    const std::string pillow = kData + "/dds/pillow/";
    const std::map<std::string, D3DFORMAT> withReference = {
        {"dxt1-rgb-4bbp-noalpha_MipMaps-1", D3DFMT_DXT1},
        {"dxt3-argb-8bbp-explicitalpha_MipMaps-1", D3DFMT_DXT3},
        {"dxt5-argb-8bbp-interpolatedalpha_MipMaps-1", D3DFMT_DXT5},
        {"uncompressed_rgb", D3DFMT_A8R8G8B8},
        {"hopper", D3DFMT_R8G8B8},
        {"bgr15", D3DFMT_A8R8G8B8},
        {"uncompressed_l", D3DFMT_A8R8G8B8},
        {"uncompressed_la", D3DFMT_A8R8G8B8}};
    for (const auto& [name, format] : withReference) {
        expectSamePixels(pillow + name + ".dds", pillow + name + ".png");
        EXPECT_EQ(load(pillow + name + ".dds").format, format) << name;
    }
    const Rgba issue4142 = expectDecoded(pillow + "dxt5-colorblock-alpha-issue-4142.dds").rgba;
    ASSERT_EQ(issue4142.pixels.size(), 64u);
    for (int i : {0, 1, 2, 4, 5, 6})
        EXPECT_NE(issue4142.pixels[i], 0) << i;
    for (const std::string& path : filesIn("dds/pillow", ".dds")) {
        const std::string name = nameOf(path).substr(0, nameOf(path).size() - 4);
        if (!withReference.count(name) && name != "dxt5-colorblock-alpha-issue-4142")
            expectRefused(path);
    }
    std::vector<std::string> synthetic = filesIn("dds/synthetic", ".dds");
    ASSERT_EQ(synthetic.size(), 41u);
    for (const std::string& path : synthetic) {
        if (nameOf(path)[0] == 'm')
            expectRefused(path);
        else
            expectDecoded(path);  // v_ must decode; q_ files are valid once the lying field is ignored
    }
    const std::string s = kData + "/dds/synthetic/";
    expectSamePixels(s + "v_dxt1_8x8_trailing_bytes.dds", s + "v_dxt1_8x8.dds");
    expectSamePixels(s + "q_dxt1_linearsize_wrong.dds", s + "v_dxt1_8x8.dds");
    expectSamePixels(s + "q_argb32_pitch_0xFFFFFFFF.dds", s + "v_argb32_2x2.dds");
}

TEST_F(ImageFileTest, OtherFormatsFollowTheirReadme) {
    const std::string jpeg = kData + "/stb-formats/jpeg/";
    for (const char* name : {"hopper.jpg", "hopper_gray.jpg", "ljt-testorig.jpg", "ljt-testimgint.jpg",
                             "truncated_app14.jpg", "truncated_exif_dpi.jpg", "broken_exif_dpi.jpg",
                             "photoshop-200dpi-broken.jpg", "icc-after-SOF.jpg", "pil_sample_cmyk.jpg"})
        expectDecoded(jpeg + name);
    for (const char* name : {"ljt-testimgari.jpg", "junk_jpeg_header.jpg", "jpeg_ff00_header.jpg"})
        load(jpeg + name);
    expectRefused(jpeg + "ljt-monkey12.jpg");
    expectRefused(jpeg + "truncated_jpeg.jpg");
    const std::string bmp = kData + "/stb-formats/bmp/";
    for (const char* name : {"hopper.bmp", "rgb32bf-abgr.bmp", "hopper_rle8.bmp"})
        expectDecoded(bmp + name);
    load(bmp + "hopper_rle8_row_overflow.bmp");
    expectRefused(bmp + "l2rgb_read.bmp");
    // GIF, PSD, PNM and Radiance files are not read by this tool; each must be a clean refusal.
    for (const char* format : {"gif", "psd", "pnm", "hdr"}) {
        for (const std::string& path : filesIn(std::string("stb-formats/") + format))
            expectRefused(path);
    }
}

TEST_F(ImageFileTest, ArgumentsPathsAndFaultsThatGiveNoImage) {
    const std::string png = kData + "/pngsuite/basn2c08.png";
    D3DXIMAGE_INFO info{};
    EXPECT_EQ(D3DXGetImageInfoFromFileW(nullptr, &info), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXGetImageInfoFromFileW(widen(png).c_str(), nullptr), D3DERR_INVALIDCALL);
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(D3DXCreateTextureFromFileW(nullptr, widen(png).c_str(), &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);

    expectRefused(folder / "missing.png", true);
    expectRefused(folder.path(), true);
    writeFile(folder / "empty.png", "");
    expectRefused(folder / "empty.png", true);
    writeFile(folder / "text.tga", "just some words, not a picture\n");
    expectRefused(folder / "text.tga", true);
    // A sparse 2 GiB file costs no disk space and must be refused from its size.
    writeFile(folder / "huge.png", readFile(png));
    ASSERT_EQ(truncate((folder / "huge.png").c_str(), (off_t{1} << 31)), 0);
    expectRefused(folder / "huge.png", true);

    // A refused path conversion leaves "-" behind; it must never be opened as a file of that name.
    writeFile(folder / "-", readFile(png));
    WCHAR refused[4] = {};
    markRefusedPath(refused);
    char* previous = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    EXPECT_TRUE(FAILED(D3DXGetImageInfoFromFileW(refused, &info)));
    EXPECT_TRUE(FAILED(D3DXCreateTextureFromFileW(d.device, refused, &texture)));
    EXPECT_EQ(chdir(previous), 0);
    free(previous);

    TestSeams::injectFault(Operation::D3DXGetImageInfoFromFile, E_FAIL);
    EXPECT_EQ(D3DXGetImageInfoFromFileW(widen(png).c_str(), &info), E_FAIL);
    EXPECT_EQ(D3DXGetImageInfoFromFileW(widen(png).c_str(), &info), D3D_OK);
    TestSeams::injectFault(Operation::D3DXCreateTextureFromFile, E_OUTOFMEMORY, 1);
    EXPECT_TRUE(load(png).loaded);
    texture = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(D3DXCreateTextureFromFileW(d.device, widen(png).c_str(), &texture), E_OUTOFMEMORY);
    EXPECT_EQ(texture, nullptr);
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
        EXPECT_EQ(std::make_tuple(info.ImageFileFormat, info.Format, info.Width, info.Height, info.MipLevels,
                                  info.Depth),
                  std::make_tuple(c.container, c.fileFormat, c.width, c.height, c.mipLevels, UINT{1}))
            << c.source;
        EXPECT_EQ(load(path).format, c.textureFormat) << c.source;
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
        for (std::size_t length : {std::size_t{1}, std::size_t{17}, std::size_t{60}, whole.size() / 3,
                                   end / 2, end - 2, end - 1}) {
            writeFile(folder / "cut", whole.substr(0, length));
            SCOPED_TRACE(std::string(source) + " cut to " + std::to_string(length));
            expectRefused(folder / "cut");
        }
    }
}

}  // namespace
}  // namespace ImageService
