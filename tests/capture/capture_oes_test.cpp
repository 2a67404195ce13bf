// The OES variant on a Mesa OpenGL ES 1.1 context: fixed-function copy to the
// screen and the GraphicBuffer read-back.
#include <gtest/gtest.h>

#include <GLES/gl.h>
#include <GLES/glext.h>

#include "capture_test_support.h"
#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_gles.h"
#include "lumokast_glesoes.h"

using namespace qor::test;

namespace {

const int kSize = 64;  // square: the copy mirrors about the diagonal

class OesCapture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sGl = new HeadlessGl();
        ASSERT_TRUE(sGl->create(1));
        ASSERT_EQ(0u, sGl->version().find("OpenGL ES-CM 1.1")) << sGl->version();
    }
    static void TearDownTestSuite() {
        delete sGl;
        sGl = nullptr;
    }
    void SetUp() override {
        mScreen = makeScreenFbo(1, kSize, kSize);
        host::logClear();
    }
    void TearDown() override {
        nativeStopCapturer(nullptr, nullptr);
        nativeDeleteAllFboOES(nullptr, nullptr);
        bindFramebuffer(1, 0);
        deleteScreenFbo(1, mScreen);
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    }
    jint pictureFbo(int capturer = -1) {
        jint fbo = nativePrepareFboOES(nullptr, nullptr, kSize, kSize, 1, 1);
        EXPECT_GT(fbo, 0);
        if (capturer >= 0) {
            nativeInitCapturer(nullptr, nullptr, kSize, kSize, g_fboMapOES[fbo]->m_texture, capturer);
            EXPECT_EQ(1, g_capturerReady);
        }
        nativeBineFboOES(nullptr, nullptr, fbo);
        glViewport(0, 0, kSize, kSize);
        drawPicture(kSize, kSize);
        return fbo;
    }
    static HeadlessGl* sGl;
    GLuint mScreen = 0;
};
HeadlessGl* OesCapture::sGl = nullptr;

TEST_F(OesCapture, PrepareRefusesSizesNotBelowTheRenderbufferMaximum) {
    GLint max = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE_OES, &max);
    struct {
        int w, h;
        bool ok;
    } cases[] = {{max, 16, false}, {16, max, false}, {max - 1, 4, true}};
    for (const auto& c : cases) {
        jint fbo = nativePrepareFboOES(nullptr, nullptr, c.w, c.h, 1, 1);
        EXPECT_EQ(c.ok, fbo > 0) << c.w << "x" << c.h;
        if (fbo > 0) nativeDeleteFboOES(nullptr, nullptr, fbo);
    }
    EXPECT_TRUE(g_fboMapOES.empty());
}

TEST_F(OesCapture, RecordsAreSeparateFromTheGles2Variant) {
    jint fbo = nativePrepareFboOES(nullptr, nullptr, kSize, kSize, 1, 1);
    EXPECT_EQ(mScreen, g_screenfboOES);
    EXPECT_EQ(0u, g_screenfbo);
    EXPECT_EQ(-1, nativeGetTextureByFbo(nullptr, nullptr, fbo));
    EXPECT_EQ((jint)g_fboMapOES[fbo]->m_texture, nativeGetTextureByFboOES(nullptr, nullptr, fbo));
    EXPECT_EQ(1, logLinesContaining(" nativePrepareFbo g_screenfbo ======" + std::to_string(mScreen)));
    EXPECT_EQ(mScreen, framebufferBinding(1));
    nativeDeleteFboOES(nullptr, nullptr, fbo);
    EXPECT_EQ(-1, nativeGetTextureByFboOES(nullptr, nullptr, fbo));
}

TEST_F(OesCapture, UnbineCopiesThePictureMirroredAboutTheDiagonal) {
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(0.25f, 0, 0);
    GLfloat before[16], after[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, before);
    glEnableClientState(GL_VERTEX_ARRAY);
    jint fbo = pictureFbo();
    nativeUnbineFboOES(nullptr, nullptr, fbo, mScreen);
    EXPECT_EQ(mScreen, framebufferBinding(1));
    std::vector<uint16_t> screen = readFramebuffer565(kSize, kSize);
    std::string first;
    EXPECT_EQ(0, countMismatches(screen.data(), kSize, kSize, true, &first)) << first;
    // Texel (s, t) = (0, 1), the picture's top-left (blue), lands lower right.
    EXPECT_LE(channelStep(pictureTexel(0, kSize - 1, kSize, kSize), screen[kSize - 1]), 1);
    // The copy leaves texturing and the client arrays as the game had them
    // (vertex array on, the others off), and the matrix as it was.
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    glGetFloatv(GL_MODELVIEW_MATRIX, after);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(before[i], after[i]) << i;
    glDisableClientState(GL_VERTEX_ARRAY);
    glLoadIdentity();
}

TEST_F(OesCapture, UnbineOfAnUnknownFboOnlyPushesAndPopsTheMatrix) {
    jint fbo = pictureFbo();
    bindFramebuffer(1, mScreen);
    GLint depthBefore = 0, depthAfter = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthBefore);
    nativeUnbineFboOES(nullptr, nullptr, fbo + 100, fbo);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthAfter);
    EXPECT_EQ(depthBefore, depthAfter);
    EXPECT_EQ(mScreen, framebufferBinding(1));
    EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
}

TEST_F(OesCapture, UnbineIntoAnotherRecordDrawsThereAndRebindsTheScreen) {
    jint target = nativePrepareFboOES(nullptr, nullptr, kSize, kSize, 1, 1);
    jint fbo = pictureFbo();
    nativeUnbineFboOES(nullptr, nullptr, fbo, target);
    EXPECT_EQ(mScreen, framebufferBinding(1));
    nativeBineFboOES(nullptr, nullptr, target);
    std::vector<uint16_t> copied = readFramebuffer565(kSize, kSize);
    EXPECT_EQ(0, countMismatches(copied.data(), kSize, kSize, true));
}

class OesGraphicBufferCapture : public OesCapture, public ::testing::WithParamInterface<bool> {};

TEST_P(OesGraphicBufferCapture, CopiesTheFboPictureBottomRowFirst) {
    jint fbo = pictureFbo(GetParam());
    nativeUnbineFboOES(nullptr, nullptr, fbo, mScreen);
    Frame frame(kSize * kSize * 2);
    captureFrameByfboOESInto(fbo, GetParam(), frame.target());
    std::string first;
    EXPECT_EQ(0, countMismatches(frame.pixels(), kSize, kSize, false, &first)) << first;
    // A capture leaves the game's framebuffer bound.
    EXPECT_EQ(mScreen, framebufferBinding(1));

    Frame small(kSize * kSize * 2, kSize * kSize);
    captureFrameByfboOESInto(fbo, GetParam(), small.target());
    EXPECT_TRUE(small.untouched());
}

INSTANTIATE_TEST_SUITE_P(LockUsage, OesGraphicBufferCapture, ::testing::Bool());

TEST_F(OesCapture, DeleteAllRemovesEveryRecord) {
    nativeDeleteAllFboOES(nullptr, nullptr);
    jint a = nativePrepareFboOES(nullptr, nullptr, kSize, kSize, 1, 1);
    jint b = nativePrepareFboOES(nullptr, nullptr, kSize, kSize, 1, 1);
    nativeDeleteAllFboOES(nullptr, nullptr);
    EXPECT_TRUE(g_fboMapOES.empty());
    EXPECT_EQ(-1, nativeGetTextureByFboOES(nullptr, nullptr, a));
    EXPECT_EQ(-1, nativeGetTextureByFboOES(nullptr, nullptr, b));
}

}  // namespace
