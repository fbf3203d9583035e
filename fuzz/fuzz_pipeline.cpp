// The whole job on arbitrary file bytes: read the header, add the texture (DXT1, or DXT3 with the
// same file as its alpha image), save the archive. Whatever the bytes, the run must end cleanly.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "Common/MessageLog.h"
#include "ImageService/D3DX/D3DX.h"
#include "TXD/TXDArchive.h"

using namespace ImageService;

namespace {

struct Setup {
    IDirect3D9* direct3D = Direct3DCreate9(D3D_SDK_VERSION);
    IDirect3DDevice9* device = nullptr;
    // A name of its own, so that runs side by side never share their files.
    std::string stem = (std::filesystem::temp_directory_path() /
                        ("quillpack-fuzz-" + std::to_string(std::random_device{}())))
                           .string();
    std::string input = stem + ".img";
    std::string output = stem + ".txd";
    Setup() {
        D3DPRESENT_PARAMETERS parameters{};
        direct3D->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    std::FILE* file = std::fopen(setup.input.c_str(), "wb");
    if (!file)
        return 0;
    if (size > 0)
        std::fwrite(data, 1, size, file);
    std::fclose(file);

    bool withAlpha = size > 0 && (data[size - 1] & 1);
    TXD::TXDArchive archive;
    archive.version = TXD::TXDArchive::kPlatform9Version;
    if (archive.addTexture(setup.device, setup.input, "fuzz", withAlpha ? TXD::DXT3 : TXD::DXT1,
                           size % 3 == 0, withAlpha ? setup.input : "", withAlpha ? "mask" : "")) {
        archive.saveFile(setup.output, 0);
    }
    std::remove(setup.output.c_str());
    std::remove(setup.input.c_str());
    MessageLog::getInstance()->clear();  // millions of runs would otherwise fill memory with log lines
    return 0;
}
