// Without "LIBEGL" the shims open "libEGL.so": Mesa's, which exports no
// eglCreateImageKHR, so the capturer never becomes ready and copies nothing.
#include <gtest/gtest.h>

#include <GLES2/gl2.h>

#include "capture_test_support.h"
#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_gles.h"

using namespace qor::test;

TEST(PlainMesaEgl, TheImageCannotBeMadeAndNothingIsCopied) {
    ASSERT_EQ(nullptr, getenv("LIBEGL"));
    HeadlessGl gl;
    ASSERT_TRUE(gl.create(2));
    jint fbo = nativePrepareFbo(nullptr, nullptr, 32, 32, 1, 1);
    ASSERT_GT(fbo, 0);
    host::logClear();
    Frame frame(32 * 32 * 2);
    captureFrameByfboInto(fbo, false, frame.target());
    captureFrameByfboInto(fbo, false, frame.target());
    EXPECT_EQ(0, g_capturerReady);
    EXPECT_TRUE(frame.untouched());
    // Each try starts again; the buffer made by the first is reused.
    EXPECT_EQ(2, logLinesContaining("eglCreateImageKHR failed: "));
    EXPECT_EQ(1, logLinesContaining("writeLock: false"));
    EXPECT_EQ(2, logLinesContaining("getNativeBuffer successful"));
    // The shims still reach Mesa.
    EXPECT_EQ(EGL_SUCCESS, eglGetError());
    EXPECT_NE(EGL_NO_DISPLAY, eglGetCurrentDisplay());
    nativeStopCapturer(nullptr, nullptr);
    nativeDeleteAllFbo(nullptr, nullptr);
}
