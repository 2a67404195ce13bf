// Stale and lost capture state on GLES 2 or 3 (by QOR_GLES_VERSION): an FBO
// deleted and made again at a new size, and a context destroyed and made
// again. The capturer is made anew (logged once) and deleteAllFbo leaves the
// names of the new context's owner alone.
#include <gtest/gtest.h>

#include "capture_test_support.h"
#include "gl3stub.h"
#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_gles.h"

using namespace qor::test;

namespace {

class StaleCapture : public ::testing::Test {
protected:
    void SetUp() override {
        mEs3 = QOR_GLES_VERSION[0] == '3';
        ASSERT_TRUE(mGl.create(mEs3 ? 3 : 2));
        if (mEs3) {
            ASSERT_EQ(GL_TRUE, gl3stubInit());
        }
        mScreen = makeScreenFbo(2, 96, 64);
        host::logClear();
    }
    void TearDown() override {
        nativeStopCapturer(nullptr, nullptr);
        nativeDeleteAllFbo(nullptr, nullptr);
        bindFramebuffer(2, 0);
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
        mGl.destroy();
    }
    // An FBO of w x h with the capturer on its texture and the picture in it.
    jint capturedPicture(int w, int h) {
        bindFramebuffer(2, mScreen);
        jint fbo = nativePrepareFbo(nullptr, nullptr, w, h, 1, 1);
        EXPECT_GT(fbo, 0);
        // The GraphicBuffer capturer, on either version.
        captureFrameInto(w, h, nativeGetTextureByFbo(nullptr, nullptr, fbo), false,
                         DirectBuffer{nullptr, 0});
        nativeBineFbo(nullptr, nullptr, fbo);
        glViewport(0, 0, w, h);
        drawPicture(w, h);
        bindFramebuffer(2, mScreen);
        return fbo;
    }
    int captureMismatches(jint fbo, int w, int h) {
        Frame frame(w * h * 2);
        captureFrameByfboInto(fbo, false, frame.target());
        std::string first;
        int wrong = countMismatches(frame.pixels(), w, h, false, &first);
        EXPECT_EQ(0, wrong) << first;
        return wrong;
    }
    bool mEs3 = false;
    HeadlessGl mGl;
    GLuint mScreen = 0;
};

TEST_F(StaleCapture, AnFboMadeAgainAtANewSizeGetsAFreshCapturer) {
    jint first = capturedPicture(64, 48);
    EXPECT_EQ(0, captureMismatches(first, 64, 48));
    nativeDeleteFbo(nullptr, nullptr, first);
    host::logClear();

    jint second = capturedPicture(96, 64);  // the names are likely handed out again
    EXPECT_EQ(1, logLinesContaining("capturer stale (its FBO was deleted): made anew"));
    EXPECT_EQ(0, captureMismatches(second, 96, 64));
    EXPECT_EQ(96, (int)g_graphicBuffer->getWidth());
    EXPECT_EQ(1, logLinesContaining("capturer stale"));  // once
}

TEST_F(StaleCapture, AfterTheContextIsMadeAgainTheGamesNamesAreLeftAlone) {
    capturedPicture(64, 48);
    mGl.destroy();
    ASSERT_TRUE(mGl.create(mEs3 ? 3 : 2));
    // The game's objects in the new context take the names the kit had.
    GLuint framebuffers[4], textures[4], renderbuffers[4], buffers[4];
    glGenFramebuffers(4, framebuffers);
    glGenTextures(4, textures);
    glGenRenderbuffers(4, renderbuffers);
    glGenBuffers(4, buffers);
    for (int i = 0; i < 4; ++i) {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffers[i]);
        glBindTexture(GL_TEXTURE_2D, textures[i]);
        glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[i]);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[i]);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    host::logClear();

    nativeDeleteAllFbo(nullptr, nullptr);
    EXPECT_EQ(1, logLinesContaining("is not ours any more"));
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(glIsFramebuffer(framebuffers[i])) << i;
        EXPECT_TRUE(glIsTexture(textures[i])) << i;
        EXPECT_TRUE(glIsRenderbuffer(renderbuffers[i])) << i;
        EXPECT_TRUE(glIsBuffer(buffers[i])) << i;
    }
    EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());

    // Capture goes on in the new context.
    mScreen = makeScreenFbo(2, 96, 64);
    jint fresh = capturedPicture(64, 48);
    // Known lost from the records (or from the context, where its handle is
    // not handed out again).
    EXPECT_EQ(1, logLinesContaining("capturer stale (its FBO or context is gone): made anew") +
                     logLinesContaining("capturer stale (its context is gone): made anew"));
    EXPECT_EQ(0, captureMismatches(fresh, 64, 48));
}

TEST_F(StaleCapture, APixelPackBufferOfALostContextIsMadeAgainNotReused) {
    if (!mEs3) GTEST_SKIP() << "the pixel-pack path is GLES 3";
    jint old = capturedPicture(64, 48);
    nativeReadPixels(nullptr, nullptr, 64, 48, old);
    mGl.destroy();
    ASSERT_TRUE(mGl.create(3));
    GLuint game = 0;  // likely the name the kit's buffer had
    glGenBuffers(1, &game);
    glBindBuffer(GL_ARRAY_BUFFER, game);
    glBufferData(GL_ARRAY_BUFFER, 16, nullptr, GL_STATIC_DRAW);
    mScreen = makeScreenFbo(2, 96, 64);
    host::logClear();

    jint fresh = capturedPicture(64, 48);
    nativeReadPixels(nullptr, nullptr, 64, 48, fresh);
    EXPECT_EQ(1, logLinesContaining("pixel-pack buffer of a lost context: made anew"));
    EXPECT_NE(game, g_pbo);
    GLint size = 0;
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
    EXPECT_EQ(16, size);  // the game's buffer as it made it
    EXPECT_EQ(0, captureMismatches(fresh, 64, 48));
    nativeDeleteAllFbo(nullptr, nullptr);
    EXPECT_TRUE(glIsBuffer(game));
}

}  // namespace
