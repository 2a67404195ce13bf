// An asynchronous host GPU (profile "gpu.async=1"): rendering reaches the
// GraphicBuffer's memory only at a sync point. The capture syncs before its
// lock, so it gets the frame just drawn, where a bare lock sees the previous.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include "capture_test_support.h"
#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_gles.h"

using namespace qor::test;

namespace {

const int kW = 64, kH = 48;

class AsyncGpu : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(useDeviceProfile("gpu.async=1\n"));
        sGl = new HeadlessGl();
        ASSERT_TRUE(sGl->create(QOR_GLES_VERSION[0] == '3' ? 3 : 2));
    }
    static void TearDownTestSuite() {
        delete sGl;
        sGl = nullptr;
        dropDeviceProfile();
    }
    void SetUp() override {
        host::logClear();
        mFbo = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
        ASSERT_GT(mFbo, 0);
        mTexture = nativeGetTextureByFbo(nullptr, nullptr, mFbo);
        captureFrameInto(kW, kH, mTexture, false, DirectBuffer{nullptr, 0});
        ASSERT_EQ(1, g_capturerReady);
        nativeBineFbo(nullptr, nullptr, mFbo);
        glViewport(0, 0, kW, kH);
    }
    void TearDown() override {
        nativeStopCapturer(nullptr, nullptr);
        nativeDeleteAllFbo(nullptr, nullptr);
        bindFramebuffer(2, 0);
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    }
    static int yellowPixels(const uint16_t* pixels) {
        int n = 0;
        for (int i = 0; i < kW * kH; ++i) n += pixels[i] == 0xFFE0;
        return n;
    }
    static HeadlessGl* sGl;
    jint mFbo = 0, mTexture = 0;
};
HeadlessGl* AsyncGpu::sGl = nullptr;

TEST_F(AsyncGpu, EachCaptureGetsTheFrameJustDrawn) {
    drawPicture(kW, kH);
    Frame first(kW * kH * 2);
    captureFrameInto(kW, kH, mTexture, false, first.target());
    std::string where;
    EXPECT_EQ(0, countMismatches(first.pixels(), kW, kH, false, &where)) << where;

    glClearColor(1, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    Frame second(kW * kH * 2);
    captureFrameInto(kW, kH, mTexture, true, second.target());
    EXPECT_EQ(kW * kH, yellowPixels(second.pixels()));
    EXPECT_EQ(1, logLinesContaining("GPU sync before the lock: EGL fence"));
}

TEST_F(AsyncGpu, ALockWithoutASyncPointSeesThePreviousFrame) {
    drawPicture(kW, kH);
    Frame first(kW * kH * 2);
    captureFrameInto(kW, kH, mTexture, false, first.target());  // a sync point
    glClearColor(1, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    void* bits = nullptr;
    ASSERT_EQ(android::NO_ERROR, g_graphicBuffer->lock(0x3, &bits));
    const uint16_t* pixels = static_cast<const uint16_t*>(bits);
    EXPECT_EQ(0, yellowPixels(pixels));
    EXPECT_EQ(0, countMismatches(pixels, kW, kH));
    g_graphicBuffer->unlock();
}

}  // namespace
