// The GLES 2 redirection capture and the GraphicBuffer read-back, on a Mesa
// context that reports "OpenGL ES 2.0" (no pixel-pack path).
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <GLES2/gl2.h>

#include "capture_test_support.h"
#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_gles.h"

using namespace qor::test;

namespace {

const int kW = 64, kH = 48;

class Gles2Capture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sGl = new HeadlessGl();
        ASSERT_TRUE(sGl->create(2, true));
        ASSERT_EQ(0u, sGl->version().find("OpenGL ES 2.0")) << sGl->version();
    }
    static void TearDownTestSuite() {
        delete sGl;
        sGl = nullptr;
    }
    void SetUp() override {
        mScreen = makeScreenFbo(2, kW, kH);
        host::logClear();
    }
    void TearDown() override {
        nativeStopCapturer(nullptr, nullptr);
        g_rebindRequested = 0;
        nativeDeleteAllFbo(nullptr, nullptr);
        bindFramebuffer(2, 0);
        deleteScreenFbo(2, mScreen);
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    }
    // An FBO of the capture library holding the test picture. With
    // `capturer`, the GraphicBuffer is attached first: attaching respecifies
    // the texture with the buffer's (fresh) content, as on a phone.
    jint pictureFbo(int w = kW, int h = kH, float ratioA = 1.0f, float ratioB = 1.0f,
                    int capturer = -1) {
        jint fbo = nativePrepareFbo(nullptr, nullptr, w, h, ratioA, ratioB);
        EXPECT_GT(fbo, 0);
        if (capturer >= 0) {
            nativeInitCapturer(nullptr, nullptr, w, h, g_fboMap[fbo]->m_texture, capturer);
            EXPECT_EQ(1, g_capturerReady);
        }
        nativeBineFbo(nullptr, nullptr, fbo);
        glViewport(0, 0, w, h);
        drawPicture(w, h);
        return fbo;
    }

    static HeadlessGl* sGl;
    GLuint mScreen = 0;
};
HeadlessGl* Gles2Capture::sGl = nullptr;

// --- the copy's matrix -----------------------------------------------------

struct MvpCase {
    float ratioA, ratioB;
    float e0, e14, e15;
};

class MvpMatrix : public ::testing::TestWithParam<MvpCase> {};

TEST_P(MvpMatrix, MatchesTheFrustumAndEyeDistance) {
    const MvpCase& c = GetParam();
    float m[16];
    computeMvp(c.ratioA, c.ratioB, m);
    EXPECT_NEAR(c.e0, m[0], 2e-6);
    EXPECT_NEAR(2.4142134f, m[5], 2e-6);
    EXPECT_NEAR(-1.002002f, m[10], 2e-6);
    EXPECT_FLOAT_EQ(-1.0f, m[11]);
    EXPECT_NEAR(c.e14, m[14], 4e-6);
    EXPECT_NEAR(c.e15, m[15], 2e-6);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13}) EXPECT_EQ(0.0f, m[i]) << "element " << i;
    // A quad corner lands at (x, y * ratioB / ratioA) in device coordinates.
    float clipY = m[5] * 1.0f, clipW = m[15];
    EXPECT_NEAR(c.ratioB / c.ratioA, clipY / clipW, 1e-5);
    EXPECT_NEAR(1.0f, m[0] / clipW, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, MvpMatrix,
                         ::testing::Values(MvpCase{1, 1, 2.414213f, 2.218847f, 2.414214f},
                                           MvpCase{1, 2, 1.207107f, 1.002002f * 1.207107f - 0.2002002f, 1.207107f},
                                           MvpCase{2, 1, 4.828427f, 1.002002f * 4.828427f - 0.2002002f, 4.828427f},
                                           MvpCase{16, 9, 4.291935f, 1.002002f * 4.291935f - 0.2002002f, 4.291935f}));

// --- making, finding and deleting FBOs ------------------------------------

