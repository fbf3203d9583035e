// Real textures through the built executable. The archive's blocks must be exactly what compressing
// the decoded image gives (so every input format reaches the encoder intact), and with an alpha image
// the alpha must be the alpha image's to the nearest 4-bit step; the Windows build, when given, must
// write the same bytes. Skipped unless QUILLPACK_CORPUS_DIR names the corpus made by scripts/make-corpus;
// under the sanitizers the images of at most 256 x 256 pixels go through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "ImageService/D3DX/BlockCodec.h"
#include "support/ArchiveReader.h"
#include "support/Process.h"
#include "support/Sanitizers.h"
#include "support/TempFolder.h"
#include "support/Textures.h"

namespace {

using namespace ImageService;

std::string compress(D3DFORMAT format, const Rgba& image) {
    std::string blocks(*levelByteSize(format, image.width, image.height), '\0');
    compressImage(format, image.pixels.data(), image.width, image.height,
                  reinterpret_cast<std::uint8_t*>(blocks.data()));
    return blocks;
}

class CorpusThroughTheTool : public ::testing::Test {
protected:
    void SetUp() override {
        const char* corpus = std::getenv("QUILLPACK_CORPUS_DIR");
        if (!corpus)
            GTEST_SKIP() << "QUILLPACK_CORPUS_DIR is not set";
        for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
            if (entry.path().extension() == ".png")
                images.push_back(entry.path().string());
        }
        std::sort(images.begin(), images.end());
        ASSERT_EQ(images.size(), 24u);
    }
    // The blocks of the one texture the tool packed.
    std::string pack(const std::vector<std::string>& arguments) {
        RunResult result = runOnEveryBuild(arguments, folder.path());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const ArchiveReader::Bytes blocks = ArchiveReader::onlyTexture(folder / "out.txd").levels.at(0);
        return std::string(blocks.begin(), blocks.end());
    }
    Rgba loadImage(const std::string& path) { return ::loadImage(d.device, path); }
    std::vector<std::string> images;
    TempFolder folder;
    TestDevice d;
};

TEST_F(CorpusThroughTheTool, EveryFormatReachesTheEncoderIntact) {
    for (const std::string& path : images) {
        SCOPED_TRACE(path);
        Rgba image = loadImage(path);
        if (!sampledUnderSanitizers(image.width, image.height))
            continue;
        Rgba opaque = image;
        for (std::size_t i = 3; i < opaque.pixels.size(); i += 4)
            opaque.pixels[i] = 255;
        std::string expected = compress(D3DFMT_DXT1, image);
        ASSERT_EQ((pack({path, "out.txd"})), expected);
        if (image.width * image.height > 512 * 512)
            continue;  // the other formats of the large images add time, not coverage
        writeTga(folder / "in.tga", image);
        EXPECT_EQ((pack({"in.tga", "out.txd"})), expected);
        writeBmp(folder / "in.bmp", opaque);  // 24-bit: no alpha
        EXPECT_EQ((pack({"in.bmp", "out.txd"})), compress(D3DFMT_DXT1, opaque));
        std::vector<std::uint8_t> dds(expected.begin(), expected.end());
        writeDxt1Dds(folder / "in.dds", image.width, image.height, dds);
        EXPECT_EQ((pack({"in.dds", "out.txd"})), expected);
        writeJpeg(folder / "in.jpg", opaque);
        EXPECT_EQ((pack({"in.jpg", "out.txd"})), compress(D3DFMT_DXT1, loadImage(folder / "in.jpg")));
    }
}

TEST_F(CorpusThroughTheTool, AlphaImagesGiveDxt3WithTheirAlpha) {
    for (const std::string& path : images) {
        Rgba image = loadImage(path);
        if (image.width * image.height > 512 * 512 || !sampledUnderSanitizers(image.width, image.height))
            continue;
        SCOPED_TRACE(path);
        // The image's own alpha, supplied as a separate grey-free mask image.
        Rgba mask = Rgba::filled(image.width, image.height, 0, 0, 0);
        for (std::size_t i = 3; i < mask.pixels.size(); i += 4)
            mask.pixels[i] = image.pixels[i];
        writePng(folder / "mask.png", mask);
        std::string blocks = pack({path, "out.txd", "mask.png"});
        const Rgba decoded = ArchiveReader::decodeLevel0(ArchiveReader::onlyTexture(folder / "out.txd"));
        ASSERT_EQ(decoded.pixels.size(), image.pixels.size());
        for (std::size_t i = 3; i < decoded.pixels.size(); i += 4) {
            ASSERT_EQ(decoded.pixels[i], (image.pixels[i] * 15 + 127) / 255 * 17) << "pixel " << i / 4;
        }
        // The merge reads the texture back and compresses it again; colour must still be compressed only
        // once, from the exact pixels: the same blocks as compressing the merged image directly.
        EXPECT_EQ(blocks, compress(D3DFMT_DXT3, image));
    }
}

}  // namespace
