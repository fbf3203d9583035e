// Reading image files. Every file of the public suites in tests/data is read or refused as its README
// says, with pixels compared against a second decoding wherever the suite gives one (libspng's
// whole-image decode for PngSuite, the reference PNGs for TGA and DDS, sibling files that encode the
// same picture). Then the entry points themselves: arguments and paths, the fault seam, detection by
// content, and refusal of every truncated prefix, also of a file cut short after it was probed.
// Every refusal leaves nothing alive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ImageService/Decode/Decoders.h"
#include "Platform/FailureReason.h"
#include "Platform/Win32.h"
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
    std::string reason;  // what a refusal noted for the user
};

class ImageFileTest : public LeakCheckedDeviceTest {
protected:
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
            image.reason = FailureReason::take();
        } else {
            TextureRef owned(texture);
            EXPECT_TRUE(SUCCEEDED(infoResult));
            EXPECT_EQ(texture->GetLevelCount(), 1u);
            EXPECT_EQ(info.Width, texture->width());
            EXPECT_EQ(info.Height, texture->height());
            image = Image{true, texture->format(), rgbaOf(texture), ""};
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
    void expectRefusedBecause(const std::string& path, const std::string& reason) {
        Image image = load(path);
        EXPECT_FALSE(image.loaded) << path << " should be refused";
        EXPECT_NE(image.reason.find(reason), std::string::npos) << path << ": \"" << image.reason << "\"";
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

    TempFolder folder;
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
    // GIF and PSD files are not read by this tool; each must be a clean refusal that says so.
    for (const char* format : {"gif", "psd"}) {
        for (const std::string& path : filesIn(std::string("stb-formats/") + format))
            expectRefusedBecause(path, "not a PNG, JPEG, BMP, TGA, DDS, PNM, PFM or HDR image");
    }
}

TEST_F(ImageFileTest, PnmAndHdrSuitesFollowTheirReadme) {
    const std::string pnm = kData + "/stb-formats/pnm/", hdr = kData + "/stb-formats/hdr/";
    for (const std::string& path : filesIn("stb-formats/pnm")) {
        if (nameOf(path) != "negative_size.ppm")
            expectDecoded(path);
    }
    expectRefusedBecause(pnm + "negative_size.ppm", "PPM: no whitespace after the magic number");
    expectSamePixels(pnm + "hopper_16bit.pgm", pnm + "hopper_8bit.pgm");
    expectSamePixels(pnm + "hopper_8bit_plain.pgm", pnm + "hopper_8bit.pgm");
    // Radiance's reading of (128, 64, 32) at exponent 129: the middle of each mantissa's interval.
    for (const char* name : {"valid_flat_4x2.hdr", "valid_rle_8x2.hdr"}) {
        Rgba image = expectDecoded(hdr + name).rgba;
        EXPECT_EQ(image.pixels, Rgba::filled(image.width, 2, 255, 128, 65).pixels) << name;
    }
    expectRefusedBecause(hdr + "huge_dims.hdr", "truncated HDR: 12 bytes cannot hold 30,000 scanlines");
    expectRefusedBecause(hdr + "truncated_flat.hdr", "truncated HDR: 12 bytes cannot hold 2 scanlines");
    expectRefusedBecause(hdr + "truncated_rle_scanline.hdr",
                         "truncated HDR: 4 bytes cannot hold 2 scanlines");
    // 0x80 is a literal of 128 bytes in a row of 8.
    expectRefusedBecause(hdr + "zero_length_run.hdr", "HDR: scanline run past the row end");
}

TEST_F(ImageFileTest, EveryNetpbmKindAndFloatMapGivesThePixelsItStores) {
    Rgba colour = Rgba::pattern(19, 5, true), grey = colour, bilevel = colour;
    for (std::size_t i = 0; i < colour.pixels.size(); i += 4) {
        grey.pixels[i + 1] = grey.pixels[i + 2] = grey.pixels[i];
        bilevel.pixels[i] = bilevel.pixels[i + 1] = bilevel.pixels[i + 2] = grey.pixels[i] < 128 ? 0 : 255;
        grey.pixels[i + 3] = bilevel.pixels[i + 3] = 255;
    }
    Rgba opaque = colour;
    for (std::size_t i = 3; i < opaque.pixels.size(); i += 4)
        opaque.pixels[i] = 255;
    struct Case {
        const char* name;
        std::string bytes;
        const Rgba& expected;
    };
    for (const Case& c :
         {Case{"p1", encodePnm(bilevel, '1'), bilevel}, Case{"p4", encodePnm(bilevel, '4'), bilevel},
          Case{"p2", encodePnm(grey, '2'), grey}, Case{"p2-1000", encodePnm(grey, '2', 1000), grey},
          Case{"p5", encodePnm(grey, '5'), grey}, Case{"p5-65535", encodePnm(grey, '5', 65535), grey},
          Case{"p3", encodePnm(opaque, '3'), opaque}, Case{"p6", encodePnm(opaque, '6'), opaque},
          Case{"p6-300", encodePnm(opaque, '6', 300), opaque}, Case{"p7", encodePnm(colour, '7'), colour},
          Case{"p7-4095", encodePnm(colour, '7', 4095), colour}, Case{"pfm-le", encodePfm(opaque), opaque},
          Case{"pfm-be", encodePfm(opaque, false, false), opaque},
          Case{"pfm-grey", encodePfm(grey, true), grey}}) {
        writeFile(folder / c.name, c.bytes);
        EXPECT_EQ(expectDecoded(folder / c.name).rgba.pixels, c.expected.pixels) << c.name;
    }
    // Float to 8 bits: clamp, scale, round half up, NaN as 0; no tone mapping.
    const float values[] = {-1.0f, 0.0f, 0.2f, 0.5f, 1.0f, 2.0f, NAN, INFINITY, -INFINITY};
    const std::uint8_t expected[] = {0, 0, 51, 128, 255, 255, 0, 255, 0};
    std::string floats = "Pf\n9 1\n-1\n";
    floats.append(reinterpret_cast<const char*>(values), sizeof values);
    writeFile(folder / "floats.pfm", floats);
    const Rgba decoded = expectDecoded(folder / "floats.pfm").rgba;
    for (std::size_t i = 0; i < 9 && decoded.pixels.size() == 36; ++i)
        EXPECT_EQ(decoded.pixels[i * 4 + 1], expected[i]) << values[i];
}

TEST_F(ImageFileTest, RadianceScanlinesInEveryOrientation) {
    // Six flat pixels stored in order 0..5 (red mantissa k at exponent 128 reads back as k), placed as
    // the resolution line says; the expected picture is given row by row from the top.
    struct Case {
        const char* resolution;
        const char* rows;
    };
    for (const Case& c :
         {Case{"-Y 2 +X 3", "012345"}, Case{"-Y 2 -X 3", "210543"}, Case{"+Y 2 +X 3", "345012"},
          Case{"+Y 2 -X 3", "543210"}, Case{"+X 3 -Y 2", "024135"}, Case{"+X 3 +Y 2", "135024"},
          Case{"-X 3 -Y 2", "420531"}, Case{"-X 3 +Y 2", "531420"}}) {
        std::string file = std::string("#?RGBE\n\n") + c.resolution + "\n";
        for (char k = 0; k < 6; ++k)
            file += {k, 0, 0, static_cast<char>(128)};
        writeFile(folder / "o.hdr", file);
        const Rgba image = expectDecoded(folder / "o.hdr").rgba;
        ASSERT_EQ(std::make_pair(image.width, image.height), std::make_pair(3u, 2u)) << c.resolution;
        std::string rows;
        for (std::size_t i = 0; i < 6; ++i)
            rows.push_back(static_cast<char>('0' + image.pixels[i * 4]));
        EXPECT_EQ(rows, c.rows) << c.resolution;
    }
}

TEST_F(ImageFileTest, DamagedNetpbmFloatAndRadianceFilesAreRefusedWithTheirReason) {
    const char kCodedWidth8[] = "\x02\x02\x00\x08";  // a coded scanline of 8 pixels
    const std::string hdrHead = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 8\n";
    std::string literalLine(kCodedWidth8, 4);  // every channel one literal of 8 bytes
    for (int channel = 0; channel < 4; ++channel)
        literalLine += "\x08" + std::string(8, '\x01');
    auto scanline = [&](const std::string& firstChannel) {  // a coded scanline whose red is damaged
        return std::string(kCodedWidth8, 4) + firstChannel + std::string("\x88\x01\x88\x01\x88\x81");
    };
    const std::string pam = "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n";
    const std::string ppm = encodePnm(Rgba::pattern(4, 4), '6');
    struct Case {
        std::string bytes, reason;
    };
    for (const Case& c : {
             Case{ppm.substr(0, ppm.size() - 1), "truncated PPM: 47 of 48 pixel bytes"},
             Case{"P6\n4", "truncated PPM: the header ends before the height"},
             Case{"P6 4 x 255\n", "PPM: no height in the header"},
             Case{"P6 0 4 255\n", "damaged PPM header: 0 x 4 pixels"},
             Case{"P6 4 99999999999 255\n", "damaged PPM header: 4 x 99,999,999,999 pixels"},
             Case{"P4 16385 1\n" + std::string(2100, '\0'), "PNM image too large: 16385 x 1"},
             Case{"P5 1 1 0\n\x00", "PGM: maxval 0 outside 1 to 65,535"},
             Case{"P5 1 1 65536\n\x00\x00", "PGM: maxval 65,536 outside"},
             Case{"P5 2 1 1000\n\x03\xE9\x01\x01", "PGM: sample 1001 above maxval 1000"},
             Case{"P5 2 1 255\x00\x00", "PGM: no whitespace after the header"},
             Case{"P2 2 1 255\n12 x ", "PGM: 'x' where a sample belongs"},
             Case{"P2 2 1 255\n12 256", "PGM: sample 256 above maxval 255"},
             Case{"P3 2 2 255\n1 2 3 4 5 6 7 8 9 10 11", "truncated PPM: 11 of 12 samples"},
             Case{"P3 2 2 255\n1 2 3", "truncated PPM: 5 bytes cannot hold 12 samples"},
             Case{"P1 2 2\n0 1 2 0", "PBM: '2' where a pixel belongs"},
             Case{pam + "TUPLTYPE GRAYSCALE\nENDHDR\n123456",
                  "PAM: DEPTH 3 does not match TUPLTYPE GRAYSCALE"},
             Case{pam + "TUPLTYPE CMYK\nENDHDR\n123456", "PAM: TUPLTYPE CMYK is not read"},
             Case{pam + "TUPLTYPE RGB\n", "truncated PAM: the header never ends"},
             Case{"P7\nWIDTH 2\nDEPTH 3\nMAXVAL 255\nENDHDR\n123456", "PAM: the header lacks"},
             Case{"P7\nWIDTH 2\nHIGHT 1\n", "PAM: unknown header line HIGHT"},
             Case{encodePfm(Rgba::pattern(2, 2)).substr(0, 59), "truncated PFM: 47 of 48 pixel bytes"},
             Case{"PF\n2 2\n0\n" + std::string(48, '\0'), "PFM: the scale \"0\" is not a nonzero number"},
             Case{"Pf\n2 2\nx1\n" + std::string(16, '\0'), "PFM: the scale \"x1\" is not"},
             Case{"PF\n20000 1\n-1\n" + std::string(240000, '\0'), "PFM image too large: 20000 x 1"},
             Case{hdrHead + literalLine + scanline(std::string("\x00", 1)),
                  "HDR: zero-length run in scanline 1"},
             Case{hdrHead + literalLine + scanline("\x89\x01"), "HDR: scanline run past the row end"},
             Case{hdrHead + literalLine + scanline("\x04\x01\x01\x01\x01\x05\x01"), "HDR: scanline run past"},
             Case{hdrHead + literalLine + std::string("\x02\x02\x00\x09", 4) + std::string(20, '\x01'),
                  "declares 9 pixels, not 8"},
             Case{hdrHead + literalLine + literalLine.substr(0, 30), "truncated HDR: scanline 1 ends early"},
             Case{"#?RADIANCE\nFORMAT=32-bit_rle_xyze\n\n-Y 1 +X 1\n\x80\x80\x80\x80",
                  "HDR: XYZE pixels are not read"},
             Case{"#?RADIANCE\nFORMAT=48-bit\n\n-Y 1 +X 1\n\x80\x80\x80\x80",
                  "HDR: FORMAT=48-bit is not read"},
             Case{"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n", "truncated HDR: the header never ends"},
             Case{"#?PICTURE\n\n-Y 1 +X 1\n\x80\x80\x80\x80", "HDR: no #?RADIANCE or #?RGBE first line"},
             Case{"#?RGBE\n\n-Y 1 -Y 1\n\x80\x80\x80\x80", "HDR: unreadable resolution line \"-Y 1 -Y 1\""},
         }) {
        writeFile(folder / "damaged", c.bytes);
        expectRefusedBecause(folder / "damaged", c.reason);
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
    // A sparse 4 GiB file costs no disk space and must be refused from its size.
    writeFile(folder / "huge.png", readFile(png));
    std::filesystem::resize_file(folder / "huge.png", std::uintmax_t{1} << 32);
    expectRefused(folder / "huge.png", true);

    // A refused path conversion leaves "-" behind; it must never be opened as a file of that name.
    writeFile(folder / "-", readFile(png));
    WCHAR refused[4] = {};
    Win32::markRefusedPath(refused);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    EXPECT_TRUE(FAILED(D3DXGetImageInfoFromFileW(refused, &info)));
    EXPECT_TRUE(FAILED(D3DXCreateTextureFromFileW(d.device, refused, &texture)));
    std::filesystem::current_path(previous);

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

// Bytes in memory that end at `end` once decoding starts, as a file cut short after it was probed:
// it still reports its first length until a read finds the end.
class ShrinkingSource : public Decode::Source {
public:
    explicit ShrinkingSource(const std::string& bytes)
        : Source(bytes.size()), end(bytes.size()), bytes(bytes) {}
    std::size_t end;

protected:
    std::size_t fetch(std::uint64_t offset, void* into, std::size_t count) override {
        const std::size_t kept = offset < end ? std::min<std::size_t>(count, end - offset) : 0;
        std::memcpy(into, bytes.data() + offset, kept);
        return kept;
    }

private:
    const std::string& bytes;
};

// The probe and the decoder of each test file's extension.
using Probe = HRESULT (*)(Decode::Source&, Decode::ImageHeader*);
using Decoder = HRESULT (*)(Decode::Source&, const Decode::ImageHeader&, Decode::Destination);
const std::map<std::string, std::pair<Probe, Decoder>> kDecoders = {
    {".png", {Decode::probePng, Decode::decodePng}},   {".bmp", {Decode::probeBmp, Decode::decodeBmp}},
    {".tga", {Decode::probeTga, Decode::decodeTga}},   {".dds", {Decode::probeDds, Decode::decodeDds}},
    {".jpg", {Decode::probeJpeg, Decode::decodeJpeg}}, {".hdr", {Decode::probeHdr, Decode::decodeHdr}},
    {".ppm", {Decode::probePnm, Decode::decodePnm}},   {".pbm", {Decode::probePnm, Decode::decodePnm}}};

TEST_F(ImageFileTest, EveryTruncatedPrefixOfAValidFileIsRefused) {
    for (const char* source : {"/pngsuite/basn2c08.png", "/pngsuite/basi6a16.png", "/bmpsuite/g/rgb24.bmp",
                               "/bmpsuite/g/pal8rle.bmp", "/bmpsuite/g/pal4rle.bmp",
                               "/tga/common/200x32_rgba_tl_raw.tga", "/tga/common/200x32_rgba_bl_rle.tga",
                               "/dds/synthetic/v_dxt1_8x8.dds", "/dds/pillow/uncompressed_rgb.dds",
                               "/stb-formats/jpeg/hopper.jpg", "/stb-formats/jpeg/ljt-testimgint.jpg",
                               "/stb-formats/pnm/hopper.ppm", "/stb-formats/pnm/hopper_1bit.pbm",
                               "/stb-formats/hdr/valid_rle_8x2.hdr", "/stb-formats/hdr/valid_flat_4x2.hdr"}) {
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
            // The same cut made after the probe: the decoder finds it and reads nothing past it.
            const auto [probe, decode] = kDecoders.at(std::filesystem::path(source).extension().string());
            ShrinkingSource file(whole);
            Decode::ImageHeader header;
            ASSERT_EQ(probe(file, &header), D3D_OK);
            std::vector<std::uint8_t> pixels(
                *levelByteSize(header.textureFormat, header.width, header.height));
            file.end = length;
            EXPECT_TRUE(FAILED(decode(file, header, Decode::Destination{pixels.data(), pixels.size()})));
            FailureReason::clear();
        }
    }
}

}  // namespace
}  // namespace ImageService