TEST_F(Gles2Capture, PrepareRefusesSizesNotBelowTheRenderbufferMaximum) {
    GLint max = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &max);
    struct {
        int w, h;
        bool ok;
    } cases[] = {{max, 16, false}, {16, max, false}, {max + 1, 16, false}, {max - 1, 4, true}};
    for (const auto& c : cases) {
        jint fbo = nativePrepareFbo(nullptr, nullptr, c.w, c.h, 1, 1);
        EXPECT_EQ(c.ok, fbo > 0) << c.w << "x" << c.h;
        if (fbo > 0) nativeDeleteFbo(nullptr, nullptr, fbo);
    }
    EXPECT_TRUE(g_fboMap.empty());
}

TEST_F(Gles2Capture, PrepareRecordsTheScreenAndRestoresBindings) {
    GLuint rbo = 0;
    glGenRenderbuffers(1, &rbo);
    glBindRenderbuffer(GL_RENDERBUFFER, rbo);
    glActiveTexture(GL_TEXTURE3);
    jint first = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
    EXPECT_EQ(mScreen, g_screenfbo);
    EXPECT_EQ(rbo, g_screenrbo);
    EXPECT_EQ(mScreen, framebufferBinding(2));
    GLint active = 0, boundRbo = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &boundRbo);
    EXPECT_EQ(GL_TEXTURE3, active);
    EXPECT_EQ((GLint)rbo, boundRbo);
    EXPECT_EQ(1, logLinesContaining(" nativePrepareFbo fboInfo->m_fbo ======" + std::to_string(first)));
    EXPECT_TRUE(logHasTagOf(" nativePrepareFbo g_screenfbo ======",
                            "<LumoKAST_native> jni/lumokast/lumokast_gles.cpp: nativePrepareFbo("));

    // A second call records whatever is bound then: here the first FBO.
    nativeBineFbo(nullptr, nullptr, first);
    jint second = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
    EXPECT_EQ((GLuint)first, g_screenfbo);
    EXPECT_NE(first, second);
    EXPECT_EQ(nativeGetTextureByFbo(nullptr, nullptr, second), (jint)g_fboMap[second]->m_texture);
    glActiveTexture(GL_TEXTURE0);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glDeleteRenderbuffers(1, &rbo);
}

TEST_F(Gles2Capture, UnregisteredNamesChangeNothing) {
    jint fbo = pictureFbo();
    bindFramebuffer(2, mScreen);
    const jint unknown = fbo + 100;
    EXPECT_EQ(-1, nativeGetTextureByFbo(nullptr, nullptr, unknown));
    nativeBineFbo(nullptr, nullptr, unknown);
    nativeUnbineFbo(nullptr, nullptr, unknown, fbo);
    nativeDrawTexture(nullptr, nullptr, unknown, 1);
    EXPECT_EQ(mScreen, framebufferBinding(2));
    Frame frame(kW * kH * 2);
    captureFrameByfboInto(unknown, false, frame.target());
    EXPECT_TRUE(frame.untouched());
    EXPECT_EQ(0, g_capturerReady);
    nativeDeleteFbo(nullptr, nullptr, unknown);
    EXPECT_EQ(1u, g_fboMap.size());
}

TEST_F(Gles2Capture, DeleteAllRemovesEveryRecordAndItsGlObjects) {
    nativeDeleteAllFbo(nullptr, nullptr);  // empty map: nothing happens
    std::vector<sfboInfo> records;
    for (int i = 0; i < 3; ++i) {
        jint fbo = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
        records.push_back(*g_fboMap[fbo]);
    }
    nativeDeleteAllFbo(nullptr, nullptr);
    EXPECT_TRUE(g_fboMap.empty());
    for (const sfboInfo& r : records) {
        EXPECT_FALSE(glIsFramebuffer(r.m_fbo));
        EXPECT_FALSE(glIsTexture(r.m_texture));
        EXPECT_FALSE(glIsRenderbuffer(r.m_rbo));
        EXPECT_EQ(-1, nativeGetTextureByFbo(nullptr, nullptr, r.m_fbo));
    }
}

// --- the copy back to the screen ------------------------------------------

TEST_F(Gles2Capture, UnbineCopiesThePictureUnflippedOntoTheScreen) {
    jint fbo = pictureFbo();
    nativeUnbineFbo(nullptr, nullptr, fbo, mScreen);
    EXPECT_EQ(mScreen, framebufferBinding(2));
    std::vector<uint16_t> screen = readFramebuffer565(kW, kH);
    std::string first;
    EXPECT_EQ(0, countMismatches(screen.data(), kW, kH, false, &first)) << first;
    EXPECT_NE(0u, g_fboMap[fbo]->m_program);
}

