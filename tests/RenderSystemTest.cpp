#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "Platform/Win32.h"
#include "RenderSystem.h"
#include "support/LogCapture.h"
#include "support/Textures.h"

namespace {

using namespace ImageService;

class RenderSystemTest : public LeakCheckedTest {
protected:
    HWND window = Win32::GetForegroundWindow();
};

// Tests run where there is no resources folder: its textures only switch their features off.
TEST_F(RenderSystemTest, SetsUpTheDeviceWithoutResourcesAndReleasesEverythingOnceOnShutdown) {
    LogCapture capture;
    {
        RenderSystem system(window, 800.0f, 600.0f);
        ASSERT_TRUE(system.deviceCreated);
        EXPECT_FALSE(system.resourceTextureLoaded);
        EXPECT_FALSE(system.circleTextureLoaded);
        // A few representative states; the set as a whole is the device's setup, not a contract.
        const auto& states = system.device->renderStates();
        EXPECT_EQ(states.at(D3DRS_ALPHABLENDENABLE), 1u);
        EXPECT_EQ(states.at(D3DRS_SRCBLEND), D3DBLEND_SRCALPHA);
        EXPECT_EQ(system.device->window(), window);
        const D3DMATRIX& projection = system.device->transforms().at(D3DTS_PROJECTION);
        EXPECT_NEAR(projection.m[0][0], 1.0f / std::tan(0.785398163f / 2.0f) / (800.0f / 600.0f), 1e-5);

        // Headless: 96 dots per inch gives a font of height -14.
        ASSERT_NE(system.font, nullptr);
        EXPECT_EQ(system.font->height, -14);
        ASSERT_TRUE(system.billboardsEnabled);
        ASSERT_NE(system.meshBuffer, nullptr);
        EXPECT_EQ(std::memcmp(system.meshBuffer->data(), RenderSystem::kMeshVertices, 560), 0);

        EXPECT_TRUE(system.shutDown());
        EXPECT_FALSE(system.deviceCreated);
        EXPECT_TRUE(system.shutDown());
    }
    int shutdownLines = 0;
    for (const std::string& line : capture.info())
        shutdownLines += line == "RenderSystem::shutDown(227) - Render system shutdown";
    EXPECT_EQ(shutdownLines, 1);
    EXPECT_EQ(capture.info().front(), "RenderSystem::RenderSystem(67) - Render system initialized");
    EXPECT_EQ(
        capture.errors(),
        (std::vector<std::string>{
            "RenderSystem::initializeExtras(403) - Unable to load the texture \"texture.dds\", please ensure "
            "it's in the \"resources\\textures\" folder",
            "RenderSystem::initializeExtras(410) - Unable to load the texture \"Tech_Circle.dds\", please "
            "ensure it's in the \"resources\\textures\" folder"}));
}

TEST_F(RenderSystemTest, DeviceFailuresLeaveNoDeviceAndNothingAlive) {
    struct Case {
        Operation operation;
        const char* line;
    };
    for (const Case& c :
         {Case{Operation::Direct3DCreate9, "RenderSystem::initialize(242) - Unable to access Direct3D"},
          Case{Operation::GetAdapterDisplayMode,
               "RenderSystem::initialize(252) - Unable to get display mode information"},
          Case{Operation::CreateDevice, "RenderSystem::initialize(301) - Failed to create 3D Device"}}) {
        LogCapture capture;
        TestSeams::injectFault(c.operation, D3DERR_NOTAVAILABLE);
        RenderSystem system(window, 800.0f, 600.0f);
        EXPECT_FALSE(system.deviceCreated);
        EXPECT_EQ(system.device, nullptr);
        EXPECT_EQ(system.font, nullptr);
        EXPECT_EQ(capture.errors(), std::vector<std::string>{c.line});
        EXPECT_EQ(TestSeams::liveObjectCount(), liveAtStart);
        EXPECT_TRUE(system.shutDown());
        EXPECT_TRUE(capture.info().empty());
    }
}

TEST_F(RenderSystemTest, ExtraFailuresSwitchOffOneFeatureEach) {
    TestSeams::injectFault(Operation::CreateFont, E_FAIL);
    TestSeams::injectFault(Operation::CreateSprite, E_FAIL);
    TestSeams::injectFault(Operation::CreateVertexBuffer, E_OUTOFMEMORY);  // the billboard buffer comes first
    TestSeams::injectFault(Operation::GetDC, E_FAIL);
    LogCapture capture;
    RenderSystem system(window, 800.0f, 600.0f);
    EXPECT_TRUE(system.deviceCreated);
    EXPECT_EQ(system.font, nullptr);
    EXPECT_FALSE(system.spriteCreated);
    EXPECT_FALSE(system.billboardsEnabled);
    EXPECT_NE(system.meshBuffer, nullptr);
    auto errors = capture.errors();
    EXPECT_EQ(errors.front(), "RenderSystem::initializeFont(378) - Failed to create font");
    EXPECT_EQ(errors.back(), "RenderSystem::initializeExtras(445) - Failed to create sprite");
    EXPECT_EQ(errors[errors.size() - 2],
              "RenderSystem::initializeExtras(429) - Unable to create billboard vertex buffer, billboards "
              "disabled");
    system.shutDown();
}

}  // namespace
