// Test helpers: a headless Mesa GL context (EGL_PLATFORM=surfaceless), a
// framebuffer that stands in for the screen, and the known test picture.
#ifndef QOR_TESTS_CAPTURE_HEADLESS_GL_H
#define QOR_TESTS_CAPTURE_HEADLESS_GL_H

#include <stdint.h>

#include <string>
#include <vector>

#include <EGL/egl.h>

namespace qor {
namespace test {

class HeadlessGl {
public:
    ~HeadlessGl();
    // Makes a GLES context of `clientVersion` (1, 2 or 3) current; with
    // `surfaces`, on two pbuffers (draw and read) instead of none.
    bool create(int clientVersion, bool surfaces = false);
    void destroy();
    // Makes this context current again (after another one was).
    bool makeCurrent();
    EGLContext context() const { return mContext; }
    int clientVersion() const { return mVersion; }
    EGLDisplay display() const { return mDisplay; }
    EGLSurface drawSurface() const { return mDraw; }
    EGLSurface readSurface() const { return mRead; }
    std::string version() const;

    // Entry points of Mesa's libEGL, taken from the library itself.
    static void* eglFunction(const char* name);
    static void* procAddress(const char* name);

private:
    int mVersion = 0;
    EGLDisplay mDisplay = EGL_NO_DISPLAY;
    EGLContext mContext = EGL_NO_CONTEXT;
    EGLSurface mDraw = EGL_NO_SURFACE;
    EGLSurface mRead = EGL_NO_SURFACE;
};

// Framebuffer calls that work on GLES 1 (OES forms) and GLES 2/3.
uint32_t framebufferBinding(int clientVersion);
void bindFramebuffer(int clientVersion, uint32_t fbo);
// An RGBA8 framebuffer of w x h standing in for the screen; left bound.
uint32_t makeScreenFbo(int clientVersion, int w, int h);
void deleteScreenFbo(int clientVersion, uint32_t fbo);

// The picture: bottom-left quadrant red, bottom-right green, top-left blue,
// top-right a gradient; (x, y) in GL window coordinates (y up).
uint16_t pictureTexel(int x, int y, int w, int h);
// Draws the picture into the bound framebuffer with scissored clears.
void drawPicture(int w, int h);
// Reads the bound framebuffer as RGBA8 and converts it to RGB565, bottom row
// first.
std::vector<uint16_t> readFramebuffer565(int w, int h);
// Largest difference of one 565 channel between two pixels.
int channelStep(uint16_t a, uint16_t b);
// Pixels of `frame` (bottom row first) more than one step away from the
// picture; `transposed` compares pixel (x, y) with texel (y, x).
int countMismatches(const uint16_t* frame, int w, int h, bool transposed = false,
                    std::string* first = nullptr);

}  // namespace test
}  // namespace qor

#endif  // QOR_TESTS_CAPTURE_HEADLESS_GL_H