TEST_F(Gles2Capture, UnbineWithARatioBelowOneLetterboxesThePicture) {
    // ratioB / ratioA = 1/2: the picture fills the width and the middle half
    // of the height.
    jint fbo = pictureFbo(kW, kH, 2.0f, 1.0f);
    nativeUnbineFbo(nullptr, nullptr, fbo, mScreen);
    std::vector<uint16_t> screen = readFramebuffer565(kW, kH);
    EXPECT_EQ(0, screen[2 * kW + 2]);                        // bottom band: cleared
    EXPECT_EQ(0, screen[(kH - 3) * kW + kW - 3]);            // top band: cleared
    EXPECT_LE(channelStep(pictureTexel(0, 0, kW, kH), screen[(kH / 4 + 2) * kW + 2]), 1);
    EXPECT_LE(channelStep(pictureTexel(0, kH - 1, kW, kH), screen[(3 * kH / 4 - 3) * kW + 2]), 1);
}

TEST_F(Gles2Capture, UnbineIntoAnotherRecordDrawsThereAndRebindsTheScreen) {
    jint target = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
    jint fbo = pictureFbo();
    nativeUnbineFbo(nullptr, nullptr, fbo, target);
    EXPECT_EQ(mScreen, framebufferBinding(2));
    nativeBineFbo(nullptr, nullptr, target);
    std::vector<uint16_t> copied = readFramebuffer565(kW, kH);
    EXPECT_EQ(0, countMismatches(copied.data(), kW, kH));
}

