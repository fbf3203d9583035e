// Every file of the shared image suites is read or refused as the README beside it says. Pixels are
// compared with a second decoding wherever the suite gives one: libspng's whole-image decode for
// PngSuite, the reference PNGs for TGA and DDS, and sibling files that encode the same picture.
#include <gtest/gtest.h>
#include <spng.h>
#include <squish.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ImageService/D3DX.h"
#include "ImageService/TestSeams.h"

namespace {

using namespace ImageService;

const std::string kData = QUILLPACK_TESTDATA_DIR;

// The program widens each byte of a path with sign extension; the loader must undo exactly that.
std::u16string widen(const std::string& path) {
    std::u16string wide;
    for (char c : path)
        wide.push_back(static_cast<char16_t>(static_cast<signed char>(c)));
    return wide;
}

// A decoded image as B, G, R, A bytes, whatever the texture's format.
struct Image {
    bool loaded = false;
    UINT width = 0, height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    std::vector<std::uint8_t> bgra;
};

class ImageFileSuiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        direct3D = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(direct3D, nullptr);
        D3DPRESENT_PARAMETERS parameters{};
        ASSERT_EQ(direct3D->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device), D3D_OK);
        liveAtStart = TestSeams::liveObjectCount();
    }
    void TearDown() override {
        if (device)
            device->Release();
        if (direct3D)
            direct3D->Release();
    }

    // Loads through both entry points and checks what must hold for any file: a refusal leaves
    // nothing alive, and a loaded texture has the size the header promised.
    Image load(const std::string& path) {
        SCOPED_TRACE(path);
        std::u16string wide = widen(path);
        D3DXIMAGE_INFO info{};
        HRESULT infoResult = D3DXGetImageInfoFromFileW(wide.c_str(), &info);
        IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
        HRESULT result = D3DXCreateTextureFromFileW(device, wide.c_str(), &texture);
        Image image;
        if (FAILED(result)) {
            EXPECT_EQ(texture, nullptr);
            EXPECT_EQ(TestSeams::liveObjectCount(), liveAtStart);
            return image;
        }
        EXPECT_TRUE(SUCCEEDED(infoResult));
        EXPECT_EQ(texture->GetLevelCount(), 1u);
        EXPECT_EQ(info.Width, texture->width());
        EXPECT_EQ(info.Height, texture->height());
        image = toBgra(texture);
        texture->Release();
        EXPECT_EQ(TestSeams::liveObjectCount(), liveAtStart);
        return image;
    }

    static Image toBgra(IDirect3DTexture9* texture) {
        Image image{true, texture->width(), texture->height(), texture->format(), {}};
        const std::size_t pixels = std::size_t{image.width} * image.height;
        const std::uint8_t* bytes = texture->levelBytes(0);
        image.bgra.resize(pixels * 4);
        switch (texture->format()) {
            case D3DFMT_A8R8G8B8:
            case D3DFMT_X8R8G8B8:
                std::copy(bytes, bytes + pixels * 4, image.bgra.begin());
                break;
            case D3DFMT_R8G8B8:
                for (std::size_t i = 0; i < pixels; ++i) {
                    std::copy(bytes + i * 3, bytes + i * 3 + 3, &image.bgra[i * 4]);
                    image.bgra[i * 4 + 3] = 255;
                }
                break;
            case D3DFMT_DXT1:
            case D3DFMT_DXT3:
            case D3DFMT_DXT5: {
                int flags = texture->format() == D3DFMT_DXT1   ? squish::kDxt1
                            : texture->format() == D3DFMT_DXT3 ? squish::kDxt3
                                                               : squish::kDxt5;
                squish::DecompressImage(image.bgra.data(), static_cast<int>(image.width),
                                        static_cast<int>(image.height), bytes, flags);
                for (std::size_t i = 0; i < pixels; ++i)
                    std::swap(image.bgra[i * 4], image.bgra[i * 4 + 2]);
                break;
            }
            default:
                ADD_FAILURE() << "unexpected texture format " << texture->format();
        }
        return image;
    }

    void expectRefused(const std::string& path) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(load(path).loaded) << "should be refused";
    }
    Image expectDecoded(const std::string& path) {
        Image image = load(path);
        EXPECT_TRUE(image.loaded) << path << " should decode";
        return image;
    }
    void expectSamePixels(const std::string& path, const std::string& referencePath) {
        Image image = expectDecoded(path);
        Image reference = expectDecoded(referencePath);
        ASSERT_EQ(image.width, reference.width) << path;
        ASSERT_EQ(image.height, reference.height) << path;
        EXPECT_TRUE(image.bgra == reference.bgra) << path << " differs from " << referencePath;
    }

    IDirect3D9* direct3D = nullptr;
    IDirect3DDevice9* device = nullptr;
    std::size_t liveAtStart = 0;
};

