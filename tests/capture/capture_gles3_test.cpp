// The GLES 3 pixel-pack read-back, on a Mesa context that reports
// "OpenGL ES 3.1".
#include <gtest/gtest.h>

#include "capture_test_support.h"
#include "gl3stub.h"
#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_gles.h"

using namespace qor::test;

namespace {

class Gles3Capture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sGl = new HeadlessGl();
        ASSERT_TRUE(sGl->create(3));
        ASSERT_EQ(0u, sGl->version().find("OpenGL ES 3.1")) << sGl->version();
        ASSERT_EQ(GL_TRUE, gl3stubInit());  // the test calls GLES 3 through the stubs
    }
    static void TearDownTestSuite() {
        delete sGl;
        sGl = nullptr;
    }
    void SetUp() override { host::logClear(); }
    void TearDown() override {
        nativeStopCapturer(nullptr, nullptr);
        nativeDeleteAllFbo(nullptr, nullptr);
        bindFramebuffer(3, 0);
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    }
    jint pictureFbo(int w, int h) {
        jint fbo = nativePrepareFbo(nullptr, nullptr, w, h, 1, 1);
        EXPECT_GT(fbo, 0);
        nativeBineFbo(nullptr, nullptr, fbo);
        glViewport(0, 0, w, h);
        drawPicture(w, h);
        return fbo;
    }
    static HeadlessGl* sGl;
};
HeadlessGl* Gles3Capture::sGl = nullptr;

TEST_F(Gles3Capture, EntryPointsAreAllFound) {
    EXPECT_EQ(GL_TRUE, gl3stubInit());
    EXPECT_NE(nullptr, glReadBuffer);
    EXPECT_NE(nullptr, glRenderbufferStorageMultisample);
    EXPECT_NE(nullptr, glGetInternalformativ);
}

TEST_F(Gles3Capture, GraphicBufferPathUntilTheFirstReadThenThePixelPackBuffer) {
    const int w = 64, h = 48;
    jint fbo = pictureFbo(w, h);
    // No read yet: detection has not run and the GraphicBuffer is used.
    captureFrameByfboInto(fbo, false, DirectBuffer{nullptr, 0});
    EXPECT_EQ(0, g_es3Checked);
    EXPECT_EQ(1, g_capturerReady);

    GLuint other = makeScreenFbo(3, w, h);
    nativeBineFbo(nullptr, nullptr, fbo);
    drawPicture(w, h);
    bindFramebuffer(3, other);
    nativeReadPixels(nullptr, nullptr, w, h, fbo);
    EXPECT_EQ(1, g_es3Checked);
    EXPECT_EQ(1, g_isOpenglES3);
    EXPECT_EQ(w * h * 2, g_pboSize);
    EXPECT_EQ(1, logLinesContaining("g_isOpenglES3: 1"));
    EXPECT_EQ(other, framebufferBinding(3));  // the saved binding is back
    GLint pack = -1;
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack);
    EXPECT_EQ(0, pack);

    Frame frame(w * h * 2);
    captureFrameByfboInto(fbo, false, frame.target());
    std::string first;
    EXPECT_EQ(0, countMismatches(frame.pixels(), w, h, false, &first)) << first;
    deleteScreenFbo(3, other);
}

TEST_F(Gles3Capture, TheFirstReadFixesThePixelPackBufferSize) {
    jint small = pictureFbo(640, 360);
    nativeReadPixels(nullptr, nullptr, 640, 360, small);
    ASSERT_EQ(640 * 360 * 2, g_pboSize);
    jint large = pictureFbo(1280, 720);
    nativeReadPixels(nullptr, nullptr, 1280, 720, large);
    EXPECT_EQ(640 * 360 * 2, g_pboSize);

    Frame frame(1280 * 720 * 2);
    captureFrameByfboInto(large, false, frame.target());
    // Only the first size is copied; it holds the first read's picture.
    EXPECT_EQ(0, countMismatches(frame.pixels(), 640, 360));
    for (size_t i = 640 * 360 * 2; i < frame.bytes.size(); ++i) ASSERT_EQ(0xA5, frame.bytes[i]) << i;
}

TEST_F(Gles3Capture, CaptureWritesNothingIntoABufferSmallerThanThePixelPackBuffer) {
    const int w = 32, h = 32;
    jint fbo = pictureFbo(w, h);
    nativeReadPixels(nullptr, nullptr, w, h, fbo);
    Frame small(w * h * 2, w * h * 2 - 2);
    captureFrameByfboInto(fbo, false, small.target());
    EXPECT_TRUE(small.untouched());
    EXPECT_EQ(1, logLinesContaining("buffer too small"));
    GLint pack = -1;
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack);
    EXPECT_EQ(0, pack);
}

TEST_F(Gles3Capture, AFailedAttachmentIsRetriedWithTheSameBufferAndImage) {
    const int w = 32, h = 32;
    // An immutable texture refuses an EGLImage.
    GLuint immutable = 0;
    glGenTextures(1, &immutable);
    glBindTexture(GL_TEXTURE_2D, immutable);
    glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGB565, w, h);
    nativeInitCapturer(nullptr, nullptr, w, h, immutable, false);
    EXPECT_EQ(0, g_capturerReady);
    EXPECT_EQ(1, logLinesContaining("glEGLImageTargetTexture2DOES failed glGetError(1282)"));
    android::GraphicBuffer* buffer = g_graphicBuffer.get();
    EGLImageKHR image = g_eglImage;
    ASSERT_NE(nullptr, buffer);
    ASSERT_NE(EGL_NO_IMAGE_KHR, image);

    host::logClear();
    jint fbo = nativePrepareFbo(nullptr, nullptr, w, h, 1, 1);
    host::logClear();
    captureFrameByfboInto(fbo, false, DirectBuffer{nullptr, 0});
    EXPECT_EQ(1, g_capturerReady);
    EXPECT_EQ(buffer, g_graphicBuffer.get());
    EXPECT_EQ(image, g_eglImage);
    auto lines = host::logSnapshot();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("width(32) height(32)", lines[0].msg);
    EXPECT_EQ(0, logLinesContaining("writeLock:"));
    glDeleteTextures(1, &immutable);
}

}  // namespace
