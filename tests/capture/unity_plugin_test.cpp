// The Unity render-event bridge on a Mesa GLES 2 context.
#include <gtest/gtest.h>

#include <GLES2/gl2.h>

#include "headless_gl.h"

extern "C" {
void UnitySetGraphicsDevice(void* device, int deviceType, int eventType);
void UnityRenderEvent(int eventId);
void setFBOInfo(int fbo);
void setRenderEventID(int eventId);
int getScreenFbo();
typedef void (*UnityRenderingEvent)(int eventId);
UnityRenderingEvent GetRenderEventFunc();
}

using namespace qor::test;

namespace {

class UnityBridge : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mGl.create(2));
        mScreen = makeScreenFbo(2, 16, 16);
        mTarget = makeScreenFbo(2, 16, 16);
        bindFramebuffer(2, mScreen);
    }
    HeadlessGl mGl;
    GLuint mScreen = 0, mTarget = 0;
};

TEST_F(UnityBridge, OtherIdentifiersTouchNothing) {
    UnitySetGraphicsDevice(nullptr, 8, 0);
    setFBOInfo(mTarget);
    for (int id : {0, 9897, 9899, -9898}) UnityRenderEvent(id);
    EXPECT_EQ(mScreen, framebufferBinding(2));
    EXPECT_EQ(0, getScreenFbo());
}

TEST_F(UnityBridge, TheStoredIdentifierBindsTheStoredFboAndRecordsThePrevious) {
    setFBOInfo(mTarget);
    UnityRenderEvent(9898);
    EXPECT_EQ(mTarget, framebufferBinding(2));
    EXPECT_EQ((int)mScreen, getScreenFbo());
    // Every triggering event overwrites the saved binding.
    UnityRenderEvent(9898);
    EXPECT_EQ((int)mTarget, getScreenFbo());
}

TEST_F(UnityBridge, AChangedIdentifierReplacesTheDefault) {
    setRenderEventID(42);
    setFBOInfo(mTarget);
    UnityRenderEvent(9898);
    EXPECT_EQ(mScreen, framebufferBinding(2));
    UnityRenderEvent(42);
    EXPECT_EQ(mTarget, framebufferBinding(2));
}

TEST_F(UnityBridge, TheRenderEventFunctionIsTheEventEntryPoint) {
    UnityRenderingEvent event = GetRenderEventFunc();
    ASSERT_NE(nullptr, event);
    setFBOInfo(mTarget);
    event(9897);
    EXPECT_EQ(mScreen, framebufferBinding(2));
    event(9898);
    EXPECT_EQ(mTarget, framebufferBinding(2));
    EXPECT_EQ((int)mScreen, getScreenFbo());
}

TEST_F(UnityBridge, AnEventBeforeAnyFboBindsTheDefaultFramebuffer) {
    UnityRenderEvent(9898);
    EXPECT_EQ(0u, framebufferBinding(2));
    EXPECT_EQ((int)mScreen, getScreenFbo());
}

}  // namespace