std::vector<std::string> filesIn(const std::string& folder, const std::string& extension) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(kData + "/" + folder)) {
        if (entry.path().extension() == extension)
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string nameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// libspng's one-call decode to RGBA8, swapped to B,G,R,A: a different path from the loader's
// row-by-row decode with in-row swapping and deferred swapping for interlaced files.
std::vector<std::uint8_t> decodeWholePng(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    spng_ctx* ctx = spng_ctx_new(0);
    std::vector<std::uint8_t> pixels;
    std::size_t size = 0;
    if (spng_set_png_buffer(ctx, bytes.data(), bytes.size()) == 0 &&
        spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
        pixels.resize(size);
        if (spng_decode_image(ctx, pixels.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0)
            pixels.clear();
    }
    spng_ctx_free(ctx);
    for (std::size_t i = 0; i + 3 < pixels.size(); i += 4)
        std::swap(pixels[i], pixels[i + 2]);
    return pixels;
}

TEST_F(ImageFileSuiteTest, PngSuiteDecodesValidFilesExactlyAndRefusesCorruptOnes) {
    std::vector<std::string> files = filesIn("pngsuite", ".png");
    ASSERT_EQ(files.size(), 175u);
    for (const std::string& path : files) {
        if (nameOf(path)[0] == 'x') {
            expectRefused(path);
            continue;
        }
        Image image = expectDecoded(path);
        EXPECT_TRUE(image.bgra == decodeWholePng(path)) << path;
    }
}

TEST_F(ImageFileSuiteTest, MalformedPngsAreRefusedOrSurvived) {
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

TEST_F(ImageFileSuiteTest, BmpSuiteGoodFilesDecodeAndBadFilesDoNoHarm) {
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
}

TEST_F(ImageFileSuiteTest, BmpVariantsOfOnePictureDecodeAlike) {
    const std::string g = kData + "/bmpsuite/g/";
    // Header versions, orientation, run-length coding and palette size must not change the pixels.
    for (const char* variant :
         {"pal8v4.bmp", "pal8v5.bmp", "pal8topdown.bmp", "pal8rle.bmp", "pal8os2.bmp", "pal8-0.bmp"}) {
        expectSamePixels(g + variant, g + "pal8.bmp");
    }
    expectSamePixels(g + "pal4rle.bmp", g + "pal4.bmp");
    for (const char* variant : {"rgb24pal.bmp", "rgb32.bmp", "rgb32bf.bmp", "rgb32bfdef.bmp"}) {
        expectSamePixels(g + variant, g + "rgb24.bmp");
    }
    expectSamePixels(g + "rgb16bfdef.bmp", g + "rgb16.bmp");
    expectSamePixels(g + "rgb16-565pal.bmp", g + "rgb16-565.bmp");
}

TEST_F(ImageFileSuiteTest, TgaFilesMatchTheirReferencePngs) {
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
    // The three files differ only in their origin bits, so they hold mirror images of one another.
    Image bottomLeft = expectDecoded(misc + "rgb32rle.tga");
    Image bottomRight = expectDecoded(misc + "rgb32rle_bottom_right.tga");
    Image topRight = expectDecoded(misc + "rgb32rle_top_right.tga");
    ASSERT_EQ(bottomLeft.bgra.size(), std::size_t{199} * 199 * 4);
    ASSERT_EQ(bottomRight.bgra.size(), bottomLeft.bgra.size());
    ASSERT_EQ(topRight.bgra.size(), bottomLeft.bgra.size());
    bool mirrored = true, rotated = true;
    for (std::size_t y = 0; y < 199; ++y) {
        for (std::size_t x = 0; x < 199; ++x) {
            const std::uint8_t* original = &bottomLeft.bgra[(y * 199 + x) * 4];
            mirrored =
                mirrored && std::equal(original, original + 4, &bottomRight.bgra[(y * 199 + 198 - x) * 4]);
            rotated = rotated &&
                      std::equal(original, original + 4, &topRight.bgra[((198 - y) * 199 + 198 - x) * 4]);
        }
    }
    EXPECT_TRUE(mirrored);
    EXPECT_TRUE(rotated);
    for (const char* name : {"la.tga", "tga_id_field.tga"})
        expectDecoded(misc + name);
    load(misc + "p_8.tga");
    for (const char* name : {"cross_scan_line_truncated.tga", "truncated_raw_200x32_rgb.tga"}) {
        expectRefused(misc + name);
    }

    Image rgba16 = expectDecoded(misc + "rgba16.tga");
    ASSERT_EQ(rgba16.bgra.size(), 8u);
    // Colours as Pillow reads them; the alpha bit is read as the platform's A1R5G5B5 (set = opaque),
    // where Pillow reads it inverted.
    EXPECT_EQ(rgba16.bgra, (std::vector<std::uint8_t>{255, 0, 172, 0, 82, 255, 0, 255}));
}

TEST_F(ImageFileSuiteTest, DdsFilesKeepTheirFormatAndMatchReferences) {
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
    Image issue4142 = expectDecoded(pillow + "dxt5-colorblock-alpha-issue-4142.dds");
    ASSERT_EQ(issue4142.bgra.size(), 64u);
    for (int pixel : {0, 1}) {
        EXPECT_TRUE(issue4142.bgra[pixel * 4] && issue4142.bgra[pixel * 4 + 1] &&
                    issue4142.bgra[pixel * 4 + 2]);
    }
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXGetImageInfoFromFileW(widen(pillow + "hopper.dds").c_str(), &info), D3D_OK);
    EXPECT_EQ(info.MipLevels, 8u);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);

    for (const std::string& path : filesIn("dds/pillow", ".dds")) {
        std::string name = nameOf(path);
        name = name.substr(0, name.size() - 4);
        if (!withReference.count(name) && name != "dxt5-colorblock-alpha-issue-4142")
            expectRefused(path);
    }
}

TEST_F(ImageFileSuiteTest, DdsHeaderEdgeCasesFollowTheirPrefix) {
    std::vector<std::string> files = filesIn("dds/synthetic", ".dds");
    ASSERT_EQ(files.size(), 41u);
    for (const std::string& path : files) {
        char prefix = nameOf(path)[0];
        if (prefix == 'm')
            expectRefused(path);
        else
            expectDecoded(path);  // v_ must decode; q_ files are valid once the lying field is ignored
    }
    const std::string synthetic = kData + "/dds/synthetic/";
    expectSamePixels(synthetic + "v_dxt1_8x8_trailing_bytes.dds", synthetic + "v_dxt1_8x8.dds");
    expectSamePixels(synthetic + "q_dxt1_linearsize_wrong.dds", synthetic + "v_dxt1_8x8.dds");
    expectSamePixels(synthetic + "q_argb32_pitch_0xFFFFFFFF.dds", synthetic + "v_argb32_2x2.dds");
}

TEST_F(ImageFileSuiteTest, OtherFormatsFollowTheirReadme) {
    const std::string jpeg = kData + "/stb-formats/jpeg/";
    for (const char* name : {"hopper.jpg", "hopper_gray.jpg", "ljt-testorig.jpg", "ljt-testimgint.jpg",
                             "truncated_app14.jpg", "truncated_exif_dpi.jpg", "broken_exif_dpi.jpg",
                             "photoshop-200dpi-broken.jpg", "icc-after-SOF.jpg", "pil_sample_cmyk.jpg"}) {
        expectDecoded(jpeg + name);
    }
    for (const char* name : {"ljt-testimgari.jpg", "junk_jpeg_header.jpg", "jpeg_ff00_header.jpg"})
        load(jpeg + name);
    for (const char* name : {"ljt-monkey12.jpg", "truncated_jpeg.jpg"})
        expectRefused(jpeg + name);

    const std::string bmp = kData + "/stb-formats/bmp/";
    for (const char* name : {"hopper.bmp", "rgb32bf-abgr.bmp", "hopper_rle8.bmp"})
        expectDecoded(bmp + name);
    load(bmp + "hopper_rle8_row_overflow.bmp");
    expectRefused(bmp + "l2rgb_read.bmp");

    // GIF, PSD, PNM and Radiance files are not read by this tool; each must be a clean refusal.
    for (const char* folder : {"gif", "psd", "pnm", "hdr"}) {
        for (const auto& entry : std::filesystem::directory_iterator(kData + "/stb-formats/" + folder)) {
            expectRefused(entry.path().string());
        }
    }
}

}  // namespace