TEST_F(Gles2Capture, UnbineIntoAnUnknownTargetBindsItAndDrawsNothing) {
    GLuint other = makeScreenFbo(2, kW, kH);
    glClearColor(0, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    bindFramebuffer(2, mScreen);
    jint fbo = pictureFbo();
    nativeUnbineFbo(nullptr, nullptr, fbo, other);
    EXPECT_EQ(other, framebufferBinding(2));
    std::vector<uint16_t> pixels = readFramebuffer565(kW, kH);
    for (uint16_t p : pixels) ASSERT_EQ(0x07FF, p);
    deleteScreenFbo(2, other);
}

TEST_F(Gles2Capture, DrawTextureCopiesAnyTextureIntoARecord) {
    std::vector<uint16_t> picture(kW * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) picture[y * kW + x] = pictureTexel(x, y, kW, kH);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, kW, kH, 0, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, picture.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    jint fbo = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
    nativeDrawTexture(nullptr, nullptr, fbo, texture);
    EXPECT_EQ(mScreen, framebufferBinding(2));
    nativeBineFbo(nullptr, nullptr, fbo);
    std::vector<uint16_t> copied = readFramebuffer565(kW, kH);
    EXPECT_EQ(0, countMismatches(copied.data(), kW, kH));
    glDeleteTextures(1, &texture);
}

// --- the GraphicBuffer read-back ------------------------------------------

class Gles2GraphicBufferCapture : public Gles2Capture, public ::testing::WithParamInterface<bool> {};

TEST_P(Gles2GraphicBufferCapture, CopiesTheFboPictureBottomRowFirst) {
    const bool writeLock = GetParam();
    jint fbo = pictureFbo(kW, kH, 1, 1, writeLock);
    nativeUnbineFbo(nullptr, nullptr, fbo, mScreen);
    Frame frame(kW * kH * 2);
    captureFrameByfboInto(fbo, writeLock, frame.target());
    ASSERT_EQ(1, g_capturerReady);
    // Rendered into, textured from, read by the CPU (written too with writeLock).
    EXPECT_EQ(writeLock ? 0x333u : 0x303u, g_graphicBuffer->getUsage());
    std::string first;
    EXPECT_EQ(0, countMismatches(frame.pixels(), kW, kH, false, &first)) << first;
    EXPECT_EQ(1, logLinesContaining(writeLock ? "writeLock: true" : "writeLock: false"));

    // The next frame lands in the same buffer.
    nativeBineFbo(nullptr, nullptr, fbo);
    glClearColor(1, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    nativeUnbineFbo(nullptr, nullptr, fbo, mScreen);
    Frame next(kW * kH * 2);
    captureFrameByfboInto(fbo, writeLock, next.target());
    for (int i = 0; i < kW * kH; ++i) ASSERT_EQ(0xFFE0, next.pixels()[i]) << i;
    EXPECT_EQ(1, logLinesContaining("create GraphicBuffer successful"));
}

INSTANTIATE_TEST_SUITE_P(LockUsage, Gles2GraphicBufferCapture, ::testing::Bool());

TEST_F(Gles2Capture, CaptureWritesNothingIntoSmallOrMissingBuffers) {
    jint fbo = pictureFbo(kW, kH, 1, 1, false);
    Frame small(kW * kH * 2, kW * kH * 2 - 1);
    captureFrameByfboInto(fbo, false, small.target());
    EXPECT_EQ(1, g_capturerReady);
    EXPECT_TRUE(small.untouched());
    EXPECT_EQ(1, logLinesContaining("buffer too small"));
    captureFrameByfboInto(fbo, false, DirectBuffer{nullptr, 0});
    // Nothing was left locked: a full capture still works.
    Frame full(kW * kH * 2);
    captureFrameByfboInto(fbo, false, full.target());
    EXPECT_EQ(0, countMismatches(full.pixels(), kW, kH));
}

TEST_F(Gles2Capture, CaptureLargerThanTheBufferCopiesNothing) {
    jint fbo = pictureFbo();
    nativeInitCapturer(nullptr, nullptr, kW, kH, g_fboMap[fbo]->m_texture, false);
    Frame frame(kW * kH * 4);
    captureFrameInto(kW, kH * 2, g_fboMap[fbo]->m_texture, false, frame.target());
    EXPECT_TRUE(frame.untouched());
}

// --- capturer lifecycle -----------------------------------------------------

TEST_F(Gles2Capture, InitTwiceLogsOnlyOnce) {
    jint fbo = pictureFbo();
    GLuint texture = g_fboMap[fbo]->m_texture;
    host::logClear();
    nativeInitCapturer(nullptr, nullptr, kW, kH, texture, false);
    ASSERT_EQ(1, g_capturerReady);
    const char* expected[] = {"width(64) height(48)", "writeLock: false", "create GraphicBuffer successful",
                              "getNativeBuffer successful", "eglCreateImageKHR successful image 0x",
                              "glBindTexture successful image err(0)"};
    auto lines = host::logSnapshot();
    ASSERT_EQ(6u, lines.size());
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(0u, lines[i].msg.find(expected[i])) << lines[i].msg;
        EXPECT_EQ(ANDROID_LOG_DEBUG, lines[i].prio);
        EXPECT_EQ(0u, lines[i].tag.find("<LumoKAST_native> jni/lumokast/lumokast_egl.cpp: nativeInitCapturer("))
            << lines[i].tag;
    }
    host::logClear();
    nativeInitCapturer(nullptr, nullptr, kW, kH, texture, false);
    EXPECT_TRUE(host::logSnapshot().empty());
}

TEST_F(Gles2Capture, StopWithoutInitLogsAndLeavesEverythingCleared) {
    nativeStopCapturer(nullptr, nullptr);
    EXPECT_EQ(1, logLinesContaining("eglDestroyImageKHR successful"));
    EXPECT_EQ(0, g_capturerReady);
    EXPECT_EQ(nullptr, g_graphicBuffer.get());
    EXPECT_EQ(EGL_NO_IMAGE_KHR, g_eglImage);
}

TEST_F(Gles2Capture, StopReleasesTheImageAndANewInitMakesAFreshBuffer) {
    jint fbo = pictureFbo();
    captureFrameByfboInto(fbo, false, DirectBuffer{nullptr, 0});
    ASSERT_EQ(1, g_capturerReady);
    nativeStopCapturer(nullptr, nullptr);
    EXPECT_EQ(EGL_NO_IMAGE_KHR, g_eglImage);
    EXPECT_EQ(nullptr, g_graphicBuffer.get());
    // The texture keeps the last picture; a new capture brings it back.
    host::logClear();
    Frame frame(kW * kH * 2);
    captureFrameByfboInto(fbo, true, frame.target());
    EXPECT_EQ(1, logLinesContaining("writeLock: true"));
    EXPECT_EQ(1, g_capturerReady);
}

TEST_F(Gles2Capture, RebindAppliesOnlyOnceReadyAndOutlivesStop) {
    nativeReBindGraphicBuffer(nullptr, nullptr);
    EXPECT_EQ(0, g_rebindRequested);
    jint fbo = pictureFbo();
    GLuint texture = g_fboMap[fbo]->m_texture;
    nativeInitCapturer(nullptr, nullptr, kW, kH, texture, false);
    nativeReBindGraphicBuffer(nullptr, nullptr);
    EXPECT_EQ(1, g_rebindRequested);
    nativeStopCapturer(nullptr, nullptr);
    EXPECT_EQ(1, g_rebindRequested);

    // With the flag set, every capture re-attaches the image to the texture
    // it is given: a second FBO's texture then shares the buffer.
    nativeInitCapturer(nullptr, nullptr, kW, kH, texture, false);
    jint other = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
    GLuint otherTexture = g_fboMap[other]->m_texture;
    captureFrameInto(kW, kH, otherTexture, false, DirectBuffer{nullptr, 0});
    nativeBineFbo(nullptr, nullptr, other);
    drawPicture(kW, kH);
    Frame frame(kW * kH * 2);
    captureFrameInto(kW, kH, otherTexture, false, frame.target());
    EXPECT_EQ(0, countMismatches(frame.pixels(), kW, kH));
}

TEST_F(Gles2Capture, SwapBuffersAlternatesDrawAndReadSurfaces) {
    eglGetError();  // the shims open "LIBEGL"
    auto take = reinterpret_cast<std::vector<EGLSurface> (*)()>(
        dlsym(dlopen(getenv("LIBEGL"), RTLD_NOW | RTLD_NOLOAD), "recordingEglTakeSwaps"));
    ASSERT_NE(nullptr, take);
    take();
    auto mesaError = reinterpret_cast<PFNEGLGETERRORPROC>(HeadlessGl::eglFunction("eglGetError"));
    EXPECT_EQ(EGL_TRUE, nativeSwapBuffers());
    // Mesa swaps only the current draw surface; the read pbuffer differs
    // from it here, so that swap is refused.
    EXPECT_EQ(EGL_FALSE, nativeSwapBuffers());
    EXPECT_EQ(EGL_BAD_SURFACE, mesaError());
    EXPECT_EQ(EGL_TRUE, nativeSwapBuffers());
    std::vector<EGLSurface> swapped = take();
    ASSERT_EQ(3u, swapped.size());
    EXPECT_EQ(sGl->drawSurface(), swapped[0]);
    EXPECT_EQ(sGl->readSurface(), swapped[1]);
    EXPECT_EQ(sGl->drawSurface(), swapped[2]);
    EXPECT_EQ(1, g_swapToggle);
}

TEST_F(Gles2Capture, NoPixelPackPathOnAVersion2Context) {
    jint fbo = pictureFbo();
    nativeReadPixels(nullptr, nullptr, kW, kH, fbo);
    EXPECT_EQ((GLuint)fbo, framebufferBinding(2));
    EXPECT_EQ(1, g_es3Checked);
    EXPECT_EQ(0, g_isOpenglES3);
    EXPECT_EQ(0u, g_pbo);
    EXPECT_EQ(1, logLinesContaining("g_isOpenglES3: 0"));
    // captureFrameByfbo takes the GraphicBuffer path: the first call
    // attaches the buffer, the next frame is captured.
    captureFrameByfboInto(fbo, false, DirectBuffer{nullptr, 0});
    EXPECT_EQ(1, g_capturerReady);
    drawPicture(kW, kH);
    Frame frame(kW * kH * 2);
    captureFrameByfboInto(fbo, false, frame.target());
    EXPECT_EQ(0, countMismatches(frame.pixels(), kW, kH));
}

}  // namespace
