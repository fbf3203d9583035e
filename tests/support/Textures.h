// Owning handles and short forms for the image service calls that most tests repeat.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ImageService/D3DX/D3DX.h"
#include "ImageService/Direct3D/TestSeams.h"
#include "support/ImageFiles.h"

struct Releaser {
    void operator()(ImageService::IUnknown* object) const { object->Release(); }
};
template <typename T>
using Ref = std::unique_ptr<T, Releaser>;
using TextureRef = Ref<ImageService::IDirect3DTexture9>;

inline TextureRef makeTexture(ImageService::UINT width, ImageService::UINT height,
                              ImageService::D3DFORMAT format, ImageService::UINT levels = 1) {
    ImageService::IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(ImageService::IDirect3DTexture9::create(width, height, levels, 0, format,
                                                      ImageService::D3DPOOL_MANAGED, &texture),
              ImageService::D3D_OK);
    return TextureRef(texture);
}

inline std::vector<std::uint8_t> bytesOf(ImageService::IDirect3DTexture9* texture,
                                         ImageService::UINT level = 0) {
    return {texture->levelBytes(level), texture->levelBytes(level) + texture->levelSize(level)};
}

// Level 0 of `from` onto level 0 of `to`.
inline ImageService::HRESULT convert(ImageService::IDirect3DTexture9* to,
                                     ImageService::IDirect3DTexture9* from,
                                     ImageService::DWORD filter = ImageService::D3DX_FILTER_NONE,
                                     ImageService::DWORD colorKey = 0) {
    ImageService::IDirect3DSurface9 *destination = nullptr, *source = nullptr;
    to->GetSurfaceLevel(0, &destination);
    from->GetSurfaceLevel(0, &source);
    ImageService::HRESULT result = ImageService::D3DXLoadSurfaceFromSurface(
        destination, nullptr, nullptr, source, nullptr, nullptr, filter, colorKey);
    destination->Release();
    source->Release();
    return result;
}

// Level 0 of any texture as R, G, B, A bytes.
inline Rgba rgbaOf(ImageService::IDirect3DTexture9* texture) {
    TextureRef plain = makeTexture(texture->width(), texture->height(), ImageService::D3DFMT_A8B8G8R8);
    EXPECT_EQ(convert(plain.get(), texture), ImageService::D3D_OK);
    return Rgba{texture->width(), texture->height(), bytesOf(plain.get())};
}

// The program widens each byte of a path with sign extension; the loader must undo exactly that.
inline std::u16string widen(const std::string& path) {
    std::u16string wide;
    for (char c : path)
        wide.push_back(static_cast<char16_t>(static_cast<signed char>(c)));
    return wide;
}

struct TestDevice {
    TestDevice() {
        ImageService::D3DPRESENT_PARAMETERS parameters{};
        direct3D->CreateDevice(0, ImageService::D3DDEVTYPE_HAL, nullptr, 0, &parameters, &device);
    }
    ~TestDevice() {
        device->Release();
        direct3D->Release();
    }
    ImageService::IDirect3D9* direct3D = ImageService::Direct3DCreate9(ImageService::D3D_SDK_VERSION);
    ImageService::IDirect3DDevice9* device = nullptr;
};

// A test of the image service: faults injected by the test end with it, and it leaves no object alive.
class LeakCheckedTest : public ::testing::Test {
protected:
    void TearDown() override {
        ImageService::TestSeams::clearFaults();
        EXPECT_EQ(ImageService::TestSeams::liveObjectCount(), liveAtStart);
    }
    std::size_t liveAtStart = ImageService::TestSeams::liveObjectCount();
};

// The same with a device, which lives as long as the test and so counts as alive at its start.
class LeakCheckedDeviceTest : public LeakCheckedTest {
protected:
    LeakCheckedDeviceTest() { liveAtStart = ImageService::TestSeams::liveObjectCount(); }
    TestDevice d;
};

// The image as the service reads it, or an empty one when it refuses.
inline Rgba loadImage(ImageService::IDirect3DDevice9* device, const std::string& path) {
    ImageService::IDirect3DTexture9* texture = nullptr;
    if (ImageService::FAILED(ImageService::D3DXCreateTextureFromFileW(device, widen(path).c_str(), &texture)))
        return {};
    TextureRef owned(texture);
    return rgbaOf(texture);
}
