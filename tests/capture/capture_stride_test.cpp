// A gralloc that pads rows (profile "gralloc.stride.align=64") on GLES 2 or 3
// (by QOR_GLES_VERSION): frames of widths that are no multiple of 64 come out
// whole, not sheared.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include "capture_test_support.h"
#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_gles.h"

using namespace qor::test;

namespace {

class PaddedStride : public ::testing::TestWithParam<std::pair<int, int>> {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(useDeviceProfile("gralloc.stride.align=64\n"));
        sGl = new HeadlessGl();
        ASSERT_TRUE(sGl->create(QOR_GLES_VERSION[0] == '3' ? 3 : 2));
    }
    static void TearDownTestSuite() {
        delete sGl;
        sGl = nullptr;
        dropDeviceProfile();
    }
    void TearDown() override {
        nativeStopCapturer(nullptr, nullptr);
        nativeDeleteAllFbo(nullptr, nullptr);
        bindFramebuffer(2, 0);
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    }
    static HeadlessGl* sGl;
};
HeadlessGl* PaddedStride::sGl = nullptr;

TEST_P(PaddedStride, TheCapturedFrameIsWhole) {
    const int w = GetParam().first, h = GetParam().second;
    jint fbo = nativePrepareFbo(nullptr, nullptr, w, h, 1, 1);
    ASSERT_GT(fbo, 0);
    GLuint texture = (GLuint)nativeGetTextureByFbo(nullptr, nullptr, fbo);
    captureFrameInto(w, h, (jint)texture, false, DirectBuffer{nullptr, 0});
    ASSERT_EQ(1, g_capturerReady);
    EXPECT_EQ((w + 63) / 64 * 64, (int)g_graphicBuffer->getStride());
    EXPECT_GT((int)g_graphicBuffer->getStride(), w);

    nativeBineFbo(nullptr, nullptr, fbo);
    glViewport(0, 0, w, h);
    drawPicture(w, h);
    Frame frame((size_t)w * h * 2);
    captureFrameInto(w, h, (jint)texture, false, frame.target());
    std::string first;
    EXPECT_EQ(0, countMismatches(frame.pixels(), w, h, false, &first)) << first;
}

INSTANTIATE_TEST_SUITE_P(Sizes, PaddedStride,
                         ::testing::Values(std::make_pair(854, 480), std::make_pair(1366, 768)),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "x" +
                                    std::to_string(info.param.second);
                         });

}  // namespace
